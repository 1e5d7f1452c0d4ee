#include "engine/scan.h"

#include <dirent.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fault_syscalls.h"
#include "tests/support/process_probe.h"
#include "tests/support/recording_sink.h"
#include "tests/support/scan_run.h"
#include "tests/support/temp_tree.h"

namespace clearnook {
namespace {

using testing::IdentityAt;
using testing::RecordingSink;
using testing::TempDir;

using Scan = testing::ScanRun;

// The names of `dir` in the order the file system lists them, dots left out.
std::vector<std::string> ListingOrder(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    while (const dirent* e = d != nullptr ? ::readdir(d) : nullptr) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            names.emplace_back(e->d_name);
        }
    }
    if (d != nullptr) {
        ::closedir(d);
    }
    return names;
}

TEST(ScanTest, RecordsPathsAsEnumeratedAndSizesPerCategory) {
    TempDir t;
    t.File("Photos/Thumbs.db", 20480);
    t.File("backup.tmp/Notes.TXT", 7);
    t.File("backup.tmp/Old.Tmp", 11);
    t.File("WINDOWS/Help/System.GID", 3);
    t.File("src/Build/App.PCH", 100);
    t.File("Docs/Recent/Letter.LNK", 1);
    t.File("Docs/Desktop/Letter.lnk", 1);
    t.File("x.tmp", 0);
    Scan s;
    s.Run(t.path());
    EXPECT_EQ(s.Paths(CAT_THUMBNAIL_CACHE), std::vector<std::string>{t / "Photos/Thumbs.db"});
    EXPECT_EQ(s.Total(CAT_THUMBNAIL_CACHE), 20480u);
    // a directory named backup.tmp is walked, never recorded itself
    std::vector<std::string> temp = s.Paths(CAT_TEMP_FILES);
    std::sort(temp.begin(), temp.end());
    EXPECT_EQ(temp, (std::vector<std::string>{t / "backup.tmp/Old.Tmp", t / "x.tmp"}));
    EXPECT_EQ(s.Total(CAT_TEMP_FILES), 11u);  // the empty x.tmp is listed but adds nothing
    EXPECT_EQ(s.Paths(CAT_HELP_SUPPORT_FILES),
              std::vector<std::string>{t / "WINDOWS/Help/System.GID"});
    EXPECT_EQ(s.Paths(CAT_PRECOMPILED_HEADERS), std::vector<std::string>{t / "src/Build/App.PCH"});
    EXPECT_EQ(s.Paths(CAT_RECENT_DOCUMENTS),
              std::vector<std::string>{t / "Docs/Recent/Letter.LNK"});
    EXPECT_TRUE(s.Paths(CAT_TEMP_INTERNET_FILES).empty());
}

TEST(ScanTest, ListsKeepEnumerationOrder) {
    TempDir t;
    for (int i = 0; i < 50; ++i) {
        t.File("Temp/f" + std::to_string(i), i % 3 == 0 ? 3u : 5u);
    }
    Scan s;
    s.Run(t.path());
    std::vector<std::string> expected;
    std::uint64_t total = 0;
    for (const std::string& n : ListingOrder(t / "Temp")) {
        expected.push_back(t / "Temp/" + n);
        total += std::stoi(n.substr(1)) % 3 == 0 ? 3u : 5u;
    }
    EXPECT_EQ(s.Paths(CAT_TEMP_FILES), expected);
    EXPECT_EQ(s.Total(CAT_TEMP_FILES), total);
}

TEST(ScanTest, StatusTextsAtEveryDirectoryEnteredAndEveryReturn) {
    TempDir t;
    t.File("WINDOWS/Temp/a.txt");
    t.Dir("WINDOWS/Temp/Sub");
    Scan s;
    s.Run(t.path());
    const std::string r = "Scanning " + t.path();
    EXPECT_EQ(s.sink->texts, (std::vector<std::string>{r, r + "/WINDOWS", r + "/WINDOWS/Temp",
                                                       r + "/WINDOWS/Temp/Sub", r + "/WINDOWS/Temp",
                                                       r + "/WINDOWS", r}));
}

TEST(ScanTest, RootGivenWithTrailingSlashJoinsWithOneSlash) {
    TempDir t;
    t.File("a/b.tmp", 1);
    Scan s;
    s.Run(t.path() + "/");
    EXPECT_EQ(s.Paths(CAT_TEMP_FILES), std::vector<std::string>{t.path() + "/a/b.tmp"});
    EXPECT_EQ(s.sink->texts.front(), "Scanning " + t.path() + "/");
}

TEST(ScanTest, UnlistableRootEndsAtOnceWithTheFlagRaised) {
    TempDir t;
    Scan s;
    s.Run(t / "missing");
    EXPECT_EQ(s.Recorded(), 0u);
    EXPECT_EQ(s.sink->texts, std::vector<std::string>{"Scanning " + (t / "missing")});
    for (int c = 0; c < CATEGORY_COUNT; ++c) {
        EXPECT_EQ(s.Total(c), 0u);
    }
}

TEST(ScanTest, RecordsTheIdentityOfTheRootItWalked) {
    TempDir t;
    t.File("real/a.tmp", 1);
    ASSERT_EQ(::symlink((t / "real").c_str(), (t / "alias").c_str()), 0);
    const platform::FileIdentity real = IdentityAt(t / "real");
    struct Case {
        std::string root;
        platform::FileIdentity expected;
    };
    for (const Case& c : {Case{t / "real", real}, Case{t / "alias", real},
                          Case{t / "missing", platform::FileIdentity{}}}) {
        Scan s;
        s.Run(c.root);
        EXPECT_EQ(s.state->results.rootIdentity.directory, c.expected) << c.root;
    }
}

TEST(ScanTest, LinksAreFilesAndAreNeverFollowed) {
    TempDir t;
    t.File("target/inner.tmp", 4);
    ASSERT_EQ(::symlink((t / "target").c_str(), (t / "dirlink").c_str()), 0);
    ASSERT_EQ(::symlink("/", (t / "rootlink").c_str()), 0);
    ASSERT_EQ(::symlink(".", (t / "loop").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (t / "dangling.tmp").c_str()), 0);
    ASSERT_EQ(::mkfifo((t / "pipe.tmp").c_str(), 0644), 0);
    Scan s;
    s.Run(t.path());
    std::vector<std::string> temp = s.Paths(CAT_TEMP_FILES);
    std::sort(temp.begin(), temp.end());
    EXPECT_EQ(temp, (std::vector<std::string>{t / "dangling.tmp", t / "target/inner.tmp"}));
    EXPECT_EQ(s.Total(CAT_TEMP_FILES), 4u + std::strlen("nowhere"));  // the link's own size
}

TEST(ScanTest, CaseAndOddBytesOnlyMatterThroughLowering) {
    TempDir t;
    const std::string odd = "caf\xe9\xff";  // not UTF-8
    t.File("TEMP/" + odd, 2);
    t.File(odd + ".TMP", 3);
    t.File("Recent/" + odd + ".Lnk", 5);
    // A backslash in a Linux name is a character: unzipped from a Windows archive, "a\\temp\\"
    // is no temp folder.
    t.File("a\\temp\\b.txt", 7);
    t.File("tEmP\\c.txt", 11);
    Scan s;
    s.Run(t.path());
    std::vector<std::string> temp = s.Paths(CAT_TEMP_FILES);
    std::sort(temp.begin(), temp.end());
    std::vector<std::string> expected = {t / "TEMP/" + odd, t / odd + ".TMP"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(temp, expected);
    EXPECT_EQ(s.Total(CAT_TEMP_FILES), 5u);
    EXPECT_EQ(s.Paths(CAT_RECENT_DOCUMENTS),
              std::vector<std::string>{t / "Recent/" + odd + ".Lnk"});
}

TEST(ScanTest, SparseFilesPast4GiBCountInFull) {
    TempDir t;
    const std::uint64_t big = 5ull << 30;
    t.File("huge.tmp", big);
    t.File("Temp/other", 1);
    Scan s;
    s.Run(t.path());
    EXPECT_EQ(s.Total(CAT_TEMP_FILES), big + 1);
    EXPECT_EQ(FormatSize(s.Total(CAT_TEMP_FILES)), "5.00 GB");
}

TEST(ScanTest, LargeDirectory) {
    TempDir t;
    t.Dir("big");
    for (int i = 0; i < 20000; ++i) {
        t.File("big/" + std::to_string(i) + (i % 4 == 0 ? ".tmp" : ".dat"));
    }
    Scan s;
    s.Run(t.path());
    EXPECT_EQ(s.Paths(CAT_TEMP_FILES).size(), 5000u);
}

class DeepChainTest : public ::testing::TestWithParam<rlim_t> {};

TEST_P(DeepChainTest, WalksAHundredThousandLevelsWithFewDescriptors) {
    TempDir t(TempDir::Where::Memory);
    constexpr std::size_t kDepth = 100000;
    testing::MakeChain(t.path(), kDepth, "d", "bottom.tmp");

    // Counts the texts (each up to 200 KB long here) without keeping them, and samples the
    // descriptors the walk holds on the way down and back up.
    std::size_t calls = 0;
    std::size_t most = 0;
    const std::size_t before = testing::OpenDescriptorCount();
    auto counter = std::make_shared<RecordingSink>();
    counter->keep = false;
    counter->onText = [&](std::string_view) {
        if (++calls % 997 == 0) {
            most = std::max(most, testing::OpenDescriptorCount());
        }
    };
    Scan s;
    {
        const testing::SoftDescriptorLimit low(GetParam());
        s.Run(t.path(), counter);
    }

    std::string bottom = t.path();
    for (std::size_t i = 0; i < kDepth; ++i) {
        bottom += "/d";
    }
    EXPECT_EQ(s.Paths(CAT_TEMP_FILES), std::vector<std::string>{bottom + "/bottom.tmp"});
    EXPECT_LE(most, before + std::min<std::size_t>(128, GetParam() / 8) + 1);  // the walk's share
    EXPECT_EQ(testing::OpenDescriptorCount(), before);
    EXPECT_EQ(calls, 2 * kDepth + 1);
}

INSTANTIATE_TEST_SUITE_P(SoftLimits, DeepChainTest, ::testing::Values(rlim_t{16}, rlim_t{4096}));

TEST(ScanTest, StopRequestEndsTheWalk) {
    TempDir t;
    for (int i = 0; i < 20; ++i) {
        t.File("d" + std::to_string(i) + "/x.tmp", 1);
    }
    Scan s;
    s.sink->onText = [&](std::string_view) {
        if (s.sink->texts.size() == 3) {
            s.state->stopRequested = true;
        }
    };
    s.Run(t.path());
    EXPECT_LE(s.Recorded(), 2u);
    EXPECT_EQ(s.sink->texts.size(), 3u);
}

TEST(ScanTest, WorkerPublishesListsWithTheFlag) {
    TempDir t;
    for (int i = 0; i < 200; ++i) {
        t.File("Temp/" + std::to_string(i / 20) + "/f" + std::to_string(i), 1);
    }
    ScanParams p;
    p.rules = RuleChoice::Windows;  // the trees here are laid out for them
    p.path = t.path();
    p.state = std::make_shared<ScanState>();
    std::shared_ptr<ScanState> state = p.state;
    ASSERT_TRUE(StartScanThread(std::move(p)));
    std::uint64_t last = 0;
    while (!state->m_bScanDone.load(std::memory_order_acquire)) {
        const std::uint64_t now = state->results.SnapshotTotals()[CAT_TEMP_FILES];
        EXPECT_GE(now, last);  // totals only grow
        last = now;
        std::this_thread::yield();
    }
    EXPECT_EQ(state->results.lists[CAT_TEMP_FILES].size(), 200u);
    EXPECT_EQ(state->results.SnapshotTotals()[CAT_TEMP_FILES], 200u);
}

TEST(ScanTest, AWorkerThatCannotStartIsReportedNotThrown) {
    // A process limit of one: the thread for the walk cannot be made. The window stays in
    // Scanning then (the flag never rises); the process must not end with an escaped exception.
    TempDir t;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        constexpr uid_t kNobody = 65534;  // as root, the limit binds only another user
        if (::getuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(3);
        }
        const struct rlimit one { 1, 1 };
        ::setrlimit(RLIMIT_NPROC, &one);
        ScanParams p;
        p.rules = RuleChoice::Windows;  // the trees here are laid out for them
        p.path = t.path();
        p.state = std::make_shared<ScanState>();
        ::_exit(StartScanThread(p) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: a thread was made all the same; 3: no user to be";
}

// Mount points inside the tree are not entered, bind mounts of the same file system included.
class MountTest : public ::testing::TestWithParam<bool> {};

TEST_P(MountTest, OtherMountsAreNotEntered) {
    TempDir t;
    t.File("plain/a.tmp", 1);
    t.File("source/b.tmp", 2);
    t.Dir("bound");
    t.Dir("tmpfs");
    if (::mount((t / "source").c_str(), (t / "bound").c_str(), nullptr, MS_BIND, nullptr) != 0) {
        GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
    }
    const bool haveTmpfs = ::mount("none", (t / "tmpfs").c_str(), "tmpfs", 0, nullptr) == 0;
    if (haveTmpfs) {
        t.File("tmpfs/c.tmp", 4);
    }
    Scan s;
    {
        const testing::Openat2Refusal refusal(!GetParam());
        s.Run(t.path());
    }
    ::umount2((t / "bound").c_str(), MNT_DETACH);
    if (haveTmpfs) {
        ::umount2((t / "tmpfs").c_str(), MNT_DETACH);
    }
    std::vector<std::string> temp = s.Paths(CAT_TEMP_FILES);
    std::sort(temp.begin(), temp.end());
    EXPECT_EQ(temp, (std::vector<std::string>{t / "plain/a.tmp", t / "source/b.tmp"}));
    EXPECT_EQ(s.Total(CAT_TEMP_FILES), 3u);
}

INSTANTIATE_TEST_SUITE_P(OpenMethods, MountTest, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "openat2" : "openat"; });

// What the reference walk found: the paths per category, the entries listed and the directories
// entered.
struct Reference {
    std::array<std::vector<std::string>, CATEGORY_COUNT> paths;
    std::uint64_t entries = 0;
    std::uint64_t directories = 0;
};

// A plain recursive reference: readdir order, whole-path ClassifyFile.
void ReferenceWalk(const std::string& dir, Reference& out) {
    std::vector<std::string> names = ListingOrder(dir);
    ++out.directories;
    out.entries += names.size();
    for (const std::string& n : names) {
        const std::string p = dir + "/" + n;
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            ReferenceWalk(p, out);
        } else if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            std::string lower = p;
            for (char& c : lower) {
                // a separator becomes the backslash, a name's own backslash the slash
                c = c == '/'                 ? '\\'
                    : c == '\\'              ? '/'
                    : (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32)
                                             : c;
            }
            std::string lname = n;
            for (char& c : lname) {
                c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
            }
            if (const auto c = ClassifyFile(lower, lname)) {
                out.paths[static_cast<std::size_t>(*c)].push_back(p);
            }
        }
    }
}

TEST(ScanTest, AgreesWithAWholePathReferenceOnRandomTrees) {
    const char* dirNames[] = {"Temp",        "TEMP",        "temp",   "te",
                              "mp",          "Recent",      "x",      "Temporary Internet Files",
                              "Content.IE5", "content.ie5", "a\\temp"};
    const char* fileNames[] = {"a.TMP",       "b.swp",     "c.gid",      "d.pch",
                               "e.lnk",       "Thumbs.db", "f",          "g.",
                               ".swp",        "h.tmp.txt", "p\\temp\\q", "r\\recent\\s.lnk",
                               "\xff\xfe.TMP"};
    for (unsigned seed = 1; seed <= 5; ++seed) {
        TempDir t;
        std::mt19937 rng(seed);
        std::vector<std::string> dirs = {""};
        for (int i = 0; i < 60; ++i) {
            const std::string parent = dirs[rng() % dirs.size()];
            const std::string d =
                parent + (parent.empty() ? "" : "/") + dirNames[rng() % std::size(dirNames)];
            t.Dir(d);
            dirs.push_back(d);
        }
        for (int i = 0; i < 300; ++i) {
            const std::string parent = dirs[rng() % dirs.size()];
            t.File(parent + (parent.empty() ? "" : "/") + fileNames[rng() % std::size(fileNames)],
                   1);
        }
        Reference expected;
        ReferenceWalk(t.path(), expected);
        Scan s;
        s.Run(t.path());
        for (int c = 0; c < CATEGORY_COUNT; ++c) {
            EXPECT_EQ(s.Paths(c), expected.paths[static_cast<std::size_t>(c)])
                << "seed " << seed << " category " << c;
            EXPECT_EQ(s.Total(c), expected.paths[static_cast<std::size_t>(c)].size());
        }
        EXPECT_EQ(s.state->entriesSeen.load(), expected.entries) << "seed " << seed;
        EXPECT_EQ(s.state->directoriesEntered.load(), expected.directories) << "seed " << seed;
    }
}

}  // namespace
}  // namespace clearnook
