// The walk on Windows: real trees made with the ANSI file interfaces, lists holding lower-cased
// paths, status texts with backslashes, the MAX_PATH limit, 64-bit totals.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/categories.h"
#include "engine/scan.h"
#include "platform/win32_testing.h"
#include "tests/support/scan_run.h"
#include "tests/support/temp_tree.h"

namespace clearnook {
namespace {

using testing::TempDir;

using Scan = testing::ScanRun;
using testing::RecordingSink;

// The temporary folder's path is plain ASCII here, so lowering it needs no code page.
std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return s;
}

TEST(ScanWin32Test, ListsRecordLowerCasedPathsAndTotalsAddSizes) {
    TempDir t;
    t.File("Photos/Thumbs.db", 20480);
    t.File("backup.tmp/Notes.TXT", 7);
    t.File("backup.tmp/Old.Tmp", 11);
    t.File("WINDOWS/Help/System.GID", 3);
    t.File("src/Build/App.PCH", 100);
    t.File("Docs/Recent/Letter.LNK", 1);
    t.File("Docs/Desktop/Letter.lnk", 1);
    t.File("Local Settings/Temporary Internet Files/Content.IE5/AB12/Page.HTM", 40);
    t.File("Local Settings/Temporary Internet Files/Direct.htm", 50);
    t.File("x.tmp", 0);
    Scan s;
    s.Run(t.path());
    const std::string l = Lower(t.path());
    EXPECT_EQ(s.Paths(CAT_THUMBNAIL_CACHE), std::vector<std::string>{l + "\\photos\\thumbs.db"});
    EXPECT_EQ(s.Total(CAT_THUMBNAIL_CACHE), 20480u);
    EXPECT_EQ(s.SortedPaths(CAT_TEMP_FILES),
              (std::vector<std::string>{l + "\\backup.tmp\\old.tmp", l + "\\x.tmp"}));
    EXPECT_EQ(s.Total(CAT_TEMP_FILES), 11u);
    EXPECT_EQ(s.Paths(CAT_TEMP_INTERNET_FILES),
              std::vector<std::string>{
                  l + "\\local settings\\temporary internet files\\content.ie5\\ab12\\page.htm"});
    EXPECT_EQ(s.Total(CAT_TEMP_INTERNET_FILES), 40u);
    EXPECT_EQ(s.Paths(CAT_HELP_SUPPORT_FILES),
              std::vector<std::string>{l + "\\windows\\help\\system.gid"});
    EXPECT_EQ(s.Paths(CAT_PRECOMPILED_HEADERS),
              std::vector<std::string>{l + "\\src\\build\\app.pch"});
    EXPECT_EQ(s.Paths(CAT_RECENT_DOCUMENTS),
              std::vector<std::string>{l + "\\docs\\recent\\letter.lnk"});
}

TEST(ScanWin32Test, RecordedPathsNameTheFilesFound) {
    TempDir t;
    t.File("MiXeD/CaSe.TMP", 4);
    Scan s;
    s.Run(t.path());
    ASSERT_EQ(s.Paths(CAT_TEMP_FILES).size(), 1u);
    // The file system ignores case, so the lowered path opens the very file.
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_NE(
        GetFileAttributesExA(s.Paths(CAT_TEMP_FILES)[0].c_str(), GetFileExInfoStandard, &data), 0);
    EXPECT_EQ(data.nFileSizeLow, 4u);
}

TEST(ScanWin32Test, StatusTextsUseTheCaseOnDiskAndBackslashes) {
    TempDir t;
    t.File("WINDOWS/Temp/a.txt");
    t.Dir("WINDOWS/Temp/Sub");
    Scan s;
    s.Run(t.path());
    const std::string r = "Scanning " + t.path();
    EXPECT_EQ(s.sink->texts, (std::vector<std::string>{r, r + "\\WINDOWS", r + "\\WINDOWS\\Temp",
                                                       r + "\\WINDOWS\\Temp\\Sub",
                                                       r + "\\WINDOWS\\Temp", r + "\\WINDOWS", r}));
    EXPECT_EQ(s.Paths(CAT_TEMP_FILES),
              std::vector<std::string>{Lower(t.path()) + "\\windows\\temp\\a.txt"});
}

TEST(ScanWin32Test, HiddenAndSystemDirectoriesAreWalked) {
    TempDir t;
    t.File("Secret/Thumbs.db", 9);
    ASSERT_NE(
        SetFileAttributesA((t / "Secret").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
        0);
    Scan s;
    s.Run(t.path());
    EXPECT_EQ(s.Total(CAT_THUMBNAIL_CACHE), 9u);
}

// A file link (a reparse point; Wine makes none) is neither counted nor recorded: Wine would
// open its target in its place.
TEST(ScanWin32Test, AFileThatIsAReparsePointIsNeverRecorded) {
    TempDir t;
    t.File("Work/Link.tmp", 5);
    t.File("Work/plain.tmp", 3);
    platform::win32_testing::PretendReparsePoint("link.tmp");
    Scan s;
    s.Run(t.path());
    platform::win32_testing::PretendReparsePoint("");
    EXPECT_EQ(s.Paths(CAT_TEMP_FILES),
              std::vector<std::string>{Lower(t.path()) + "\\work\\plain.tmp"});
    EXPECT_EQ(s.Total(CAT_TEMP_FILES), 3u);
}

TEST(ScanWin32Test, UnlistableRootEndsAtOnceWithTheFlagRaised) {
    TempDir t;
    Scan s;
    s.Run(t / "missing");
    EXPECT_EQ(s.sink->texts, std::vector<std::string>{"Scanning " + (t / "missing")});
    for (int c = 0; c < CATEGORY_COUNT; ++c) {
        EXPECT_TRUE(s.Paths(c).empty());
        EXPECT_EQ(s.Total(c), 0u);
    }
}

// A directory of 256 characters or more is met, shown, and contributes nothing.
TEST(ScanWin32Test, DirectoriesPastThePathLimitContributeNothing) {
    TempDir t;
    const std::string fits(255 - t.path().size() - 1, 'a');
    const std::string over(256 - t.path().size() - 1, 'b');
    t.File(fits + "/in.tmp", 2);
    t.File(over + "/in.tmp", 3);
    Scan s;
    s.Run(t.path());
    EXPECT_EQ(s.Paths(CAT_TEMP_FILES), std::vector<std::string>{Lower(t / fits) + "\\in.tmp"});
    EXPECT_EQ(s.Total(CAT_TEMP_FILES), 2u);
    const std::string overText = "Scanning " + (t / over);
    EXPECT_EQ(std::count(s.sink->texts.begin(), s.sink->texts.end(), overText), 1);
}

TEST(ScanWin32Test, FilesPast4GiBCountInFull) {
    TempDir t;
    const std::uint64_t big = 5ull << 30;
    t.File("huge.tmp", big);
    t.File("Temp/other", 1);
    Scan s;
    s.Run(t.path());
    EXPECT_EQ(s.Total(CAT_TEMP_FILES), big + 1);
    EXPECT_EQ(FormatSize(s.Total(CAT_TEMP_FILES)), "5.00 GB");
}

// The window passes the drive's two-character name; the walk joins it with one backslash.
TEST(ScanWin32Test, WalksADriveFromItsTwoCharacterName) {
    TempDir t;
    t.File("Deep/Thumbs.db", 11);
    const std::string drive = t.path().substr(0, 2);
    ASSERT_EQ(drive[1], ':');
    ScanParams p;
    p.path = drive;
    p.state = std::make_shared<ScanState>();
    std::shared_ptr<ScanState> state = p.state;
    auto sink = std::make_shared<RecordingSink>();
    p.statusSink = sink;
    EXPECT_EQ(ScanThreadProc(p), 0u);
    EXPECT_EQ(sink->texts.front(), "Scanning " + drive);
    EXPECT_EQ(sink->texts.back(), "Scanning " + drive);
    EXPECT_EQ(sink->texts[1].substr(0, 12), "Scanning " + drive + "\\");
    const auto& thumbs = state->results.lists[CAT_THUMBNAIL_CACHE];
    const std::string expected = Lower(t.path()) + "\\deep\\thumbs.db";
    EXPECT_EQ(
        std::count_if(thumbs.begin(), thumbs.end(),
                      [&](const FoundFile& f) { return state->results.PathOf(f) == expected; }),
        1);
}

TEST(ScanWin32Test, WorkerPublishesListsWithTheFlag) {
    TempDir t;
    for (int i = 0; i < 100; ++i) {
        t.File("Temp/" + std::to_string(i / 10) + "/f" + std::to_string(i), 1);
    }
    ScanParams p;
    p.path = t.path();
    p.state = std::make_shared<ScanState>();
    std::shared_ptr<ScanState> state = p.state;
    ASSERT_TRUE(StartScanThread(std::move(p)));
    std::uint64_t last = 0;
    while (!state->m_bScanDone.load(std::memory_order_acquire)) {
        const std::uint64_t now = state->results.SnapshotTotals()[CAT_TEMP_FILES];
        EXPECT_GE(now, last);
        last = now;
        std::this_thread::yield();
    }
    EXPECT_EQ(state->results.lists[CAT_TEMP_FILES].size(), 100u);
    EXPECT_EQ(state->results.SnapshotTotals()[CAT_TEMP_FILES], 100u);
}

// In a double-byte code page (the run in the Japanese locale: code page 932) the second byte of a
// character can be 0x5C, the backslash: katakana so is 0x83 0x5C, the kanji hyo 0x95 0x5C.
class DoubleByteCodePageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* want = std::getenv("CLEARNOOK_EXPECT_ACP")) {
            ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(want)));
        }
        if (GetACP() != 932) {
            GTEST_SKIP() << "code page " << GetACP();
        }
    }
};

const std::string kSo = "\x83\x5C";
const std::string kHyo = "\x95\x5C";

// A folder whose name ends in such a byte is listed as itself, and joined with a backslash.
TEST_F(DoubleByteCodePageTest, AFolderEndingInTheByte0x5CIsListedAndJoinedAsItself) {
    TempDir t;
    t.File("docs/" + kSo + "/inside.tmp", 2);
    t.File("docs/" + kSo + "/sub/deeper.tmp", 3);
    t.File("docs/" + kSo + "sibling.tmp", 5);
    const std::string l = Lower(t.path());
    const std::vector<std::string> found = {l + "\\docs\\" + kSo + "\\inside.tmp",
                                            l + "\\docs\\" + kSo + "\\sub\\deeper.tmp",
                                            l + "\\docs\\" + kSo + "sibling.tmp"};
    Scan s;
    s.Run(t.path());
    EXPECT_EQ(s.SortedPaths(CAT_TEMP_FILES), found);
    EXPECT_EQ(s.Total(CAT_TEMP_FILES), 10u);
    EXPECT_EQ(std::count(s.sink->texts.begin(), s.sink->texts.end(),
                         "Scanning " + (t / ("docs/" + kSo + "/sub"))),
              1);
    // The same folder as the root of a walk.
    Scan root;
    root.Run(t / ("docs/" + kSo));
    EXPECT_EQ(root.SortedPaths(CAT_TEMP_FILES),
              std::vector<std::string>(found.begin(), found.end() - 1));
    EXPECT_EQ(root.sink->texts[1], "Scanning " + (t / ("docs/" + kSo + "/sub")));
}

// A marker completed by a character's second byte is no marker.
TEST_F(DoubleByteCodePageTest, MarkersBeginAtACharacter) {
    TempDir t;
    t.File("x/" + kSo + "temp/report.doc", 1);
    t.File("u/" + kHyo + "recent/x.lnk", 2);
    t.File("u/" + kHyo + "/recent/y.lnk", 4);  // a character, then a folder named recent
    t.File("v/" + kSo + "temporary internet files/content.ie5/page.htm", 8);
    Scan s;
    s.Run(t.path());
    EXPECT_EQ(s.Recorded(), 1u);
    EXPECT_EQ(s.Paths(CAT_RECENT_DOCUMENTS),
              std::vector<std::string>{Lower(t.path()) + "\\u\\" + kHyo + "\\recent\\y.lnk"});
}

struct MarkerCase {
    const char* path;
    std::optional<CleanupCategory> category;
};

void PrintTo(const MarkerCase& c, std::ostream* os) {
    *os << ::testing::PrintToString(c.path);
}

class DoubleByteMarkerTest : public DoubleByteCodePageTest,
                             public ::testing::WithParamInterface<MarkerCase> {};

// Whether a 0x5C is a backslash depends on the bytes before it that can begin a character: after
// an even run of them it is one, after an odd run it is a character's second byte.
TEST_P(DoubleByteMarkerTest, ClassifyFileStepsByCharacters) {
    const std::string path = GetParam().path;
    EXPECT_EQ(ClassifyFile(path, path.substr(path.rfind('\\') + 1)), GetParam().category);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DoubleByteMarkerTest,
    ::testing::Values(MarkerCase{"c:\\a\\\x83\x5Ctemp\\r.doc", std::nullopt},
                      MarkerCase{"c:\\a\\\x83\x83\x5Ctemp\\r.doc", CAT_TEMP_FILES},
                      MarkerCase{"c:\\a\\\x83\x83\x83\x5Ctemp\\r.doc", std::nullopt},
                      MarkerCase{"c:\\a\\\xB1\x5Ctemp\\r.doc", CAT_TEMP_FILES},
                      MarkerCase{"c:\\u\\\x95\x5Crecent\\x.lnk", std::nullopt},
                      MarkerCase{"c:\\u\\\x95\x5C\\recent\\x.lnk", CAT_RECENT_DOCUMENTS}));

}  // namespace
}  // namespace clearnook
