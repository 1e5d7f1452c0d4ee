// Thin wrappers over the dialog's controls: each holds the control's window, bound once to a
// dialog item, and sends it the messages by name. They own no window. UI thread only.
#pragma once

#include <string>
#include <string_view>

#include "ui/win32/win32_headers.h"

namespace clearnook::win32 {

// Any control of a dialog.
class CWndItem {
  public:
    // Binds to the item `id` of `hDialog`. False when there is no such item.
    bool Bind(HWND hDialog, int id) {
        m_hWnd = GetDlgItem(hDialog, id);
        return m_hWnd != nullptr;
    }
    [[nodiscard]] HWND GetSafeHwnd() const { return m_hWnd; }
    void EnableWindow(bool enable) const { ::EnableWindow(m_hWnd, enable ? TRUE : FALSE); }
    // Sets the text; returns once the control holds it.
    void SetWindowText(std::string_view text) const {
        const std::string s(text);
        ::SetWindowTextA(m_hWnd, s.c_str());
    }
    [[nodiscard]] std::string GetWindowText() const {
        std::string s(static_cast<std::size_t>(GetWindowTextLengthA(m_hWnd)) + 1, '\0');
        s.resize(static_cast<std::size_t>(
            ::GetWindowTextA(m_hWnd, s.data(), static_cast<int>(s.size()))));
        return s;
    }

  protected:
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return SendMessageA(m_hWnd, message, wParam, lParam);
    }

    HWND m_hWnd = nullptr;
};

class CButton : public CWndItem {};
class CStatic : public CWndItem {};

// A drop-down list.
class CComboBox : public CWndItem {
  public:
    // Appends `text` (the box is not sorted); returns its index.
    int AddString(const std::string& text) const {
        return static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
    }
    void SetCurSel(int index) const { Send(CB_SETCURSEL, static_cast<WPARAM>(index)); }
    // The selected index, or CB_ERR (-1) when none is selected.
    [[nodiscard]] int GetCurSel() const { return static_cast<int>(Send(CB_GETCURSEL)); }
    [[nodiscard]] int GetCount() const { return static_cast<int>(Send(CB_GETCOUNT)); }
    [[nodiscard]] std::string GetLBText(int index) const {
        const auto len = Send(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
        if (len < 0) {
            return {};
        }
        std::string s(static_cast<std::size_t>(len) + 1, '\0');
        Send(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(s.data()));
        s.resize(static_cast<std::size_t>(len));
        return s;
    }
};

// An image list of icons. Owns the list and destroys it.
class CImageList {
  public:
    CImageList() = default;
    ~CImageList() {
        if (m_hImageList != nullptr) {
            ImageList_Destroy(m_hImageList);
        }
    }
    CImageList(const CImageList&) = delete;
    CImageList& operator=(const CImageList&) = delete;

    bool Create(int cx, int cy, UINT flags, int initial, int grow) {
        m_hImageList = ImageList_Create(cx, cy, flags, initial, grow);
        return m_hImageList != nullptr;
    }
    // Appends the icon (index -1); returns its position, or -1.
    int Add(HICON hIcon) const { return ImageList_ReplaceIcon(m_hImageList, -1, hIcon); }
    [[nodiscard]] int GetImageCount() const { return ImageList_GetImageCount(m_hImageList); }
    [[nodiscard]] HIMAGELIST GetSafeHandle() const { return m_hImageList; }

  private:
    HIMAGELIST m_hImageList = nullptr;
};

// A list view in report mode.
class CListCtrl : public CWndItem {
  public:
    void SetImageList(const CImageList& list, int which) const {
        Send(LVM_SETIMAGELIST, static_cast<WPARAM>(which),
             reinterpret_cast<LPARAM>(list.GetSafeHandle()));
    }
    // Takes image list `which` back from the list view, which would otherwise destroy it with
    // itself (the template does not share image lists).
    void ReleaseImageList(int which) const {
        Send(LVM_SETIMAGELIST, static_cast<WPARAM>(which), 0);
    }
    int InsertColumn(int column, int format, int width, int subItem) const {
        LVCOLUMNA col{};
        col.mask = LVCF_FMT | LVCF_WIDTH | LVCF_SUBITEM;
        col.fmt = format;
        col.cx = width;
        col.iSubItem = subItem;
        return static_cast<int>(
            Send(LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&col)));
    }
    void DeleteAllItems() const { Send(LVM_DELETEALLITEMS); }
    // Inserts an item with text and image at `row`; returns its index, or -1.
    int InsertItem(int row, std::string_view text, int image) const {
        std::string s(text);
        LVITEMA item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE;
        item.iItem = row;
        item.pszText = s.data();
        item.iImage = image;
        return static_cast<int>(Send(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    }
    void SetItemText(int row, int subItem, std::string_view text) const {
        std::string s(text);
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.iSubItem = subItem;
        item.pszText = s.data();
        Send(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    void SetItemData(int row, LPARAM data) const {
        LVITEMA item{};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        item.lParam = data;
        Send(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    [[nodiscard]] LPARAM GetItemData(int row) const {
        LVITEMA item{};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        Send(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        return item.lParam;
    }
    [[nodiscard]] std::string GetItemText(int row, int subItem) const {
        char buf[256] = {};
        LVITEMA item{};
        item.iSubItem = subItem;
        item.pszText = buf;
        item.cchTextMax = sizeof buf;
        Send(LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return buf;
    }
    [[nodiscard]] int GetItemCount() const { return static_cast<int>(Send(LVM_GETITEMCOUNT)); }
    // The next item after `start` (-1: from the top) with the state `flags`; -1 when none.
    [[nodiscard]] int GetNextItem(int start, UINT flags) const {
        return static_cast<int>(
            Send(LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
    }
    // The checkbox of `row`: the state image 2 is the ticked box.
    [[nodiscard]] bool GetCheck(int row) const {
        const auto state = static_cast<UINT>(
            Send(LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_STATEIMAGEMASK));
        return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
    }
    // Sets the extended styles under `mask` to `style`; a mask of 0 means every style bit.
    void SetExtendedStyle(DWORD mask, DWORD style) const {
        Send(LVM_SETEXTENDEDLISTVIEWSTYLE, mask, static_cast<LPARAM>(style));
    }
    [[nodiscard]] DWORD GetExtendedStyle() const {
        return static_cast<DWORD>(Send(LVM_GETEXTENDEDLISTVIEWSTYLE));
    }
};

}  // namespace clearnook::win32
