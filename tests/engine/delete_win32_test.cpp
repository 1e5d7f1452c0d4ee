// The delete pass on Windows: a real scan, then the removal of the files it recorded, each only
// while its recorded path still leads to the very file the scan saw.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/delete.h"
#include "engine/scan.h"
#include "platform/win32_testing.h"
#include "tests/support/temp_tree.h"

namespace clearnook {
namespace {

using testing::TempDir;

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::shared_ptr<ScanState> ScanTree(const std::string& root) {
    ScanParams p;
    p.path = root;
    p.state = std::make_shared<ScanState>();
    EXPECT_EQ(ScanThreadProc(p), 0u);
    return p.state;
}

std::string Report(int removed, bool note) {
    return std::to_string(removed) + " files were removed.\nThank you for using Clearnook!" +
           (note ? "\n\nNOTE: All selected files could not be removed. Try closing all running "
                   "programs and re-scanning your hard drive."
                 : "");
}

struct Case {
    const char* name;
    std::vector<int> ticked;
    int removed;
    bool note;
    std::vector<const char*> gone;  // relative paths deleted
    std::vector<const char*> kept;  // relative paths left alone
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class DeletePassWin32Test : public ::testing::TestWithParam<Case> {};

// The tree: three temporary files (one read-only, one held open), two thumbnail caches, a
// precompiled header.
TEST_P(DeletePassWin32Test, RemovesTheTickedCategoriesByTheirLoweredPaths) {
    const Case& c = GetParam();
    TempDir t;
    t.File("Work/A.TMP", 3);
    t.File("Work/ReadOnly.tmp", 4);
    t.File("Work/Busy.tmp", 5);
    t.File("Photos/Thumbs.db", 6);
    t.File("Photos/Old/THUMBS.DB", 7);
    t.File("Build/App.pch", 8);
    ASSERT_NE(SetFileAttributesA((t / "Work/ReadOnly.tmp").c_str(), FILE_ATTRIBUTE_READONLY), 0);
    const HANDLE busy = CreateFileA((t / "Work/Busy.tmp").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);

    const std::shared_ptr<ScanState> state = ScanTree(t.path());
    const DeleteReport report = RunDeletePass(c.ticked, state->results, t.path());
    CloseHandle(busy);
    SetFileAttributesA((t / "Work/ReadOnly.tmp").c_str(), FILE_ATTRIBUTE_NORMAL);

    EXPECT_EQ(report.removed, c.removed);
    EXPECT_EQ(report.anyFailed, c.note);
    EXPECT_EQ(report.text, Report(c.removed, c.note));
    for (const char* g : c.gone) {
        EXPECT_FALSE(Exists(t / g)) << g;
    }
    for (const char* k : c.kept) {
        EXPECT_TRUE(Exists(t / k)) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeletePassWin32Test,
    ::testing::Values(Case{"nothing_ticked",
                           {},
                           0,
                           false,
                           {},
                           {"Work/A.TMP", "Photos/Thumbs.db", "Build/App.pch"}},
                      Case{"thumbnails",
                           {CAT_THUMBNAIL_CACHE},
                           2,
                           false,
                           {"Photos/Thumbs.db", "Photos/Old/THUMBS.DB"},
                           {"Work/A.TMP", "Build/App.pch"}},
                      Case{"temp_with_refusals",
                           {CAT_TEMP_FILES},
                           1,
                           true,
                           {"Work/A.TMP"},
                           {"Work/ReadOnly.tmp", "Work/Busy.tmp", "Photos/Thumbs.db"}},
                      Case{"two_categories",
                           {CAT_PRECOMPILED_HEADERS, CAT_THUMBNAIL_CACHE},
                           3,
                           false,
                           {"Build/App.pch", "Photos/Thumbs.db"},
                           {"Work/A.TMP"}}));

// What happens between the scan and the pass, to the scanned tree `t` or with `other`, a tree
// outside it that holds Work/a.tmp too.
struct SwapCase {
    const char* name;
    void (*change)(const TempDir& t, const TempDir& other);
    std::vector<const char*> keptInScan;  // relative to t
};

void PrintTo(const SwapCase& c, std::ostream* os) {
    *os << c.name;
}

class DeleteAfterSwapTest : public ::testing::TestWithParam<SwapCase> {};

TEST_P(DeleteAfterSwapTest, RemovesNothingTheScanDidNotSee) {
    TempDir other;  // outlives t, so a link from t to it is removed while it leads somewhere
    TempDir t;
    t.File("Work/a.tmp", 3);
    other.File("Work/a.tmp", 4);
    const std::shared_ptr<ScanState> state = ScanTree(t.path());
    ASSERT_EQ(state->results.lists[CAT_TEMP_FILES].size(), 1u);
    GetParam().change(t, other);
    if (::testing::Test::IsSkipped()) {
        return;
    }
    const std::vector<int> ticked = {CAT_TEMP_FILES};
    const DeleteReport report = RunDeletePass(ticked, state->results, t.path());
    platform::win32_testing::PretendReparsePoint("");
    EXPECT_EQ(report.text, Report(0, true));
    EXPECT_TRUE(Exists(other / "Work/a.tmp"));
    for (const char* k : GetParam().keptInScan) {
        EXPECT_TRUE(Exists(t / k)) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeleteAfterSwapTest,
    ::testing::Values(
        // The folder on the way is moved aside and a link to the other tree put in its place.
        SwapCase{"folder_swapped_for_a_link",
                 [](const TempDir& scanned, const TempDir& other) {
                     ASSERT_NE(MoveFileA((scanned / "Work").c_str(), (scanned / "Moved").c_str()),
                               0);
                     if (!testing::MakeDirectoryLink(scanned / "Work", other / "Work")) {
                         GTEST_SKIP() << "no directory links here";
                     }
                 },
                 {"Moved/a.tmp"}},
        // Another file takes the name while the scanned one still exists, so it cannot get the
        // scanned one's index.
        SwapCase{"file_replaced_by_another",
                 [](const TempDir& scanned, const TempDir&) {
                     scanned.File("Work/new.bin", 5);
                     ASSERT_NE(
                         MoveFileExA((scanned / "Work/new.bin").c_str(),
                                     (scanned / "Work/a.tmp").c_str(), MOVEFILE_REPLACE_EXISTING),
                         0);
                 },
                 {"Work/a.tmp"}},
        // The scanned file is deleted and another made under its name, until the file system
        // gives the new one the old one's index (ext4 under Wine hands out the inode just freed;
        // FAT and exFAT make indexes up from where an entry lies).
        SwapCase{"file_made_again_with_the_old_index",
                 [](const TempDir& scanned, const TempDir&) {
                     const std::string path = scanned / "Work/a.tmp";
                     const std::uint64_t index = testing::FileIdentityAt(path).inode;
                     for (int i = 0; i < 20; ++i) {
                         ASSERT_NE(DeleteFileA(path.c_str()), 0);
                         scanned.File("Work/a.tmp", 3);
                         if (testing::FileIdentityAt(path).inode == index) {
                             return;
                         }
                     }
                     GTEST_SKIP() << "the file system gives a new file another index";
                 },
                 {"Work/a.tmp"}},
        // The scanned file turns out to be a reparse point (a file link; Wine makes none, and
        // opens a link's target even when the link itself is asked for).
        SwapCase{"file_now_a_reparse_point",
                 [](const TempDir&, const TempDir&) {
                     platform::win32_testing::PretendReparsePoint("a.tmp");
                 },
                 {"Work/a.tmp"}}));

// A folder whose first file is a link to a file on another volume: under Wine the link's own
// identity is its target's, volume included. The folder's other files are still the files the
// scan saw and are removed; the target is not.
TEST(DeletePassWin32Test, FilesBesideALinkToAnotherVolumeAreRemoved) {
    TempDir t;
    TempDir elsewhere("Z:\\tmp");  // under Wine the host's /tmp, drive Z:
    if (elsewhere.path().empty() || testing::FileIdentityAt(t.path()).device ==
                                        testing::FileIdentityAt(elsewhere.path()).device) {
        GTEST_SKIP() << "no folder on another volume";
    }
    elsewhere.File("target.tmp", 2);
    for (const char* name : {"a.tmp", "b.tmp", "c.tmp", "d.tmp"}) {
        t.File(std::string("Work/") + name, 1);
    }
    // The file the folder's listing gives first becomes the link.
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA((t / "Work/*.tmp").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    FindClose(find);
    const std::string first = t / (std::string("Work/") + data.cFileName);
    ASSERT_NE(DeleteFileA(first.c_str()), 0);
    if (!testing::MakeFileLink(first, elsewhere / "target.tmp")) {
        GTEST_SKIP() << "no file links here";
    }

    const std::shared_ptr<ScanState> state = ScanTree(t.path());
    ASSERT_EQ(state->results.lists[CAT_TEMP_FILES].size(), 4u);
    const std::vector<int> ticked = {CAT_TEMP_FILES};
    const DeleteReport report = RunDeletePass(ticked, state->results, t.path());
    EXPECT_EQ(report.text, Report(3, true));
    EXPECT_TRUE(Exists(elsewhere / "target.tmp"));
    EXPECT_TRUE(Exists(first));
}

TEST(DeletePassWin32Test, AFileGoneBeforeThePassIsAFailure) {
    TempDir t;
    t.File("x.tmp", 1);
    t.File("y.tmp", 1);
    const std::shared_ptr<ScanState> state = ScanTree(t.path());
    ASSERT_NE(DeleteFileA((t / "x.tmp").c_str()), 0);
    const std::vector<int> ticked = {CAT_TEMP_FILES};
    const DeleteReport report = RunDeletePass(ticked, state->results, t.path());
    EXPECT_EQ(report.text, Report(1, true));
}

}  // namespace
}  // namespace clearnook
