// A modal dialog built from a dialog template, with a static message table in place of a
// framework's message map. The derived class lists the messages it handles; everything else goes
// to the system's dialog procedure. UI thread only.
#pragma once

#include <span>

#include "ui/win32/win32_headers.h"

namespace clearnook::win32 {

// One entry of a dialog's message table: `message`, and for WM_COMMAND and WM_NOTIFY the control
// `id` and notification `code` it must come with. The handler returns what the dialog procedure
// returns: TRUE when it handled the message.
template <class T>
struct MessageEntry {
    UINT message;
    int id;     // WM_COMMAND, WM_NOTIFY: the control; otherwise unused
    UINT code;  // WM_COMMAND: the notification code; WM_NOTIFY: the NMHDR code
    INT_PTR (T::*handler)(WPARAM wParam, LPARAM lParam);
};

// The base of a modal dialog. T derives from CModalDialog<T> and provides
//   static std::span<const MessageEntry<T>> MessageTable();
// IDOK and IDCANCEL reach the virtual OnOK and OnCancel, which end the dialog unless overridden.
template <class T>
class CModalDialog {
  public:
    CModalDialog(HINSTANCE hInstance, int templateId)
        : m_hInstance(hInstance), m_nTemplate(templateId) {}
    virtual ~CModalDialog() = default;
    CModalDialog(const CModalDialog&) = delete;
    CModalDialog& operator=(const CModalDialog&) = delete;

    // Creates the dialog from its template and runs its modal loop until EndDialog. Returns the
    // result given to EndDialog, or -1 when the dialog could not be created.
    INT_PTR DoModal(HWND hParent = nullptr) {
        return DialogBoxParamA(m_hInstance, MAKEINTRESOURCEA(m_nTemplate), hParent, &DialogProc,
                               reinterpret_cast<LPARAM>(this));
    }

    // The dialog's window; null before WM_INITDIALOG and after the window is gone.
    [[nodiscard]] HWND GetSafeHwnd() const { return m_hWnd; }
    [[nodiscard]] HINSTANCE GetInstance() const { return m_hInstance; }

  protected:
    // After the controls exist, before the dialog shows. TRUE lets the dialog manager give the
    // focus to the first tab stop.
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(m_hWnd, IDOK); }
    virtual void OnCancel() { EndDialog(m_hWnd, IDCANCEL); }

    HWND m_hWnd = nullptr;

  private:
    HINSTANCE m_hInstance;
    int m_nTemplate;

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
        T* self;
        if (message == WM_INITDIALOG) {
            self = static_cast<T*>(reinterpret_cast<CModalDialog*>(lParam));
            SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
            self->m_hWnd = hWnd;
            return static_cast<CModalDialog*>(self)->OnInitDialog();
        }
        self = static_cast<T*>(reinterpret_cast<CModalDialog*>(GetWindowLongPtrA(hWnd, DWLP_USER)));
        if (self == nullptr) {
            return FALSE;
        }
        if (message == WM_NCDESTROY) {
            self->m_hWnd = nullptr;
            return FALSE;
        }
        for (const MessageEntry<T>& entry : T::MessageTable()) {
            if (entry.message != message) {
                continue;
            }
            if (message == WM_COMMAND &&
                (LOWORD(wParam) != entry.id || HIWORD(wParam) != entry.code)) {
                continue;
            }
            if (message == WM_NOTIFY) {
                const auto* header = reinterpret_cast<const NMHDR*>(lParam);
                if (static_cast<int>(header->idFrom) != entry.id || header->code != entry.code) {
                    continue;
                }
            }
            return (self->*entry.handler)(wParam, lParam);
        }
        if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
            if (LOWORD(wParam) == IDOK) {
                static_cast<CModalDialog*>(self)->OnOK();
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                static_cast<CModalDialog*>(self)->OnCancel();
                return TRUE;
            }
        }
        return FALSE;
    }
};

}  // namespace clearnook::win32
