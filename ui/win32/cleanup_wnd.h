// The Win32 window half of the main dialog: template 102, its controls, the icons and image
// list, the columns, the minimised drawing. It supplies the controller's view operations with
// the controls and routes the dialog's messages to the controller's handlers. UI thread only,
// except PostStatusWake.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ui/cleanup_dlg.h"
#include "ui/dialog_template.h"
#include "ui/win32/controls.h"
#include "ui/win32/modal_dialog.h"

namespace clearnook::win32 {

// Posted to the dialog when the walk has left status text in the mailbox.
inline constexpr UINT WM_STATUS_WAKE = WM_APP + 1;

// Column widths of the result list, in pixels: the name, then the size (right-aligned).
using dialog_template::kNameColumnWidth;
using dialog_template::kSizeColumnWidth;

class CCleanupWnd final : public CModalDialog<CCleanupWnd>,
                          private CleanupView,
                          private DriveBox,
                          private ResultListView {
  public:
    // Loads the icons of `hInstance` and builds the image list. `drives` gives the drive box's
    // entries at start (the window tests scan a folder of their own).
    explicit CCleanupWnd(
        HINSTANCE hInstance, DriveSource drives = [] { return ListDriveEntries(); });
    ~CCleanupWnd() override;

    static std::span<const MessageEntry<CCleanupWnd>> MessageTable();

    // The category icons' image list (6 images, in category order).
    [[nodiscard]] const CImageList& ImageList() const { return m_imageList; }

  private:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    INT_PTR OnPaint(WPARAM, LPARAM);
    INT_PTR OnQueryDragIcon(WPARAM, LPARAM);
    INT_PTR OnTimer(WPARAM, LPARAM);
    INT_PTR OnResultClick(WPARAM, LPARAM);
    INT_PTR OnDeleteSelected(WPARAM, LPARAM);
    INT_PTR OnAbout(WPARAM, LPARAM);
    INT_PTR OnStatusWake(WPARAM, LPARAM);

    // Enables or disables `control`, moving the focus on first when it has it.
    void Enable(const CWndItem& control, bool enable);

    // CleanupView
    void EnableDriveBox(bool enable) override;
    void EnableScanButton(bool enable) override;
    void EnableDeleteButton(bool enable) override;
    void SetScanButtonText(std::string_view text) override;
    void SetStatusText(std::string_view text) override;
    void SetDescriptionText(std::string_view text) override;
    DriveBox& DriveCombo() override;
    ResultListView& ResultList() override;
    void EnableCheckboxes() override;
    std::optional<int> FirstSelectedRow() override;
    int RowCount() override;
    bool IsRowTicked(int row) override;
    int RowItemData(int row) override;
    void StartTimer(int id, unsigned periodMs) override;
    void StopTimer(int id) override;
    void StartWorker(const ScanParams& params) override;
    bool AskYesNo(std::string_view text, std::string_view caption) override;
    void ShowInformation(std::string_view text, std::optional<std::string_view> caption) override;
    void EndDialog(DialogResult result) override;
    void PostStatusWake() override;

    // DriveBox
    void AddDriveText(std::string_view text) override;
    void SelectDriveEntry(int index) override;
    std::optional<int> SelectedDriveIndex() override;

    // ResultListView
    void DeleteAllItems() override;
    void InsertItem(int row, std::string_view text, int image) override;
    void SetItemText(int row, int column, std::string_view text) override;
    void SetItemData(int row, int data) override;

    CListCtrl m_listResults;      // 1002
    CButton m_btnDelete;          // 1004
    CStatic m_staticDescription;  // 1003
    CStatic m_staticStatus;       // 1001
    CButton m_btnScan;            // IDOK
    CComboBox m_comboDrive;       // 1000
    HICON m_hIcon = nullptr;      // icon 128: window, minimised drawing, drag icon
    CImageList m_imageList;       // icons 129 to 134
    DriveSource m_drives;         // asked once, at OnInitDialog
    std::unique_ptr<CCleanupDlg> m_pController;
    // The window the wake is posted to, written on the UI thread before any walk can start.
    HWND m_hWndWake = nullptr;
};

// The application's name as message boxes show it by default: the executable's base name,
// without directory and extension.
[[nodiscard]] std::string ApplicationName();

}  // namespace clearnook::win32
