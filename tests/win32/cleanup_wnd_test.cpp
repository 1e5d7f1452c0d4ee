// The real dialog, run on a thread of its own and driven from the test's thread by messages, as
// a user would drive it with the mouse: clicks on buttons and rows, answers to the real message
// boxes. The drive list is a temporary folder of the test's.
#include "ui/win32/cleanup_wnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/categories.h"
#include "res/resource.h"
#include "tests/support/temp_tree.h"

namespace clearnook::win32 {
namespace {

using testing::TempDir;

constexpr const char* kReadyStatus = "Click Scan to start scanning.";
constexpr const char* kReadyDescription =
    "Click on an item in the list above for a detailed description.";
constexpr const char* kComplete =
    "Scan complete. Select the items to delete and click Delete Selected.";

// Waits, looking every 10 ms, until `done` holds; false after 30 s. Nothing here measures time:
// the bound only keeps a broken dialog from hanging the suite.
bool WaitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 3000; ++i) {
        if (done()) {
            return true;
        }
        Sleep(10);
    }
    return done();
}

std::string TextOf(HWND hWnd) {
    char buf[1024] = {};
    GetWindowTextA(hWnd, buf, sizeof buf);
    return buf;
}

// The top-level window of this process with class and caption, or null.
HWND FindBox(const char* caption) {
    HWND h = FindWindowA("#32770", caption);
    DWORD pid = 0;
    if (h != nullptr) {
        GetWindowThreadProcessId(h, &pid);
    }
    return pid == GetCurrentProcessId() ? h : nullptr;
}

// The message text of a message box: its static control holding the most text.
std::string MessageTextOf(HWND box) {
    std::string best;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        char cls[32] = {};
        GetClassNameA(child, cls, sizeof cls);
        if (lstrcmpiA(cls, "Static") == 0) {
            const std::string text = TextOf(child);
            if (text.size() > best.size()) {
                best = text;
            }
        }
    }
    return best;
}

// Saves the window's pixels as a 24-bit BMP when CLEARNOOK_SCREENSHOT_DIR names a folder, so a
// person can look at the dialog the tests drove.
void Screenshot(HWND hWnd, const char* name) {
    const char* dir = std::getenv("CLEARNOOK_SCREENSHOT_DIR");
    if (dir == nullptr) {
        return;
    }
    // Paint everything pending first (the UI thread paints while the call waits).
    RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT r;
    GetWindowRect(hWnd, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const HDC screen = GetDC(nullptr);
    const HDC mem = CreateCompatibleDC(screen);
    const HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    const HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    const auto stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    std::vector<char> pixels(stride * static_cast<DWORD>(h));
    GetDIBits(mem, bmp, 0, static_cast<UINT>(h), pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi),
              DIB_RGB_COLORS);
    BITMAPFILEHEADER bf{};
    bf.bfType = 0x4D42;
    bf.bfOffBits = sizeof bf + sizeof bi;
    bf.bfSize = bf.bfOffBits + static_cast<DWORD>(pixels.size());
    const std::string path = std::string(dir) + "\\" + name + ".bmp";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(&bf, sizeof bf, 1, f);
        std::fwrite(&bi, sizeof bi, 1, f);
        std::fwrite(pixels.data(), 1, pixels.size(), f);
        std::fclose(f);
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
}

// The dialog on its own UI thread, as WinMain runs it.
class RunningDialog {
  public:
    explicit RunningDialog(std::vector<DriveEntry> drives) {
        std::atomic<DWORD> threadId{0};
        m_thread = std::thread([this, drives = std::move(drives), &threadId] {
            threadId = GetCurrentThreadId();
            CCleanupWnd dlg(GetModuleHandleA(nullptr), [&drives] { return drives; });
            m_imageCount = -1;
            m_result = dlg.DoModal();
            m_imageCount = dlg.ImageList().GetImageCount();
            m_ended = true;
        });
        WaitFor([&] { return threadId != 0; });
        m_threadId = threadId;
        WaitFor([&] {
            m_hWnd = FindBox("Clearnook");
            return m_hWnd != nullptr && IsWindowVisible(m_hWnd);
        });
    }
    ~RunningDialog() {
        if (!m_ended && m_hWnd != nullptr) {
            PostMessageA(m_hWnd, WM_COMMAND, IDCANCEL, 0);
        }
        m_thread.join();
    }

    [[nodiscard]] HWND Hwnd() const { return m_hWnd; }
    [[nodiscard]] HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }
    [[nodiscard]] std::string Text(int id) const { return TextOf(Item(id)); }
    [[nodiscard]] bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != 0; }
    [[nodiscard]] DWORD ThreadId() const { return m_threadId; }

    // A click on a button, queued as the mouse would queue it.
    void Click(int id) const { PostMessageA(Item(id), BM_CLICK, 0, 0); }

    // A click on row `row` of the result list: the list selects it, then notifies NM_CLICK.
    void ClickRow(int row) const {
        const HWND list = Item(IDC_RESULTS);
        RECT r{};
        r.left = LVIR_LABEL;
        SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageA(list, WM_LBUTTONUP, 0, at);
    }

    // Ticks the checkbox of `row` (state image 2), as a click on the box does.
    void Tick(int row) const {
        LVITEMA item{};
        item.stateMask = LVIS_STATEIMAGEMASK;
        item.state = INDEXTOSTATEIMAGEMASK(2);
        SendMessageA(Item(IDC_RESULTS), LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&item));
    }

    [[nodiscard]] int RowCount() const {
        return static_cast<int>(SendMessageA(Item(IDC_RESULTS), LVM_GETITEMCOUNT, 0, 0));
    }
    [[nodiscard]] std::string Cell(int row, int column) const {
        char buf[256] = {};
        LVITEMA item{};
        item.iSubItem = column;
        item.pszText = buf;
        item.cchTextMax = sizeof buf;
        SendMessageA(Item(IDC_RESULTS), LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&item));
        return buf;
    }
    [[nodiscard]] LPARAM ItemData(int row) const {
        LVITEMA item{};
        item.mask = LVIF_PARAM | LVIF_IMAGE;
        item.iItem = row;
        SendMessageA(Item(IDC_RESULTS), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        return item.lParam;
    }
    [[nodiscard]] int Image(int row) const {
        LVITEMA item{};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        SendMessageA(Item(IDC_RESULTS), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        return item.iImage;
    }
    [[nodiscard]] bool HasCheckboxes() const {
        return (SendMessageA(Item(IDC_RESULTS), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) &
                LVS_EX_CHECKBOXES) != 0;
    }

    // Scans the selected entry and waits for the completion message.
    bool ScanToCompletion() const {
        Click(IDOK);
        return WaitFor([&] { return Text(IDC_STATUS) == kComplete; });
    }

    [[nodiscard]] bool WaitEnded() const {
        return WaitFor([&] { return m_ended.load(); });
    }
    [[nodiscard]] INT_PTR Result() const { return m_result; }
    [[nodiscard]] int ImageCountAtEnd() const { return m_imageCount; }

  private:
    std::thread m_thread;
    HWND m_hWnd = nullptr;
    DWORD m_threadId = 0;
    std::atomic<bool> m_ended{false};
    std::atomic<INT_PTR> m_result{0};
    std::atomic<int> m_imageCount{0};
};

// A folder holding files of three categories: temporary files (3 and 5 bytes), a precompiled
// header (2,048 bytes) and a thumbnail cache (20,480 bytes).
struct Tree {
    TempDir dir;
    Tree() {
        dir.File("Work/Temp/a.txt", 3);
        dir.File("Work/b.TMP", 5);
        dir.File("src/Build/App.pch", 2048);
        dir.File("Photos/Thumbs.db", 20480);
    }
    [[nodiscard]] std::vector<DriveEntry> Drives() const {
        return {{dir.path() + " [TEST]", dir.path()}, {"Q:", "Q:"}};
    }
    [[nodiscard]] bool Exists(const char* relative) const {
        return GetFileAttributesA((dir / relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
};

TEST(CleanupWndTest, OpensReadyWithTheTemplateTextsAndAnEmptyList) {
    Tree tree;
    RunningDialog d(tree.Drives());
    ASSERT_NE(d.Hwnd(), nullptr);
    EXPECT_EQ(TextOf(d.Hwnd()), "Clearnook");
    EXPECT_EQ(d.Text(IDOK), "&Scan");
    EXPECT_EQ(d.Text(IDC_STATUS), kReadyStatus);
    EXPECT_EQ(d.Text(IDC_DESCRIPTION), kReadyDescription);
    EXPECT_EQ(d.Text(IDC_ABOUT), "&About...");
    EXPECT_EQ(d.Text(IDC_DELETE), "&Delete Selected");
    EXPECT_TRUE(d.Enabled(IDOK));
    EXPECT_TRUE(d.Enabled(IDC_DRIVE));
    EXPECT_FALSE(d.Enabled(IDC_DELETE));
    EXPECT_EQ(d.RowCount(), 0);
    EXPECT_FALSE(d.HasCheckboxes());
    EXPECT_NE(GetWindowLongA(d.Item(IDC_RESULTS), GWL_STYLE) & LVS_NOCOLUMNHEADER, 0);
    EXPECT_NE(GetWindowLongA(d.Hwnd(), GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);

    // The drive box: the entries in order, the first selected, and the focus on it.
    const HWND combo = d.Item(IDC_DRIVE);
    ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);
    char entry[MAX_PATH] = {};
    SendMessageA(combo, CB_GETLBTEXT, 1, reinterpret_cast<LPARAM>(entry));
    EXPECT_STREQ(entry, "Q:");
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    ASSERT_NE(GetGUIThreadInfo(d.ThreadId(), &gui), 0);
    EXPECT_EQ(gui.hwndFocus, combo);

    // Two columns: 275 pixels left-aligned, 70 pixels right-aligned; an image per category.
    const HWND list = d.Item(IDC_RESULTS);
    EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0), kNameColumnWidth);
    EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0), kSizeColumnWidth);
    LVCOLUMNA col{};
    col.mask = LVCF_FMT;
    ASSERT_NE(SendMessageA(list, LVM_GETCOLUMNA, 1, reinterpret_cast<LPARAM>(&col)), 0);
    EXPECT_EQ(col.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_RIGHT);
    EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 2, 0), 0);  // no third column
    const auto images =
        reinterpret_cast<HIMAGELIST>(SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
    EXPECT_EQ(ImageList_GetImageCount(images), CATEGORY_COUNT);
    int cx = 0;
    int cy = 0;
    ImageList_GetIconSize(images, &cx, &cy);
    EXPECT_EQ(cx, 16);
    EXPECT_EQ(cy, 16);

    // The program's icon, large and small, and as the drag icon.
    const LRESULT big = SendMessageA(d.Hwnd(), WM_GETICON, ICON_BIG, 0);
    EXPECT_NE(big, 0);
    EXPECT_EQ(SendMessageA(d.Hwnd(), WM_GETICON, ICON_SMALL, 0), big);
    EXPECT_EQ(SendMessageA(d.Hwnd(), WM_QUERYDRAGICON, 0, 0), big);
    Screenshot(d.Hwnd(), "ready");
}

TEST(CleanupWndTest, ScanShowsRowsAndCompletesWithCheckboxes) {
    Tree tree;
    RunningDialog d(tree.Drives());
    ASSERT_TRUE(d.ScanToCompletion());
    EXPECT_EQ(d.Text(IDOK), "Cancel");
    EXPECT_FALSE(d.Enabled(IDOK));
    EXPECT_FALSE(d.Enabled(IDC_DRIVE));
    EXPECT_TRUE(d.Enabled(IDC_DELETE));
    EXPECT_TRUE(d.HasCheckboxes());
    struct Row {
        const char* name;
        const char* size;
        int category;
    };
    const Row rows[] = {{"Temporary Files", "8 bytes", 0},
                        {"Pre-Compiled Header Files", "2.00 KB", 3},
                        {"Thumbnail Cache", "20.00 KB", 5}};
    ASSERT_EQ(d.RowCount(), 3);
    for (int i = 0; i < 3; ++i) {
        const Row& r = rows[i];
        EXPECT_EQ(d.Cell(i, 0), r.name);
        EXPECT_EQ(d.Cell(i, 1), r.size);
        EXPECT_EQ(d.ItemData(i), r.category);
        EXPECT_EQ(d.Image(i), r.category);
    }
    // Every row starts unticked.
    for (int i = 0; i < 3; ++i) {
        const LRESULT state = SendMessageA(d.Item(IDC_RESULTS), LVM_GETITEMSTATE,
                                           static_cast<WPARAM>(i), LVIS_STATEIMAGEMASK);
        EXPECT_EQ((state & LVIS_STATEIMAGEMASK) >> 12, 1) << i;
    }
}

TEST(CleanupWndTest, AClickOnARowShowsItsDescription) {
    Tree tree;
    RunningDialog d(tree.Drives());
    ASSERT_TRUE(d.ScanToCompletion());
    d.ClickRow(1);
    EXPECT_TRUE(WaitFor([&] { return d.Text(IDC_DESCRIPTION) != kReadyDescription; }));
    EXPECT_EQ(d.Text(IDC_DESCRIPTION),
              "Pre-compiled header files are created during program compilation and are no "
              "longer required after the program has been compiled. These files generally take "
              "up a lot of space and are safe to delete.");
    d.ClickRow(2);
    EXPECT_TRUE(WaitFor([&] {
        return d.Text(IDC_DESCRIPTION) ==
               "These files are used for quick display of thumbnails of pictures. These can be "
               "deleted and will be recreated as required.";
    }));
    d.Tick(0);
    d.Tick(2);
    Screenshot(d.Hwnd(), "complete");
}

// The confirmation box as the user sees it: its text, Yes and No, the focus on Yes (the default).
HWND WaitForConfirmation(DWORD uiThread) {
    HWND box = nullptr;
    EXPECT_TRUE(WaitFor([&] { return (box = FindBox("Confirm Delete")) != nullptr; }));
    if (box == nullptr) {
        return nullptr;
    }
    EXPECT_EQ(MessageTextOf(box),
              "Are you sure you want to permanently remove the selected items?");
    EXPECT_NE(GetDlgItem(box, IDYES), nullptr);
    EXPECT_NE(GetDlgItem(box, IDNO), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDOK), nullptr);
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    EXPECT_TRUE(WaitFor([&] {
        return GetGUIThreadInfo(uiThread, &gui) != 0 && gui.hwndFocus == GetDlgItem(box, IDYES);
    }));
    return box;
}

TEST(CleanupWndTest, NoToTheConfirmationChangesNothingAndYesDeletesAndReports) {
    Tree tree;
    RunningDialog d(tree.Drives());
    ASSERT_TRUE(d.ScanToCompletion());
    d.Tick(0);
    d.Tick(2);

    d.Click(IDC_DELETE);
    HWND box = WaitForConfirmation(d.ThreadId());
    ASSERT_NE(box, nullptr);
    PostMessageA(GetDlgItem(box, IDNO), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return FindBox("Confirm Delete") == nullptr; }));
    EXPECT_TRUE(tree.Exists("Work/b.TMP"));
    EXPECT_TRUE(tree.Exists("Photos/Thumbs.db"));
    EXPECT_EQ(d.RowCount(), 3);
    EXPECT_TRUE(d.Enabled(IDC_DELETE));
    EXPECT_EQ(d.Text(IDC_STATUS), kComplete);

    d.Click(IDC_DELETE);
    box = WaitForConfirmation(d.ThreadId());
    ASSERT_NE(box, nullptr);
    PostMessageA(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
    // The report's caption is the application's name: this executable's base name.
    HWND report = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (report = FindBox(ApplicationName().c_str())) != nullptr; }));
    EXPECT_EQ(MessageTextOf(report), "3 files were removed.\nThank you for using Clearnook!");
    EXPECT_NE(GetDlgItem(report, IDOK), nullptr);
    EXPECT_EQ(GetDlgItem(report, IDNO), nullptr);
    EXPECT_FALSE(tree.Exists("Work/Temp/a.txt"));
    EXPECT_FALSE(tree.Exists("Work/b.TMP"));
    EXPECT_FALSE(tree.Exists("Photos/Thumbs.db"));
    EXPECT_TRUE(tree.Exists("src/Build/App.pch"));  // its row was not ticked
    PostMessageA(GetDlgItem(report, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(d.WaitEnded());
    EXPECT_EQ(d.Result(), IDOK);
    EXPECT_EQ(d.ImageCountAtEnd(), CATEGORY_COUNT);
}

TEST(CleanupWndTest, AboutShowsItsBoxInAnyStateAndChangesNothing) {
    Tree tree;
    RunningDialog d(tree.Drives());
    d.Click(IDC_ABOUT);
    HWND about = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (about = FindBox("About Clearnook")) != nullptr; }));
    EXPECT_EQ(MessageTextOf(about),
              "Clearnook 2.0\nCopyright (C) 2026 The Clearnook developers\n\nThis program is "
              "FREEWARE.\n\nhttps://clearnook.org");
    EXPECT_NE(GetDlgItem(about, IDOK), nullptr);
    PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return FindBox("About Clearnook") == nullptr; }));
    EXPECT_EQ(d.Text(IDC_STATUS), kReadyStatus);
    EXPECT_TRUE(d.Enabled(IDOK));
}

// Scan and Cancel queued back to back: the second click reaches the dialog while it scans,
// before any tick could see the walk finished. The dialog ends at once with Cancel; the walk of
// the whole drive is left to stop by itself.
TEST(CleanupWndTest, CancelDuringAScanEndsTheDialogAtOnce) {
    Tree tree;
    const std::string drive = tree.dir.path().substr(0, 2);
    RunningDialog d({{drive, drive}});
    d.Click(IDOK);
    d.Click(IDOK);
    ASSERT_TRUE(d.WaitEnded());
    EXPECT_EQ(d.Result(), IDCANCEL);
}

// The window that has the keyboard focus on the dialog's thread, or null.
HWND FocusOf(DWORD uiThread) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    return GetGUIThreadInfo(uiThread, &gui) != 0 ? gui.hwndFocus : nullptr;
}

// A key pressed and let go while `hWnd` has the focus, as the keyboard queues it.
void PressKey(HWND hWnd, WPARAM key) {
    PostMessageA(hWnd, WM_KEYDOWN, key, 1);
    PostMessageA(hWnd, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

struct EscapeCase {
    const char* name;
    bool wholeDrive;  // a walk long enough to be going on when Escape is pressed
    void (*start)(const RunningDialog& d);
    bool (*reached)(const RunningDialog& d);
};

void PrintTo(const EscapeCase& c, std::ostream* os) {
    *os << c.name;
}

class EscapeAfterDisablingTest : public ::testing::TestWithParam<EscapeCase> {};

// The control that had the focus is disabled on the way (the drive box when a scan starts, the
// Scan button when it completes): the focus moves on, so Escape still reaches the dialog.
TEST_P(EscapeAfterDisablingTest, EscapeStillEndsTheDialog) {
    Tree tree;
    const std::string drive = tree.dir.path().substr(0, 2);
    RunningDialog d(GetParam().wholeDrive ? std::vector<DriveEntry>{{drive, drive}}
                                          : tree.Drives());
    GetParam().start(d);
    ASSERT_TRUE(WaitFor([&] { return GetParam().reached(d); }));
    const HWND focus = FocusOf(d.ThreadId());
    ASSERT_NE(focus, nullptr);
    EXPECT_NE(IsWindowEnabled(focus), 0);
    PressKey(focus, VK_ESCAPE);
    ASSERT_TRUE(d.WaitEnded());
    EXPECT_EQ(d.Result(), IDCANCEL);
}

INSTANTIATE_TEST_SUITE_P(
    States, EscapeAfterDisablingTest,
    ::testing::Values(
        EscapeCase{"scanning_after_enter_in_the_drive_box", true,
                   [](const RunningDialog& d) { PressKey(d.Item(IDC_DRIVE), VK_RETURN); },
                   [](const RunningDialog& d) { return d.Text(IDOK) == "Cancel"; }},
        EscapeCase{"complete_after_a_click_on_scan", false,
                   [](const RunningDialog& d) { d.Click(IDOK); },
                   [](const RunningDialog& d) { return d.Text(IDC_STATUS) == kComplete; }}));

TEST(CleanupWndTest, EscapeEndsTheDialogWithCancel) {
    Tree tree;
    RunningDialog d(tree.Drives());
    PostMessageA(d.Hwnd(), WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(d.WaitEnded());
    EXPECT_EQ(d.Result(), IDCANCEL);
    EXPECT_TRUE(tree.Exists("Work/b.TMP"));
}

}  // namespace
}  // namespace clearnook::win32
