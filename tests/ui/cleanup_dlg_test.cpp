#include "ui/cleanup_dlg.h"
#include "ui/recorded_files.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include "platform/drives_linux.h"
#include "tests/support/root_mount.h"
#endif
#include "tests/support/temp_tree.h"

namespace clearnook {
namespace {

using testing::TempDir;

// The texts as the user sees them, spelled out here so a changed word fails a test.
const std::string kReadyStatus = "Click Scan to start scanning.";
const std::string kReadyDescription =
    "Click on an item in the list above for a detailed description.";
const std::string kComplete =
    "Scan complete. Select the items to delete and click Delete Selected.";
const std::string kConfirmText = "Are you sure you want to permanently remove the selected items?";
const std::string kAboutText =
    "Clearnook 2.0\nCopyright (C) 2026 The Clearnook developers\n\nThis program is FREEWARE.\n\n"
    "https://clearnook.org";
const std::string kPchDescription =
    "Pre-compiled header files are created during program compilation and are no longer required "
    "after the program has been compiled. These files generally take up a lot of space and are "
    "safe to delete.";
const std::string kThumbsDescription =
    "These files are used for quick display of thumbnails of pictures. These can be deleted and "
    "will be recreated as required.";

struct Row {
    std::string name;
    int image = -1;
    std::string size;
    int data = -1;
    bool ticked = false;
    friend bool operator==(const Row&, const Row&) = default;
};

// Everything the user could see of the window, for "nothing changed" comparisons.
struct Screen {
    bool driveBoxEnabled = true;
    bool scanEnabled = true;
    bool deleteEnabled = false;
    std::string scanText = "&Scan";
    std::string status = kReadyStatus;
    std::string description = kReadyDescription;
    std::vector<std::string> drives;  // the drive box's texts
    std::optional<int> selectedDrive;
    std::vector<Row> rows;
    std::optional<int> selectedRow;
    bool checkboxes = false;
    bool timerOn = false;
    friend bool operator==(const Screen&, const Screen&) = default;
};

struct Message {
    std::string text;
    std::optional<std::string> caption;
    friend bool operator==(const Message&, const Message&) = default;
};

// The window as a record of its controls and of every call made to it. The worker either waits
// until the test runs it on the test thread (deferred, for exact interleavings) or runs on a
// thread of its own, joined when the view goes.
class FakeView : public CleanupView, public DriveBox, public ResultListView {
  public:
    enum class WorkerMode { Deferred, Threaded };

    explicit FakeView(WorkerMode mode = WorkerMode::Deferred) : m_mode(mode) {}
    ~FakeView() override {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    Screen screen;
    std::vector<std::string> log;          // the calls, in order
    std::vector<std::string> statusTexts;  // every status text set
    std::vector<Message> questions;
    std::vector<Message> informations;
    std::vector<DialogResult> ends;
    std::vector<ScanParams> workers;  // what each StartWorker was given
    bool answerYes = true;
    std::function<void()> onDeleteAllItems;
    std::function<void(std::string_view)> onSetStatusText;

    // Worker side: how many wakes have been posted and not yet handed to the controller.
    std::atomic<int> pendingWakes{0};

    // Runs the deferred worker to its end on this thread.
    void RunWorker() {
        ASSERT_EQ(m_mode, WorkerMode::Deferred);
        ASSERT_EQ(workers.size(), 1u);
        EXPECT_EQ(ScanThreadProc(workers.front()), 0u);
    }

    void JoinWorker() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

    // CleanupView
    void EnableDriveBox(bool enable) override {
        log.push_back(std::string("EnableDriveBox ") + (enable ? "1" : "0"));
        screen.driveBoxEnabled = enable;
    }
    void EnableScanButton(bool enable) override {
        log.push_back(std::string("EnableScanButton ") + (enable ? "1" : "0"));
        screen.scanEnabled = enable;
    }
    void EnableDeleteButton(bool enable) override {
        log.push_back(std::string("EnableDeleteButton ") + (enable ? "1" : "0"));
        screen.deleteEnabled = enable;
    }
    void SetScanButtonText(std::string_view text) override {
        log.push_back("SetScanButtonText " + std::string(text));
        screen.scanText = text;
    }
    void SetStatusText(std::string_view text) override {
        log.push_back("SetStatusText " + std::string(text));
        screen.status = text;
        statusTexts.emplace_back(text);
        if (onSetStatusText) {
            onSetStatusText(text);
        }
    }
    void SetDescriptionText(std::string_view text) override {
        log.push_back("SetDescriptionText");
        screen.description = text;
    }
    DriveBox& DriveCombo() override { return *this; }
    ResultListView& ResultList() override { return *this; }
    void EnableCheckboxes() override {
        log.push_back("EnableCheckboxes");
        screen.checkboxes = true;
    }
    std::optional<int> FirstSelectedRow() override { return screen.selectedRow; }
    int RowCount() override { return static_cast<int>(screen.rows.size()); }
    bool IsRowTicked(int row) override { return RowAt(row).ticked; }
    int RowItemData(int row) override { return RowAt(row).data; }
    void StartTimer(int id, unsigned periodMs) override {
        log.push_back("StartTimer " + std::to_string(id) + " " + std::to_string(periodMs));
        screen.timerOn = true;
    }
    void StopTimer(int id) override {
        log.push_back("StopTimer " + std::to_string(id));
        screen.timerOn = false;
    }
    void StartWorker(const ScanParams& params) override {
        log.push_back("StartWorker " + params.path);
        workers.push_back(params);
        workers.back().rules = RuleChoice::Windows;  // the trees here are laid out for them
        if (m_mode == WorkerMode::Threaded) {
            m_thread = std::thread(ScanThreadProc, workers.back());
        }
    }
    bool AskYesNo(std::string_view text, std::string_view caption) override {
        log.push_back("AskYesNo");
        questions.push_back({std::string(text), std::string(caption)});
        return answerYes;
    }
    void ShowInformation(std::string_view text, std::optional<std::string_view> caption) override {
        log.push_back("ShowInformation");
        informations.push_back(
            {std::string(text), caption ? std::optional<std::string>(*caption) : std::nullopt});
    }
    void EndDialog(DialogResult result) override {
        log.push_back("EndDialog");
        ends.push_back(result);
    }
    void PostStatusWake() override { pendingWakes.fetch_add(1); }

    // DriveBox
    void AddDriveText(std::string_view text) override { screen.drives.emplace_back(text); }
    void SelectDriveEntry(int index) override { screen.selectedDrive = index; }
    std::optional<int> SelectedDriveIndex() override { return screen.selectedDrive; }

    // ResultListView
    void DeleteAllItems() override {
        log.push_back("DeleteAllItems");
        screen.rows.clear();
        screen.selectedRow.reset();
        if (onDeleteAllItems) {
            onDeleteAllItems();
        }
    }
    void InsertItem(int row, std::string_view text, int image) override {
        log.push_back("InsertItem " + std::to_string(row));
        ASSERT_EQ(row, RowCount());
        screen.rows.push_back({std::string(text), image, "", -1, false});
    }
    void SetItemText(int row, int column, std::string_view text) override {
        ASSERT_EQ(column, 1);
        RowAt(row).size = text;
    }
    void SetItemData(int row, int data) override { RowAt(row).data = data; }

  private:
    Row& RowAt(int row) { return screen.rows.at(static_cast<std::size_t>(row)); }

    WorkerMode m_mode;
    std::thread m_thread;
};

// Hands every posted wake to the controller, as the window's event loop would.
void DeliverWakes(FakeView& view, CCleanupDlg& dlg) {
    if (view.pendingWakes.exchange(0) > 0) {
        dlg.OnStatusWake();
    }
}

// A tree with one file of three categories: temporary (3 bytes), precompiled header (5,000) and
// thumbnail cache (20,480), so the rows are 0, 1, 2 with item data 0, 3, 5.
struct Tree {
    TempDir dir;
    std::string root;
    explicit Tree(bool withFiles = true) : root(dir / "vol [x]") {
        dir.Dir("vol [x]");
        if (withFiles) {
            dir.File("vol [x]/work/temp/setup.log", 3);
            dir.File("vol [x]/src/build/app.pch", 5000);
            dir.File("vol [x]/photos/Thumbs.db", 20480);
            dir.File("vol [x]/photos/holiday.jpg", 777);
        }
    }
    // An entry whose root holds " [", as a mount path may.
    DriveEntry Entry() const { return {root + " [LABEL]", root}; }
};

const std::vector<Row> kFoundRows = {
    {"Temporary Files", 0, "3 bytes", 0, false},
    {"Pre-Compiled Header Files", 3, "4.88 KB", 3, false},
    {"Thumbnail Cache", 5, "20.00 KB", 5, false},
};

// A dialog with the test's view and a delete pass that records what it was given.
struct Dialog {
    struct DeleteCall {
        std::vector<int> ticked;
        std::string root;
        std::vector<std::string> firstPaths;  // the first recorded path of each category, or ""
    };

    FakeView view;
    std::vector<DeleteCall> deleteCalls;
    std::unique_ptr<CCleanupDlg> dlg;

    explicit Dialog(FakeView::WorkerMode mode = FakeView::WorkerMode::Deferred) : view(mode) {
        dlg = std::make_unique<CCleanupDlg>(
            view, [this](const std::vector<int>& ticked, const CategoryResults& results,
                         const std::string& root) {
                DeleteCall call{ticked, root, {}};
                for (const auto& list : results.lists) {
                    call.firstPaths.push_back(list.empty() ? std::string()
                                                           : results.PathOf(list.front()));
                }
                deleteCalls.push_back(std::move(call));
                return std::string("REPORT");
            });
    }

    // Ready with `drives` in the box.
    void Init(const std::vector<DriveEntry>& drives) { dlg->OnInitDialog(drives); }

    // Deferred worker: starts the scan, runs the walk, delivers its texts, ticks once.
    void ScanToCompletion(const DriveEntry& drive) {
        Init({drive});
        dlg->OnOK();
        view.RunWorker();
        DeliverWakes(view, *dlg);
        dlg->OnTimer();
        ASSERT_EQ(dlg->GetState(), CCleanupDlg::State::Complete);
    }
};

TEST(CleanupDlg, ReadyAfterInitWithDrivesFilledAndFirstSelected) {
    Dialog d;
    d.Init({{"A:", "A:"}, {"C: [SYSTEM]", "C:"}});
    EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Ready);
    Screen expected;
    expected.drives = {"A:", "C: [SYSTEM]"};
    expected.selectedDrive = 0;
    EXPECT_EQ(d.view.screen, expected);
    EXPECT_TRUE(d.view.workers.empty());
}

#ifndef _WIN32
// The window starts on the user's home folder, where there is one; else on "/".
TEST(CleanupDlg, InitWithThisMachinesDrivesSelectsHomeElseRoot) {
    if (const std::string why = testing::WhyRootIsNoDrive(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    Dialog d;
    d.dlg->OnInitDialog(ListDriveEntries());
    ASSERT_FALSE(d.view.screen.drives.empty());
    EXPECT_EQ(d.view.screen.selectedDrive, 0);
    EXPECT_TRUE(d.view.screen.scanEnabled);
    d.dlg->OnOK();  // the deferred walk never runs
    ASSERT_EQ(d.view.workers.size(), 1u);
    EXPECT_EQ(d.view.workers[0].path, platform::HomeDirectory().value_or("/"));
}
#endif

TEST(CleanupDlg, EmptyDriveBoxDisablesScanAndScanDoesNothing) {
    Dialog d;
    d.Init({});
    EXPECT_FALSE(d.view.screen.scanEnabled);
    const Screen before = d.view.screen;
    d.view.log.clear();
    d.dlg->OnOK();
    d.dlg->OnTimer();
    EXPECT_EQ(d.view.screen, before);
    EXPECT_TRUE(d.view.log.empty());
    EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Ready);
}

TEST(CleanupDlg, ScanStartsWalkOfTheSelectedEntrysCarriedRoot) {
    Tree tree;
    Dialog d;
    d.Init({{"/elsewhere", "/elsewhere"}, tree.Entry()});
    d.view.screen.selectedDrive = 1;
    d.view.log.clear();
    d.dlg->OnOK();
    EXPECT_EQ(d.view.log,
              (std::vector<std::string>{"EnableDriveBox 0", "SetScanButtonText Cancel",
                                        "StartTimer 0 100", "StartWorker " + tree.root}));
    EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Scanning);
    EXPECT_TRUE(d.view.screen.scanEnabled);
    EXPECT_FALSE(d.view.screen.deleteEnabled);
    ASSERT_EQ(d.view.workers.size(), 1u);
    EXPECT_NE(d.view.workers[0].statusSink, nullptr);
    EXPECT_NE(d.view.workers[0].state, nullptr);
}

// The drive box holds texts only: the controller maps the index the box reports back to its own
// entry, and an index that names none of them starts nothing.
TEST(CleanupDlg, ScanWalksTheRootOfTheIndexSelectedInTheBox) {
    struct Case {
        const char* what;
        std::optional<int> selected;
        std::optional<std::string> walkedRoot;  // none: no scan starts
    };
    const Case cases[] = {
        {"first", 0, "/home/me"},          {"second", 1, "/"},
        {"last", 2, "/mnt/a [b] x"},       {"none", std::nullopt, std::nullopt},
        {"past the end", 3, std::nullopt}, {"negative", -1, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Dialog d;
        d.Init({{"~ [Home]", "/home/me"}, {"/ [SYSTEM]", "/"}, {"/mnt/a [b]", "/mnt/a [b] x"}});
        d.view.screen.selectedDrive = c.selected;
        d.dlg->OnOK();  // the deferred walk never runs
        if (c.walkedRoot) {
            ASSERT_EQ(d.view.workers.size(), 1u);
            EXPECT_EQ(d.view.workers[0].path, *c.walkedRoot);
            EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Scanning);
        } else {
            EXPECT_TRUE(d.view.workers.empty());
            EXPECT_TRUE(d.view.screen.driveBoxEnabled);
            EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Ready);
        }
    }
}

TEST(CleanupDlg, TicksRebuildWhileScanningAndTheFlaggedTickCompletes) {
    Tree tree;
    Dialog d;
    d.Init({tree.Entry()});
    d.dlg->OnOK();

    d.dlg->OnTimer();  // the walk has not run yet
    EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Scanning);
    EXPECT_TRUE(d.view.screen.rows.empty());
    EXPECT_TRUE(d.view.screen.timerOn);
    EXPECT_EQ(d.view.log.back(), "DeleteAllItems");

    d.view.RunWorker();  // its wakes are not delivered: the tick completes
    d.view.log.clear();
    d.dlg->OnTimer();
    EXPECT_EQ(d.view.log, (std::vector<std::string>{
                              "DeleteAllItems", "InsertItem 0", "InsertItem 1", "InsertItem 2",
                              "StopTimer 0", "EnableScanButton 0", "EnableDeleteButton 1",
                              "SetStatusText " + kComplete, "EnableCheckboxes"}));
    EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Complete);
    d.view.log.clear();
    DeliverWakes(d.view, *d.dlg);  // late wakes change nothing
    d.dlg->OnTimer();
    EXPECT_TRUE(d.view.log.empty());

    Screen expected;
    expected.driveBoxEnabled = false;
    expected.scanEnabled = false;
    expected.deleteEnabled = true;
    expected.scanText = "Cancel";
    expected.status = kComplete;
    expected.drives = {tree.Entry().text};
    expected.selectedDrive = 0;
    expected.rows = kFoundRows;
    expected.checkboxes = true;
    expected.timerOn = false;
    EXPECT_EQ(d.view.screen, expected);
}

TEST(CleanupDlg, FlagIsReadBeforeTheRebuildSoTheLastListIsComplete) {
    // The walk finishes while the first tick rebuilds the list. That tick must not complete: it
    // read the flag before the walk's last writes, and its rows may miss them.
    Tree tree;
    Dialog d;
    d.Init({tree.Entry()});
    d.dlg->OnOK();
    d.view.onDeleteAllItems = [&d] {
        d.view.onDeleteAllItems = nullptr;
        d.view.RunWorker();
    };
    while (d.dlg->GetState() == CCleanupDlg::State::Scanning) {
        d.dlg->OnTimer();
    }
    EXPECT_EQ(d.view.screen.rows, kFoundRows);
}

TEST(CleanupDlg, MailboxIsClosedBeforeTheCompletionText) {
    Tree tree;
    Dialog d;
    d.Init({tree.Entry()});
    d.dlg->OnOK();
    d.view.RunWorker();
    auto mailbox = std::dynamic_pointer_cast<StatusMailbox>(d.view.workers[0].statusSink);
    ASSERT_NE(mailbox, nullptr);
    bool sawCompletion = false;
    d.view.onSetStatusText = [&](std::string_view text) {
        if (text == kComplete) {
            sawCompletion = true;
            // A text the walk sends now must go nowhere.
            mailbox->SetStatusText("Scanning late");
            EXPECT_EQ(mailbox->Take(), std::nullopt);
        }
    };
    d.dlg->OnTimer();
    EXPECT_TRUE(sawCompletion);
}

TEST(CleanupDlg, StatusTextsArriveThroughTheMailboxAndCompletionIsLast) {
    Tree tree(false);
    Dialog d;
    d.Init({tree.Entry()});
    d.dlg->OnOK();
    d.view.RunWorker();
    // The walk of a tree without subdirectories sends one text, which woke the UI, and wakes it
    // once more when it has finished.
    EXPECT_EQ(d.view.pendingWakes.load(), 2);
    EXPECT_EQ(d.view.screen.status, kReadyStatus);  // nothing shown until the UI thread takes it
    DeliverWakes(d.view, *d.dlg);
    // The wake shows the walk's text, then completes at once, without waiting for a tick.
    EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Complete);
    EXPECT_EQ(d.view.screen.status, kComplete);
    // A text the walk still sends afterwards neither wakes the UI nor shows.
    d.view.workers[0].statusSink->SetStatusText("Scanning " + tree.root);
    EXPECT_EQ(d.view.pendingWakes.load(), 0);
    d.dlg->OnStatusWake();
    EXPECT_EQ(d.view.statusTexts, (std::vector<std::string>{"Scanning " + tree.root, kComplete}));
}

TEST(CleanupDlg, ScanThatFindsNothingCompletesWithAnEmptyList) {
    Tree tree(false);
    tree.dir.File("vol [x]/notes.txt", 10);
    Dialog d;
    d.ScanToCompletion(tree.Entry());
    EXPECT_TRUE(d.view.screen.rows.empty());
    EXPECT_TRUE(d.view.screen.deleteEnabled);
    EXPECT_TRUE(d.view.screen.checkboxes);
    EXPECT_EQ(d.view.screen.status, kComplete);
}

TEST(CleanupDlg, UnlistableRootStillCompletes) {
    TempDir dir;
    Dialog d;
    d.ScanToCompletion({"gone", dir / "missing"});
    EXPECT_TRUE(d.view.screen.rows.empty());
    EXPECT_EQ(d.view.screen.status, kComplete);
}

TEST(CleanupDlg, TickAfterCompletionKeepsTicksAndRows) {
    Tree tree;
    Dialog d;
    d.ScanToCompletion(tree.Entry());
    d.view.screen.rows[1].ticked = true;
    const Screen before = d.view.screen;
    d.view.log.clear();
    d.dlg->OnTimer();
    EXPECT_EQ(d.view.screen, before);
    EXPECT_TRUE(d.view.log.empty());
}

// Ends the dialog during a scan by the Cancel button (IDOK while scanning) or by the close box.
void EndDuringScan(CCleanupDlg& dlg, bool byButton) {
    if (byButton) {
        dlg.OnOK();
    } else {
        dlg.OnCancel();
    }
}

TEST(CleanupDlg, CancelDuringScanEndsAtOnceAndStopsTheWalk) {
    for (const bool byButton : {true, false}) {
        SCOPED_TRACE(byButton ? "Cancel button" : "close box");
        Tree tree;
        Dialog d;
        d.Init({tree.Entry()});
        d.dlg->OnOK();
        EndDuringScan(*d.dlg, byButton);
        // Ended without the walk having run a single step: nothing waited for it.
        EXPECT_EQ(d.view.ends, std::vector<DialogResult>{DialogResult::Cancel});
        EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Ended);
        const std::shared_ptr<ScanState> state = d.view.workers[0].state;
        EXPECT_TRUE(state->stopRequested.load());

        // The window goes; the walk runs afterwards on what it shares, stops at once, and its
        // texts reach nobody.
        d.dlg.reset();
        const std::string statusBefore = d.view.screen.status;
        d.view.RunWorker();
        EXPECT_TRUE(state->m_bScanDone.load());
        for (const auto& list : state->results.lists) {
            EXPECT_TRUE(list.empty());
        }
        EXPECT_EQ(d.view.pendingWakes.load(), 0);
        EXPECT_EQ(d.view.screen.status, statusBefore);
    }
}

TEST(CleanupDlg, HandlersAfterEndingChangeNothing) {
    Tree tree;
    Dialog d;
    d.Init({tree.Entry()});
    d.dlg->OnOK();
    d.dlg->OnCancel();
    d.view.RunWorker();
    const Screen before = d.view.screen;
    d.view.log.clear();
    d.dlg->OnTimer();
    d.dlg->OnStatusWake();
    d.dlg->OnOK();
    d.dlg->OnCancel();
    d.dlg->OnDeleteSelected();
    EXPECT_EQ(d.view.screen, before);
    EXPECT_TRUE(d.view.log.empty());
    EXPECT_EQ(d.view.ends.size(), 1u);
}

TEST(CleanupDlg, CloseInReadyEndsWithCancelAndStartsNothing) {
    Dialog d;
    d.Init({{"C:", "C:"}});
    d.dlg->OnCancel();
    EXPECT_EQ(d.view.ends, std::vector<DialogResult>{DialogResult::Cancel});
    EXPECT_TRUE(d.view.workers.empty());
    EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Ended);
}

TEST(CleanupDlg, OkInCompleteEndsTheDialog) {
    Tree tree;
    Dialog d;
    d.ScanToCompletion(tree.Entry());
    d.dlg->OnOK();
    EXPECT_EQ(d.view.ends, std::vector<DialogResult>{DialogResult::Cancel});
    EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Ended);
    EXPECT_TRUE(d.deleteCalls.empty());
    EXPECT_EQ(d.view.workers.size(), 1u);  // no second scan
}

TEST(CleanupDlg, ClickShowsTheDescriptionOfTheSelectedRow) {
    struct Case {
        int row;
        std::string description;
    };
    const Case cases[] = {
        {0, "Temporary files are left over by certain programs and are generally safe to delete."},
        {1, kPchDescription},
        {2, kThumbsDescription},
    };
    Tree tree;
    Dialog d;
    d.ScanToCompletion(tree.Entry());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.row);
        d.view.screen.selectedRow = c.row;
        d.dlg->OnResultClick();
        EXPECT_EQ(d.view.screen.description, c.description);
    }
}

TEST(CleanupDlg, ClickWithNoSelectionKeepsTheDescription) {
    Tree tree;
    Dialog d;
    d.ScanToCompletion(tree.Entry());
    d.dlg->OnResultClick();
    EXPECT_EQ(d.view.screen.description, kReadyDescription);

    d.view.screen.selectedRow = 2;
    d.dlg->OnResultClick();
    d.view.screen.selectedRow.reset();
    const Screen before = d.view.screen;
    d.dlg->OnResultClick();
    EXPECT_EQ(d.view.screen, before);
    EXPECT_EQ(d.view.screen.description, kThumbsDescription);
}

TEST(CleanupDlg, ClickDuringScanShowsDescriptionUntilChanged) {
    Tree tree;
    Dialog d;
    d.Init({tree.Entry()});
    d.dlg->OnOK();
    // The walk has written its totals but not yet raised its flag.
    d.view.RunWorker();
    d.view.workers[0].state->m_bScanDone.store(false);
    d.dlg->OnTimer();
    ASSERT_EQ(d.dlg->GetState(), CCleanupDlg::State::Scanning);
    ASSERT_EQ(d.view.screen.rows.size(), 3u);
    d.view.screen.selectedRow = 1;
    d.dlg->OnResultClick();
    EXPECT_EQ(d.view.screen.description, kPchDescription);
    d.dlg->OnTimer();  // the rebuild drops the selection; the text stays
    EXPECT_EQ(d.view.screen.selectedRow, std::nullopt);
    EXPECT_EQ(d.view.screen.description, kPchDescription);
}

// The path a walk from `root` records for `relative` ("/" separated): as enumerated on Linux;
// lowered with backslashes on Windows (the test trees there have ASCII paths).
std::string RecordedPath(const std::string& root, const std::string& relative) {
#ifdef _WIN32
    std::string p = root + relative;
    for (char& ch : p) {
        ch = ch == '/' ? '\\' : (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
    }
    return p;
#else
    return root + relative;
#endif
}

TEST(CleanupDlg, DeleteRunsThePassOnTickedRowsShowsReportAndEnds) {
    struct Case {
        const char* what;
        std::vector<int> tickedRows;
        std::vector<int> categories;
    };
    const Case cases[] = {
        {"nothing ticked", {}, {}},
        {"first and last", {0, 2}, {0, 5}},
        {"all", {0, 1, 2}, {0, 3, 5}},
        {"middle", {1}, {3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree tree;
        Dialog d;
        d.ScanToCompletion(tree.Entry());
        for (const int row : c.tickedRows) {
            d.view.screen.rows[static_cast<std::size_t>(row)].ticked = true;
        }
        d.view.log.clear();
        d.dlg->OnDeleteSelected();
        EXPECT_EQ(d.view.log,
                  (std::vector<std::string>{"AskYesNo", "ShowInformation", "EndDialog"}));
        EXPECT_EQ(d.view.questions, (std::vector<Message>{{kConfirmText, "Confirm Delete"}}));
        ASSERT_EQ(d.deleteCalls.size(), 1u);
        EXPECT_EQ(d.deleteCalls[0].ticked, c.categories);
        EXPECT_EQ(d.deleteCalls[0].root, tree.root);
        // The pass sees the lists the walk recorded, by the paths as enumerated.
        EXPECT_EQ(d.deleteCalls[0].firstPaths[3], RecordedPath(tree.root, "/src/build/app.pch"));
        EXPECT_EQ(d.deleteCalls[0].firstPaths[5], RecordedPath(tree.root, "/photos/Thumbs.db"));
        // The report has no caption of its own.
        EXPECT_EQ(d.view.informations, (std::vector<Message>{{"REPORT", std::nullopt}}));
        EXPECT_EQ(d.view.ends, std::vector<DialogResult>{DialogResult::Ok});
        EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Ended);
    }
}

// The window's file list reads the lists, which is safe only once the walk has finished: before
// the tick that completes, the walk may still be writing them.
TEST(CleanupDlg, RecordedFilesAreOfferedInCompleteOnly) {
    Tree tree;
    Dialog d;
    d.Init({tree.Entry()});
    EXPECT_EQ(d.dlg->FinishedResults(), nullptr);
    d.dlg->OnOK();
    d.view.RunWorker();
    EXPECT_EQ(d.dlg->FinishedResults(), nullptr);  // finished, not yet seen by a tick
    d.dlg->OnTimer();
    const CategoryResults* results = d.dlg->FinishedResults();
    ASSERT_NE(results, nullptr);
    const std::vector<RecordedFile> files = ListRecordedFiles(*results, CAT_THUMBNAIL_CACHE);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].path, RecordedPath(tree.root, "/photos/Thumbs.db"));
    EXPECT_EQ(files[0].size, 20480u);
    ASSERT_EQ(std::remove((tree.dir / "vol [x]/photos/Thumbs.db").c_str()), 0);
    EXPECT_EQ(ListRecordedFiles(*results, CAT_THUMBNAIL_CACHE)[0].size, std::nullopt);
    d.dlg->OnCancel();
    EXPECT_EQ(d.dlg->FinishedResults(), nullptr);
}

#ifndef _WIN32
TEST(CleanupDlg, TheEnginesPassRemovesTickedFilesAndReportsTheCount) {
    struct Case {
        const char* what;
        std::vector<int> tickedRows;
        const char* report;
        bool thumbsLeft;
    };
    const Case cases[] = {
        {"nothing ticked", {}, "0 files were removed.\nThank you for using Clearnook!", true},
        {"thumbnails", {2}, "1 files were removed.\nThank you for using Clearnook!", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree tree;
        FakeView view(FakeView::WorkerMode::Deferred);
        CCleanupDlg dlg(view);  // the program's own delete pass
        dlg.OnInitDialog({tree.Entry()});
        dlg.OnOK();
        view.RunWorker();
        DeliverWakes(view, dlg);
        dlg.OnTimer();
        ASSERT_EQ(dlg.GetState(), CCleanupDlg::State::Complete);
        for (const int row : c.tickedRows) {
            view.screen.rows[static_cast<std::size_t>(row)].ticked = true;
        }
        dlg.OnDeleteSelected();
        EXPECT_EQ(view.informations, (std::vector<Message>{{c.report, std::nullopt}}));
        EXPECT_EQ(::access((tree.root + "/photos/Thumbs.db").c_str(), F_OK) == 0, c.thumbsLeft);
        EXPECT_EQ(::access((tree.root + "/photos/holiday.jpg").c_str(), F_OK), 0);
        EXPECT_EQ(::access((tree.root + "/src/build/app.pch").c_str(), F_OK), 0);
    }
}
#endif

TEST(CleanupDlg, NoToTheConfirmationChangesNothing) {
    Tree tree;
    Dialog d;
    d.ScanToCompletion(tree.Entry());
    d.view.screen.rows[0].ticked = true;
    d.view.screen.rows[2].ticked = true;
    d.view.screen.selectedRow = 1;
    d.view.answerYes = false;
    const Screen before = d.view.screen;
    d.dlg->OnDeleteSelected();
    EXPECT_EQ(d.view.screen, before);
    EXPECT_EQ(d.view.questions.size(), 1u);
    EXPECT_TRUE(d.deleteCalls.empty());
    EXPECT_TRUE(d.view.informations.empty());
    EXPECT_TRUE(d.view.ends.empty());
    EXPECT_EQ(d.dlg->GetState(), CCleanupDlg::State::Complete);

    // The user may change the ticks and try again.
    d.view.screen.rows[0].ticked = false;
    d.view.answerYes = true;
    d.dlg->OnDeleteSelected();
    ASSERT_EQ(d.deleteCalls.size(), 1u);
    EXPECT_EQ(d.deleteCalls[0].ticked, std::vector<int>{5});
}

TEST(CleanupDlg, DeleteBeforeCompletionAsksNothing) {
    Tree tree;
    Dialog d;
    d.Init({tree.Entry()});
    d.dlg->OnDeleteSelected();  // Ready
    d.dlg->OnOK();
    d.dlg->OnDeleteSelected();  // Scanning
    EXPECT_TRUE(d.view.questions.empty());
    EXPECT_TRUE(d.deleteCalls.empty());
    EXPECT_TRUE(d.view.ends.empty());
}

TEST(CleanupDlg, AboutInEveryStateShowsTheBoxAndChangesNothing) {
    struct Case {
        const char* what;
        std::function<void(Dialog&, const DriveEntry&)> reach;
        CCleanupDlg::State state;
    };
    const Case cases[] = {
        {"Ready", [](Dialog& d, const DriveEntry& e) { d.Init({e}); }, CCleanupDlg::State::Ready},
        {"Scanning",
         [](Dialog& d, const DriveEntry& e) {
             d.Init({e});
             d.dlg->OnOK();
             d.dlg->OnTimer();
         },
         CCleanupDlg::State::Scanning},
        {"Complete", [](Dialog& d, const DriveEntry& e) { d.ScanToCompletion(e); },
         CCleanupDlg::State::Complete},
        {"Ended",
         [](Dialog& d, const DriveEntry& e) {
             d.Init({e});
             d.dlg->OnCancel();
         },
         CCleanupDlg::State::Ended},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree tree;
        Dialog d;
        c.reach(d, tree.Entry());
        ASSERT_EQ(d.dlg->GetState(), c.state);
        const Screen before = d.view.screen;
        const std::size_t ends = d.view.ends.size();
        d.dlg->OnAbout();
        EXPECT_EQ(d.view.informations, (std::vector<Message>{{kAboutText, "About Clearnook"}}));
        EXPECT_EQ(d.view.screen, before);
        EXPECT_EQ(d.view.ends.size(), ends);
        EXPECT_EQ(d.dlg->GetState(), c.state);
    }
}

TEST(CleanupDlg, ThreadedScanShowsProgressThenCompletionLast) {
    Tree tree;
    for (int i = 0; i < 40; ++i) {
        tree.dir.File("vol [x]/d" + std::to_string(i) + "/e/f/x.tmp", 1);
    }
    Dialog d(FakeView::WorkerMode::Threaded);
    d.Init({tree.Entry()});
    d.dlg->OnOK();
    // The event loop: wakes and ticks in whatever order the worker's pace gives.
    while (d.dlg->GetState() == CCleanupDlg::State::Scanning) {
        DeliverWakes(d.view, *d.dlg);
        d.dlg->OnTimer();
        std::this_thread::yield();
    }
    DeliverWakes(d.view, *d.dlg);
    d.view.JoinWorker();
    DeliverWakes(d.view, *d.dlg);

    ASSERT_FALSE(d.view.statusTexts.empty());
    EXPECT_EQ(d.view.statusTexts.back(), kComplete);
    for (std::size_t i = 0; i + 1 < d.view.statusTexts.size(); ++i) {
        EXPECT_EQ(d.view.statusTexts[i].rfind("Scanning " + tree.root, 0), 0u)
            << d.view.statusTexts[i];
    }
    ASSERT_EQ(d.view.screen.rows.size(), 3u);
    EXPECT_EQ(d.view.screen.rows[0].size, "43 bytes");
    EXPECT_EQ(d.view.screen.rows[1], kFoundRows[1]);
    EXPECT_EQ(d.view.screen.rows[2], kFoundRows[2]);
}

TEST(CleanupDlg, ThreadedCancelLeavesTheWalkToEndOnItsOwn) {
    Tree tree;
    for (int i = 0; i < 200; ++i) {
        tree.dir.File("vol [x]/d" + std::to_string(i) + "/x.tmp", 1);
    }
    Dialog d(FakeView::WorkerMode::Threaded);
    d.Init({tree.Entry()});
    d.dlg->OnOK();
    while (d.view.pendingWakes.load() == 0) {
        std::this_thread::yield();  // until the walk has surely begun
    }
    d.dlg->OnCancel();
    const std::size_t shown = d.view.statusTexts.size();
    d.dlg.reset();  // the window goes while the walk may still run
    d.view.JoinWorker();
    EXPECT_EQ(d.view.ends, std::vector<DialogResult>{DialogResult::Cancel});
    EXPECT_EQ(d.view.statusTexts.size(), shown);
    EXPECT_TRUE(d.view.workers[0].state->m_bScanDone.load());
}

}  // namespace
}  // namespace clearnook
