#include "ui/win32/cleanup_wnd.h"

#include <array>

#include "engine/categories.h"
#include "platform/fs_services.h"
#include "res/resource.h"

namespace clearnook::win32 {

std::string ApplicationName() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name(path, n < MAX_PATH ? n : 0);
    // The last separator that is a character of its own, not the second byte of one.
    std::size_t sep = name.find_last_of("\\/:");
    while (sep != std::string::npos && !platform::StartsCharacter(name, sep)) {
        sep = sep == 0 ? std::string::npos : name.find_last_of("\\/:", sep - 1);
    }
    if (sep != std::string::npos) {
        name.erase(0, sep + 1);
    }
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        name.resize(dot);
    }
    return name;
}

CCleanupWnd::CCleanupWnd(HINSTANCE hInstance, DriveSource drives)
    : CModalDialog(hInstance, IDD_CLEANUP_DIALOG), m_drives(std::move(drives)) {
    m_hIcon = LoadIconA(hInstance, MAKEINTRESOURCEA(IDR_MAINFRAME));
    // 16x16, 8-bit colour, no mask; room for the category icons, which never grow.
    m_imageList.Create(16, 16, ILC_COLOR8, CATEGORY_COUNT, 0);
    for (int i = 0; i < CATEGORY_COUNT; ++i) {
        m_imageList.Add(LoadIconA(hInstance, MAKEINTRESOURCEA(dialog_template::CategoryIconId(i))));
    }
    m_pController = std::make_unique<CCleanupDlg>(static_cast<CleanupView&>(*this));
}

CCleanupWnd::~CCleanupWnd() {
    // First the controller: it asks a walk still running to stop and closes the status mailbox,
    // so no wake is posted once the window's members are gone.
    m_pController.reset();
}

std::span<const MessageEntry<CCleanupWnd>> CCleanupWnd::MessageTable() {
    static constexpr MessageEntry<CCleanupWnd> kTable[] = {
        {WM_PAINT, 0, 0, &CCleanupWnd::OnPaint},
        {WM_QUERYDRAGICON, 0, 0, &CCleanupWnd::OnQueryDragIcon},
        {WM_TIMER, 0, 0, &CCleanupWnd::OnTimer},
        {WM_NOTIFY, IDC_RESULTS, static_cast<UINT>(NM_CLICK), &CCleanupWnd::OnResultClick},
        {WM_COMMAND, IDC_DELETE, BN_CLICKED, &CCleanupWnd::OnDeleteSelected},
        {WM_COMMAND, IDC_ABOUT, BN_CLICKED, &CCleanupWnd::OnAbout},
        {WM_STATUS_WAKE, 0, 0, &CCleanupWnd::OnStatusWake},
    };
    return kTable;
}

BOOL CCleanupWnd::OnInitDialog() {
    m_listResults.Bind(m_hWnd, IDC_RESULTS);
    m_btnDelete.Bind(m_hWnd, IDC_DELETE);
    m_staticDescription.Bind(m_hWnd, IDC_DESCRIPTION);
    m_staticStatus.Bind(m_hWnd, IDC_STATUS);
    m_btnScan.Bind(m_hWnd, IDOK);
    m_comboDrive.Bind(m_hWnd, IDC_DRIVE);
    m_hWndWake = m_hWnd;

    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    m_pController->OnInitDialog(m_drives());

    m_listResults.SetImageList(m_imageList, LVSIL_SMALL);
    m_listResults.InsertColumn(0, LVCFMT_LEFT, kNameColumnWidth, 0);
    m_listResults.InsertColumn(1, LVCFMT_RIGHT, kSizeColumnWidth, 1);
    return TRUE;
}

void CCleanupWnd::OnOK() {
    m_pController->OnOK();
}
void CCleanupWnd::OnCancel() {
    m_pController->OnCancel();
}

INT_PTR CCleanupWnd::OnPaint(WPARAM, LPARAM) {
    if (!IsIconic(m_hWnd)) {
        return FALSE;  // the system's dialog procedure paints
    }
    PAINTSTRUCT ps;
    const HDC hdc = BeginPaint(m_hWnd, &ps);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(m_hWnd, &rect);
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    DrawIcon(hdc, x, y, m_hIcon);
    EndPaint(m_hWnd, &ps);
    return TRUE;
}

INT_PTR CCleanupWnd::OnQueryDragIcon(WPARAM, LPARAM) {
    return reinterpret_cast<INT_PTR>(m_hIcon);
}

INT_PTR CCleanupWnd::OnTimer(WPARAM, LPARAM) {
    m_pController->OnTimer();
    return TRUE;
}

INT_PTR CCleanupWnd::OnResultClick(WPARAM, LPARAM) {
    m_pController->OnResultClick();
    SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, 0);
    return TRUE;
}

INT_PTR CCleanupWnd::OnDeleteSelected(WPARAM, LPARAM) {
    m_pController->OnDeleteSelected();
    return TRUE;
}

INT_PTR CCleanupWnd::OnAbout(WPARAM, LPARAM) {
    m_pController->OnAbout();
    return TRUE;
}

INT_PTR CCleanupWnd::OnStatusWake(WPARAM, LPARAM) {
    m_pController->OnStatusWake();
    return TRUE;
}

// A control disabled while it has the focus leaves the dialog without one (Wine takes it away,
// Windows leaves it on the disabled control), and the dialog manager then sends Escape and Enter
// nowhere: a scan started with Enter in the drive box could not be cancelled with Escape. The
// focus moves on to the next control that takes it first.
void CCleanupWnd::Enable(const CWndItem& control, bool enable) {
    if (!enable && GetFocus() == control.GetSafeHwnd()) {
        SendMessageA(m_hWnd, WM_NEXTDLGCTL, 0, FALSE);
    }
    control.EnableWindow(enable);
}

void CCleanupWnd::EnableDriveBox(bool enable) {
    Enable(m_comboDrive, enable);
}
void CCleanupWnd::EnableScanButton(bool enable) {
    Enable(m_btnScan, enable);
}
void CCleanupWnd::EnableDeleteButton(bool enable) {
    Enable(m_btnDelete, enable);
}
void CCleanupWnd::SetScanButtonText(std::string_view text) {
    m_btnScan.SetWindowText(text);
}
void CCleanupWnd::SetStatusText(std::string_view text) {
    m_staticStatus.SetWindowText(text);
}
void CCleanupWnd::SetDescriptionText(std::string_view text) {
    m_staticDescription.SetWindowText(text);
}

DriveBox& CCleanupWnd::DriveCombo() {
    return *this;
}

ResultListView& CCleanupWnd::ResultList() {
    return *this;
}

void CCleanupWnd::EnableCheckboxes() {
    m_listResults.SetExtendedStyle(0, LVS_EX_CHECKBOXES);
}

std::optional<int> CCleanupWnd::FirstSelectedRow() {
    const int row = m_listResults.GetNextItem(-1, LVNI_SELECTED);
    return row < 0 ? std::nullopt : std::optional<int>(row);
}

int CCleanupWnd::RowCount() {
    return m_listResults.GetItemCount();
}
bool CCleanupWnd::IsRowTicked(int row) {
    return m_listResults.GetCheck(row);
}
int CCleanupWnd::RowItemData(int row) {
    return static_cast<int>(m_listResults.GetItemData(row));
}

void CCleanupWnd::StartTimer(int id, unsigned periodMs) {
    SetTimer(m_hWnd, static_cast<UINT_PTR>(id), periodMs, nullptr);
}

void CCleanupWnd::StopTimer(int id) {
    KillTimer(m_hWnd, static_cast<UINT_PTR>(id));
}

// A worker that cannot be started leaves the window in Scanning, where Cancel ends it.
void CCleanupWnd::StartWorker(const ScanParams& params) {
    (void)StartScanThread(params);
}

bool CCleanupWnd::AskYesNo(std::string_view text, std::string_view caption) {
    const std::string t(text);
    const std::string c(caption);
    return MessageBoxA(m_hWnd, t.c_str(), c.c_str(), MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
}

void CCleanupWnd::ShowInformation(std::string_view text, std::optional<std::string_view> caption) {
    const std::string t(text);
    const std::string c = caption ? std::string(*caption) : ApplicationName();
    MessageBoxA(m_hWnd, t.c_str(), c.c_str(), MB_OK | MB_ICONINFORMATION);
}

void CCleanupWnd::EndDialog(DialogResult result) {
    // The image list is the dialog's: the list view must not destroy it when the window goes.
    m_listResults.ReleaseImageList(LVSIL_SMALL);
    ::EndDialog(m_hWnd, result == DialogResult::Ok ? IDOK : IDCANCEL);
}

void CCleanupWnd::PostStatusWake() {
    PostMessageA(m_hWndWake, WM_STATUS_WAKE, 0, 0);
}

void CCleanupWnd::AddDriveText(std::string_view text) {
    m_comboDrive.AddString(std::string(text));
}

void CCleanupWnd::SelectDriveEntry(int index) {
    m_comboDrive.SetCurSel(index);
}

std::optional<int> CCleanupWnd::SelectedDriveIndex() {
    const int index = m_comboDrive.GetCurSel();  // CB_ERR when nothing is selected
    return index < 0 ? std::nullopt : std::optional<int>(index);
}

void CCleanupWnd::DeleteAllItems() {
    m_listResults.DeleteAllItems();
}

void CCleanupWnd::InsertItem(int row, std::string_view text, int image) {
    m_listResults.InsertItem(row, text, image);
}

void CCleanupWnd::SetItemText(int row, int column, std::string_view text) {
    m_listResults.SetItemText(row, column, text);
}

void CCleanupWnd::SetItemData(int row, int data) {
    m_listResults.SetItemData(row, data);
}

}  // namespace clearnook::win32
