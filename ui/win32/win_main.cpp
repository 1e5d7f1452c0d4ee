// Clearnook.exe: the application object and WinMain.
#include "ui/win32/cleanup_wnd.h"

namespace clearnook::win32 {
namespace {

// The application: runs the main dialog modally as the program's only window. The program ends
// when the dialog does; a walk still running then ends with the process, never waited for.
class CCleanupApp {
  public:
    explicit CCleanupApp(HINSTANCE hInstance) : m_hInstance(hInstance) {}

    // Always FALSE: there is no message loop after the dialog's.
    BOOL InitInstance() {
        INITCOMMONCONTROLSEX icc{};
        icc.dwSize = sizeof icc;
        icc.dwICC = ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES;
        InitCommonControlsEx(&icc);
        CCleanupWnd dlg(m_hInstance);
        dlg.DoModal();
        return FALSE;
    }

  private:
    HINSTANCE m_hInstance;
};

}  // namespace
}  // namespace clearnook::win32

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int) {
    clearnook::win32::CCleanupApp app(hInstance);
    app.InitInstance();
    return 0;
}
