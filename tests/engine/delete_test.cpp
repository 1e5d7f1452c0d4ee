#include "engine/delete.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/scan.h"
#include "tests/support/file_holder.h"
#include "tests/support/temp_tree.h"

namespace clearnook {
namespace {

// Remembers every call and fails the paths it is told to.
class FakeDeleter : public FileDeleter {
  public:
    std::set<std::string> failing;
    std::vector<std::string> calls;
    bool Delete(const std::string& path, const platform::FileIdentity&) override {
        calls.push_back(path);
        return failing.count(path) == 0;
    }
};

// File i of category c lies in r/c<c>/.
std::string PathOf(int category, int i) {
    return "r/c" + std::to_string(category) + "/f" + std::to_string(i);
}

void MakeLists(const std::array<int, CATEGORY_COUNT>& sizes, CategoryResults& results) {
    results.directories.SetRoot("r");
    for (int c = 0; c < CATEGORY_COUNT; ++c) {
        const std::uint32_t dir =
            results.directories.Add(RecordedDirectories::kRoot, "c" + std::to_string(c));
        for (int i = 0; i < sizes[static_cast<std::size_t>(c)]; ++i) {
            results.lists[static_cast<std::size_t>(c)].push_back(
                {dir, "f" + std::to_string(i), {1, 1, 1}});
        }
    }
}

const std::string kThanks = " files were removed.\nThank you for using Clearnook!";
const std::string kNote =
    "\n\nNOTE: All selected files could not be removed. Try closing all running programs and "
    "re-scanning your hard drive.";

struct PassCase {
    const char* label;
    std::vector<int> ticked;
    std::array<int, CATEGORY_COUNT> sizes;
    std::vector<std::string> failing;
    std::int32_t removed;
    bool note;
};

void PrintTo(const PassCase& c, std::ostream* os) {
    *os << c.label;
}

class DeletePassTest : public ::testing::TestWithParam<PassCase> {};

TEST_P(DeletePassTest, DeletesTickedListsInOrderAndReports) {
    const PassCase& c = GetParam();
    CategoryResults results;
    MakeLists(c.sizes, results);
    FakeDeleter deleter;
    deleter.failing.insert(c.failing.begin(), c.failing.end());

    const DeleteReport report = RunDeletePass(c.ticked, results, deleter);

    // Every file of every ticked category, once each, in ticked order then recording order; no
    // stop at a failure, no retry, nothing of an unticked category.
    std::vector<std::string> expectedCalls;
    for (const int cat : c.ticked) {
        for (int i = 0; i < c.sizes[static_cast<std::size_t>(cat)]; ++i) {
            expectedCalls.push_back(PathOf(cat, i));
        }
    }
    EXPECT_EQ(deleter.calls, expectedCalls);
    EXPECT_EQ(report.removed, c.removed);
    EXPECT_EQ(report.anyFailed, c.note);
    EXPECT_EQ(report.text, std::to_string(c.removed) + kThanks + (c.note ? kNote : ""));
    EXPECT_EQ(results.lists[0].size(),
              static_cast<std::size_t>(c.sizes[0]));  // nothing written back
}

INSTANTIATE_TEST_SUITE_P(
    Table, DeletePassTest,
    ::testing::Values(
        PassCase{"two_categories_all_removable", {0, 3}, {3, 2, 0, 4, 0, 0}, {}, 7, false},
        PassCase{"two_of_five_fail", {2}, {0, 0, 5, 0, 0, 0}, {"r/c2/f1", "r/c2/f3"}, 3, true},
        PassCase{"first_and_last_fail", {1}, {0, 4, 0, 0, 0, 0}, {"r/c1/f0", "r/c1/f3"}, 2, true},
        PassCase{"empty_selection", {}, {3, 3, 3, 3, 3, 3}, {}, 0, false},
        PassCase{"single_file_keeps_the_plural", {5}, {9, 0, 0, 0, 0, 1}, {}, 1, false},
        PassCase{"ticked_list_is_empty", {4}, {2, 0, 0, 0, 0, 0}, {}, 0, false},
        PassCase{"everything_fails", {0}, {2, 0, 0, 0, 0, 0}, {"r/c0/f0", "r/c0/f1"}, 0, true},
        PassCase{"order_given_is_kept", {5, 1, 3}, {1, 2, 1, 2, 1, 2}, {}, 6, false},
        PassCase{"all_six", {0, 1, 2, 3, 4, 5}, {1, 2, 3, 4, 5, 6}, {"r/c4/f4"}, 20, true},
        PassCase{"unticked_failures_play_no_part", {3}, {2, 0, 0, 1, 0, 0}, {"r/c0/f0"}, 1, false}),
    [](const auto& p) { return std::string(p.param.label); });

struct ReportCase {
    std::int32_t removed;
    bool note;
    std::string expected;
};

void PrintTo(const ReportCase& c, std::ostream* os) {
    *os << c.removed << (c.note ? " with the note" : " without the note");
}

class DeleteReportTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(DeleteReportTest, TextIsExact) {
    EXPECT_EQ(ComposeDeleteReport(GetParam().removed, GetParam().note), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DeleteReportTest,
    ::testing::Values(
        ReportCase{0, false, "0 files were removed.\nThank you for using Clearnook!"},
        ReportCase{1, false, "1 files were removed.\nThank you for using Clearnook!"},
        ReportCase{7, false, "7 files were removed.\nThank you for using Clearnook!"},
        ReportCase{3, true,
                   "3 files were removed.\nThank you for using Clearnook!\n\nNOTE: All selected "
                   "files could not be removed. Try closing all running programs and re-scanning "
                   "your hard drive."},
        ReportCase{0, true,
                   "0 files were removed.\nThank you for using Clearnook!\n\nNOTE: All selected "
                   "files could not be removed. Try closing all running programs and re-scanning "
                   "your hard drive."},
        ReportCase{2147483647, false,
                   "2147483647 files were removed.\nThank you for using Clearnook!"}));

// The whole program path on a real tree: scan, then the pass with the platform's remover.
TEST(DeletePassOnDiskTest, RemovesTickedCategoriesOnly) {
    testing::TempDir t;
    t.File("Temp/a.log", 3);
    t.File("Temp/sub/b.log", 4);
    t.File("x.tmp", 1);
    t.File("Photos/Thumbs.db", 20);
    t.File("src/app.pch", 9);
    t.File("notes.txt", 2);
    auto state = std::make_shared<ScanState>();
    ScanParams params;
    params.rules = RuleChoice::Windows;  // the trees here are laid out for them
    params.path = t.path() + "/";
    params.state = state;
    ScanThreadProc(params);
    ASSERT_EQ(state->results.lists[CAT_TEMP_FILES].size(), 3u);

    const std::vector<int> ticked = {CAT_TEMP_FILES, CAT_THUMBNAIL_CACHE};
    const DeleteReport report = RunDeletePass(ticked, state->results, params.path);

    EXPECT_EQ(report.text, "4" + kThanks);
    for (const char* gone : {"Temp/a.log", "Temp/sub/b.log", "x.tmp", "Photos/Thumbs.db"}) {
        EXPECT_FALSE(testing::Exists(t / gone)) << gone;
    }
    for (const char* kept : {"src/app.pch", "notes.txt", "Temp/sub", "Photos"}) {
        EXPECT_TRUE(testing::Exists(t / kept)) << kept;
    }
    EXPECT_EQ(state->results.lists[CAT_TEMP_FILES].size(), 3u);
    EXPECT_EQ(state->results.SnapshotTotals()[CAT_TEMP_FILES], 8u);

    // A second pass over the same lists finds every file gone: each one is a failure.
    const DeleteReport again = RunDeletePass(ticked, state->results, params.path);
    EXPECT_EQ(again.text, "0" + kThanks + kNote);
}

// A file a running program holds open is kept, and the report carries the note, as on Windows
// where the system itself refuses to delete such a file.
TEST(DeletePassOnDiskTest, KeepsAFileARunningProgramHoldsOpen) {
    testing::TempDir t;
    t.File("Temp/swap.tmp", 1);
    t.File("Temp/old.tmp", 1);
    auto state = std::make_shared<ScanState>();
    ScanParams params;
    params.path = t.path();
    params.state = state;
    ScanThreadProc(params);
    ASSERT_EQ(state->results.lists[CAT_TEMP_FILES].size(), 2u);

    const testing::FileHolder editor({t / "Temp/swap.tmp"}, testing::FileHolder::How::Descriptor);
    ASSERT_TRUE(editor.Holding());
    const DeleteReport report =
        RunDeletePass(std::vector<int>{CAT_TEMP_FILES}, state->results, params.path);

    EXPECT_EQ(report.text, "1" + kThanks + kNote);
    EXPECT_TRUE(testing::Exists(t / "Temp/swap.tmp"));
    EXPECT_FALSE(testing::Exists(t / "Temp/old.tmp"));
}

}  // namespace
}  // namespace clearnook
