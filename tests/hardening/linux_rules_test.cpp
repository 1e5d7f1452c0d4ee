// A Linux system on its own drive, as a desktop user keeps one, classified by both rule sets:
// the Linux rules find the clutter where Linux keeps it and nothing a user needs; the Windows
// rules stay exactly what they were.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "tests/support/fault_syscalls.h"
#include "tests/support/scan_run.h"
#include "tests/support/temp_tree.h"

namespace clearnook {
namespace {

using testing::FaultInjector;
using testing::TempDir;

constexpr int kNone = -1;

struct TreeFile {
    const char* path;
    int days;  // how long ago it was last touched
    int linux;
    int windows;
};

const TreeFile kTree[] = {
    // the clutter
    {"home/me/.cache/thumbnails/normal/0a1b.png", 0, CAT_THUMBNAIL_CACHE, kNone},
    {"home/me/.thumbnails/large/2c3d.png", 0, CAT_THUMBNAIL_CACHE, kNone},
    {"home/me/.cache/mozilla/firefox/ab12.default-release/cache2/entries/E1", 0,
     CAT_TEMP_INTERNET_FILES, kNone},
    {"home/me/.cache/mozilla/firefox/ab12.default-release/startupCache/s.bin", 0,
     CAT_TEMP_INTERNET_FILES, kNone},
    {"home/me/.cache/google-chrome/Default/Cache/Cache_Data/f_000001", 0, CAT_TEMP_INTERNET_FILES,
     kNone},
    {"home/me/.cache/chromium/Profile 1/Code Cache/js/index", 0, CAT_TEMP_INTERNET_FILES, kNone},
    {"home/me/.cache/BraveSoftware/Brave-Browser/Default/GPUCache/data_0", 0,
     CAT_TEMP_INTERNET_FILES, kNone},
    {"home/me/.var/app/org.mozilla.firefox/cache/mozilla/firefox/p.default/cache2/e", 0,
     CAT_TEMP_INTERNET_FILES, kNone},
    {"home/me/snap/chromium/common/.cache/chromium/Default/Cache/f", 0, CAT_TEMP_INTERNET_FILES,
     kNone},
    {"home/me/.local/share/recently-used.xbel", 0, CAT_RECENT_DOCUMENTS, kNone},
    {"home/me/.local/share/RecentDocuments/letter.odt.desktop", 0, CAT_RECENT_DOCUMENTS, kNone},
    {"home/me/src/app.h.gch", 0, CAT_PRECOMPILED_HEADERS, kNone},
    {"home/me/src/stdafx.PCH", 0, CAT_PRECOMPILED_HEADERS, CAT_PRECOMPILED_HEADERS},
    {"home/me/Downloads/setup.tmp", 0, CAT_TEMP_FILES, CAT_TEMP_FILES},
    {"tmp/build-1234/old.log", 40, CAT_TEMP_FILES, kNone},
    {"var/tmp/older.dat", 40, CAT_TEMP_FILES, kNone},
    {"home/me/.old.txt.swp", 40, CAT_TEMP_FILES, CAT_TEMP_FILES},
    {"home/me/.wine/drive_c/windows/temp/setup.log", 0, CAT_TEMP_FILES, CAT_TEMP_FILES},
    {"home/me/.wine/drive_c/users/me/Recent/a.lnk", 0, CAT_RECENT_DOCUMENTS, CAT_RECENT_DOCUMENTS},
    {"home/me/Pictures/Thumbs.db", 0, CAT_THUMBNAIL_CACHE, CAT_THUMBNAIL_CACHE},
    // what the user needs
    {"tmp/young.log", 2, kNone, kNone},
    {"tmp/.X0-lock", 40, kNone, kNone},
    {"var/tmp/month.dat", 20, kNone, kNone},
    {"home/me/tmp/notes.txt", 40, kNone, kNone},  // the user's own tmp, not shared
    {"home/me/Documents/temp/report.doc", 0, kNone, CAT_TEMP_FILES},
    {"home/me/temp/thesis.odt", 40, kNone, CAT_TEMP_FILES},
    {"home/me/.notes.txt.swp", 0, kNone, CAT_TEMP_FILES},  // a live vim session's
    {"home/me/movie.swf", 40, kNone, kNone},
    {"home/me/.mozilla/firefox/ab12.default-release/cookies.sqlite", 0, kNone, kNone},
    {"home/me/.cache/mozilla/firefox/ab12.default-release/sessionstore.jsonlz4", 0, kNone, kNone},
    {"home/me/.config/google-chrome/Default/Cookies", 0, kNone, kNone},
    {"home/me/.ssh/id_ed25519", 0, kNone, kNone},
    {"home/me/.cache/other-app/Cache/data.bin", 0, kNone, kNone},
    {"home/me/.local/share/Trash/files/recently-used.xbel", 0, kNone, kNone},
    {"home/me/Music/song.mp3", 0, kNone, kNone},
};

struct RulesCase {
    RuleChoice rules;
    unsigned threads;
};

class LinuxTreeTest : public ::testing::TestWithParam<RulesCase> {};

TEST_P(LinuxTreeTest, EachFileInTheCategoryOfItsRules) {
    const RulesCase& c = GetParam();
    TempDir t;
    const std::time_t now = std::time(nullptr);
    for (const TreeFile& f : kTree) {
        t.File(f.path, 1);
        const struct timespec when[2] = {{now - f.days * 86'400L, 0}, {now - f.days * 86'400L, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (t / f.path).c_str(), when, AT_SYMLINK_NOFOLLOW), 0);
    }
    ASSERT_EQ(::chmod((t / "tmp").c_str(), 01777), 0);
    ASSERT_EQ(::chmod((t / "var/tmp").c_str(), 01777), 0);
    // A file's change and birth times cannot be set: here they, and its access time, are its
    // modification time, which can.
    FaultInjector injector;
    injector.SetStatxAnswer([](struct statx& sx) {
        sx.stx_atime = sx.stx_mtime;
        sx.stx_ctime = sx.stx_mtime;
        sx.stx_btime = sx.stx_mtime;
    });
    testing::ScanRun run;
    run.rules = c.rules;
    run.threads = c.threads;
    run.Run(t.path());
    EXPECT_EQ(run.state->results.rules,
              c.rules == RuleChoice::Windows ? RuleSet::Windows : RuleSet::Linux);
    std::map<std::string, int> got;
    for (int cat = 0; cat < CATEGORY_COUNT; ++cat) {
        for (const std::string& p : run.Paths(cat)) {
            got[p] = cat;
        }
    }
    for (const TreeFile& f : kTree) {
        const auto it = got.find(t / f.path);
        const int expected = c.rules == RuleChoice::Windows ? f.windows : f.linux;
        EXPECT_EQ(it == got.end() ? kNone : it->second, expected) << f.path;
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, LinuxTreeTest,
                         ::testing::Values(RulesCase{RuleChoice::Auto, 1},
                                           RulesCase{RuleChoice::Linux, 2},
                                           RulesCase{RuleChoice::Windows, 1}),
                         [](const auto& p) {
                             const char* set = p.param.rules == RuleChoice::Windows ? "windows"
                                               : p.param.rules == RuleChoice::Linux ? "linux"
                                                                                    : "auto";
                             return std::string(set) + "_" + std::to_string(p.param.threads);
                         });

}  // namespace
}  // namespace clearnook
