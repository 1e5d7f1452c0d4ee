// The walk, the delete pass and clearnook-cli on real trees built to be awkward: odd bytes in
// names, long names and paths, links that loop or lead out, entries that are not files,
// directories closed to the reader, a wide directory, a tree that changes while it is walked, and
// a process short of descriptors.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/delete.h"
#include "engine/scan.h"
#include "tests/support/cli_run.h"
#include "tests/support/fault_syscalls.h"
#include "tests/support/program_run.h"
#include "tests/support/reference_walk.h"
#include "tests/support/scan_run.h"
#include "tests/support/temp_tree.h"
#include "tests/support/wide_directory.h"

namespace clearnook {
namespace {

using testing::ReferenceFile;
using testing::TempDir;

const std::vector<int> kAllCategories = {0, 1, 2, 3, 4, 5};

std::shared_ptr<ScanState> Scan(const std::string& root,
                                std::shared_ptr<StatusSink> sink = nullptr) {
    ScanParams p;
    p.rules = RuleChoice::Windows;  // the trees here are laid out for them
    p.path = root;
    p.statusSink = std::move(sink);
    p.state = std::make_shared<ScanState>();
    EXPECT_EQ(ScanThreadProc(p), 0u);
    return p.state;
}

std::vector<std::string> RecordedPaths(const testing::RecordedLists& lists) {
    std::vector<std::string> out;
    for (const auto& list : lists) {
        for (const testing::RecordedFile& f : list) {
            out.push_back(f.path);
        }
    }
    return out;
}

// ---- clearnook-cli, run as a user would ----

using testing::ProgramRun;
using User = testing::ProgramUser;

// Runs clearnook-cli with `args`, stdin from /dev/null; as `user` when given (the caller must be
// root to switch).
ProgramRun RunCli(std::vector<std::string> args, std::optional<User> user = {}) {
    return testing::RunCli(std::move(args), {std::nullopt, user});
}

// The user-level check: clearnook-cli --json --list and --list -0 on `root` print exactly the
// files, counts and totals of `expected` (a finished scan's results).
void ExpectCliAgrees(const std::string& root, const testing::RecordedLists& expected,
                     const CategoryTotals& totals, std::optional<User> user = {}) {
    const ProgramRun json = RunCli({"--json", "--list", "--quiet", root}, user);
    ASSERT_EQ(json.status, 0) << json.err;
    testing::CliJson read;
    ASSERT_TRUE(testing::ReadCliJson(json.out, read)) << json.out.substr(0, 2000);
    EXPECT_EQ(read.root, root);
    const std::vector<testing::CliJsonCategory>& categories = read.categories;
    ASSERT_EQ(categories.size(), static_cast<std::size_t>(CATEGORY_COUNT));
    for (std::size_t c = 0; c < categories.size(); ++c) {
        std::vector<std::string> want;
        for (const testing::RecordedFile& f : expected[c]) {
            want.push_back(f.path);
        }
        EXPECT_EQ(categories[c].files, want) << "category " << c;
        EXPECT_EQ(categories[c].count, want.size()) << "category " << c;
        EXPECT_EQ(categories[c].bytes, totals[c]) << "category " << c;
    }
    const ProgramRun list = RunCli({"--list", "-0", "--quiet", root}, user);
    ASSERT_EQ(list.status, 0) << list.err;
    std::string want;
    for (const std::string& p : RecordedPaths(expected)) {
        want += p;
        want.push_back('\0');
    }
    EXPECT_EQ(list.out, want);
}

// Scan, compare with the reference and with clearnook-cli, then delete every category and check
// that exactly the recorded files went and the report says so.
void ScanCompareAndDelete(const TempDir& t) {
    const std::vector<ReferenceFile> reference = testing::ReadReferenceTree(t.path());
    const std::shared_ptr<ScanState> state = Scan(t.path());
    ASSERT_TRUE(testing::ScanHolds(state->results, reference, {}));
    ExpectCliAgrees(t.path(), testing::ResolvedLists(state->results),
                    state->results.SnapshotTotals());
    const DeleteReport report = RunDeletePass(kAllCategories, state->results, t.path());
    EXPECT_TRUE(testing::DeleteHolds(report, kAllCategories, state->results, reference, {}));
    EXPECT_FALSE(report.anyFailed);
}

// ---- names ----

// Every byte from 1 to 255 but '/', each exactly once, in one 254-byte name that ends in ".tmp".
std::string EveryByteName() {
    std::string name;
    for (int b = 1; b < 256; ++b) {
        if (b != '/' && b != '.' && b != 't' && b != 'm' && b != 'p') {
            name.push_back(static_cast<char>(b));
        }
    }
    return name + ".tmp";
}

TEST(HostileTreeTest, NamesOfEveryByteLengthAndEncoding) {
    TempDir t(TempDir::Where::Memory);
    // each byte alone, and between others, as a file name
    for (int b = 1; b < 256; ++b) {
        const std::string c(1, static_cast<char>(b));
        if (b == '/') {
            continue;
        }
        if (b != '.') {
            t.File("single/" + c, 1);
        }
        t.File("inner/x" + c + ".tmp", 2);
        t.File("inner/y" + c + ".PCH", 3);
    }
    const std::string every = EveryByteName();
    ASSERT_EQ(every.size(), 254u);
    t.File(every, 5);
    t.File(every.substr(0, 250) + ".TMP", 6);       // 254
    t.File(std::string(251, 'L') + ".tmp", 7);      // 255 bytes
    t.File("Temp/" + std::string(255, '\xff'), 8);  // 255 bytes, none of them UTF-8
    // a path far past PATH_MAX: twenty directories of 255 bytes
    testing::MakeChain(t.path(), 20, std::string(250, 'D') + ".Temp", "bottom.tmp");
    // not UTF-8: lone, truncated, overlong, surrogate, past U+10FFFF
    for (const char* odd :
         {"\xff\xfe", "\xe2\x82", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "caf\xe9"}) {
        t.File(std::string("enc/") + odd + ".tmp", 9);
        t.File(std::string(odd) + "/Temp/a", 10);
        t.File(std::string("enc/") + odd + "/Thumbs.db", 11);
    }
    // line breaks, terminal escapes
    t.File("nl/a\nb.tmp", 12);
    t.File("nl/\n", 13);
    t.File("Temp\n/not-temp.log", 14);  // "temp\n" is not "temp"
    t.File("\nRecent/x.lnk", 15);       // neither is "\nrecent"
    t.File("esc/\x1b[31mred\x1b[0m.tmp", 16);
    // backslashes: names that hold, start or end a marker on their own
    t.File("bs/\\", 17);
    t.File("bs/\\\\", 18);
    t.File("bs/a\\temp\\b", 19);
    t.File("bs/x\\/temp\\c", 20);  // directory "x\", file "temp\c"
    t.File("bs/\\temp/d", 21);     // directory "\temp"
    t.File("bs/\\recent\\s.lnk", 22);
    t.File("bs/Recent\\/e.lnk", 23);  // directory "recent\"
    t.File("bs/f\\", 24);
    t.File("bs/Temporary Internet Files\\Content.IE5\\/page.htm", 25);
    t.File("bs/te/mp\\g", 26);
    ScanCompareAndDelete(t);
}

// ---- links ----

TEST(HostileTreeTest, LinksThatLoopOrLeadOutAreNeverFollowed) {
    TempDir outside(TempDir::Where::Memory);
    outside.File("victim.tmp", 100);
    outside.File("Temp/inner.log", 101);
    TempDir t(TempDir::Where::Memory);
    t.File("real/a.tmp", 1);
    t.Dir("loops");
    struct Link {
        const char* name;
        std::string target;
    };
    const std::vector<Link> links = {
        {"loops/a", "b"},
        {"loops/b", "a"},
        {"loops/self", "self"},
        {"loops/dot", "."},
        {"loops/up", ".."},
        {"loops/root", "/"},
        {"loops/root.tmp", "/"},
        {"loops/Temp", outside.path() + "/Temp"},
        {"loops/out.tmp", outside.path() + "/victim.tmp"},
        {"loops/chain1.tmp", "chain2.tmp"},
        {"loops/chain2.tmp", "../real/a.tmp"},
        {"loops/Recent", outside.path()},
        {"loops/dangling.swp", "nowhere"},
    };
    for (const Link& l : links) {
        ASSERT_EQ(::symlink(l.target.c_str(), (t / l.name).c_str()), 0) << l.name;
    }
    // a second name for one file: recorded under both, as any walk that follows names must
    ASSERT_EQ(::link((t / "real/a.tmp").c_str(), (t / "real/hard.tmp").c_str()), 0);
    ScanCompareAndDelete(t);
    // the links went, never what they point at
    EXPECT_TRUE(testing::Exists(outside / "victim.tmp"));
    EXPECT_TRUE(testing::Exists(outside / "Temp/inner.log"));
    EXPECT_FALSE(testing::Exists(t / "loops/out.tmp"));
    EXPECT_TRUE(testing::Exists("/bin"));
}

TEST(HostileTreeTest, EntriesThatAreNotFilesAreLeftAlone) {
    TempDir t(TempDir::Where::Memory);
    t.File("Temp/plain.log", 1);
    ASSERT_EQ(::mkfifo((t / "Temp/fifo.tmp").c_str(), 0644), 0);
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sock = t / "Temp/sock.tmp";
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, sock.c_str(), sock.size() + 1);
    ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    const bool device = ::mknod((t / "Temp/null.tmp").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
    ScanCompareAndDelete(t);
    ::close(s);
    EXPECT_TRUE(testing::Exists(t / "Temp/fifo.tmp"));
    EXPECT_TRUE(testing::Exists(sock));
    EXPECT_EQ(testing::Exists(t / "Temp/null.tmp"), device);
    EXPECT_FALSE(testing::Exists(t / "Temp/plain.log"));
}

// ---- permissions ----

// Directories closed to others in every way: to every user but their owner, and for a test run
// as root, which switches to another user, also to all but the owner ("owner").
std::vector<const char*> ClosedDirectories() {
    std::vector<const char*> dirs = {"none", "wx", "rw", "x", "r"};
    if (::geteuid() == 0) {
        dirs.push_back("owner");
    }
    return dirs;
}

// Directories closed to others in every way; "open" and "ro" let anyone in.
void MakePermissionTree(const TempDir& t) {
    ASSERT_EQ(::chmod(t.path().c_str(), 0755), 0);
    t.File("open/Temp/a.tmp", 1);
    t.File("open/b.log", 2);
    t.File("ro/Temp/c.tmp", 4);
    t.File("ro/Thumbs.db", 8);
    for (const char* closed : ClosedDirectories()) {
        t.File(std::string(closed) + "/d.tmp", 16);
        t.File(std::string(closed) + "/sub/e.tmp", 32);
    }
    struct Mode {
        const char* dir;
        mode_t mode;
    };
    for (const Mode& m : {Mode{"open/Temp", 0777}, Mode{"ro/Temp", 0555}, Mode{"ro", 0555},
                          Mode{"none", 0}, Mode{"wx", 0333}, Mode{"rw", 0666}, Mode{"x", 0111},
                          Mode{"r", 0444}, Mode{"owner", 0700}}) {
        if (!testing::Exists(t / m.dir)) {
            continue;
        }
        ASSERT_EQ(::chmod((t / m.dir).c_str(), m.mode), 0) << m.dir;
    }
}

// The files of `reference` that a user whose permission bits on the tree are `bits` (0500 for
// the owner, 05 for others) can reach: every directory on the way must let them list and search.
std::vector<ReferenceFile> Reachable(const std::vector<ReferenceFile>& reference,
                                     const std::string& root, mode_t bits) {
    std::vector<ReferenceFile> out;
    for (const ReferenceFile& f : reference) {
        bool ok = true;
        for (std::size_t at = f.path.find('/', root.size() + 1); at != std::string::npos;
             at = f.path.find('/', at + 1)) {
            struct stat st {};
            ok = ok && ::lstat(f.path.substr(0, at).c_str(), &st) == 0 &&
                 (st.st_mode & bits) == bits;
        }
        if (ok) {
            out.push_back(f);
        }
    }
    return out;
}

TEST(PermissionTest, RootReadsEveryDirectory) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "not root: PermissionTest.OthersReachOnlyWhatTheyMayList covers this user";
    }
    TempDir t(TempDir::Where::Memory);
    MakePermissionTree(t);
    ScanCompareAndDelete(t);
}

std::optional<User> Nobody() {
    const passwd* pw = ::getpwnam("nobody");
    if (pw == nullptr) {
        return std::nullopt;
    }
    return User{pw->pw_uid, pw->pw_gid};
}

// The walk as a user without privileges, through clearnook-cli run as nobody (or, when the tests
// do not run as root, as the user running them).
TEST(PermissionTest, OthersReachOnlyWhatTheyMayList) {
    std::optional<User> user;
    mode_t bits = 0500;
    if (::geteuid() == 0) {
        user = Nobody();
        if (!user) {
            GTEST_SKIP() << "no user nobody to run clearnook-cli as";
        }
        bits = 05;
        const ProgramRun probe = RunCli({"--help"}, user);
        if (probe.status != 0) {
            GTEST_SKIP() << "nobody cannot run " << CLEARNOOK_CLI << " (status " << probe.status
                         << "); put the build where others may read it";
        }
    }
    TempDir t(TempDir::Where::Memory);
    MakePermissionTree(t);
    const std::vector<ReferenceFile> reachable =
        Reachable(testing::ReadReferenceTree(t.path()), t.path(), bits);
    // what the user should see, as a scan's lists
    testing::RecordedLists expected;
    CategoryTotals totals{};
    for (const ReferenceFile& f : reachable) {
        if (f.category != testing::kNoCategory) {
            const auto c = static_cast<std::size_t>(f.category);
            expected[c].push_back({f.path, f.identity});
            totals[c] += f.size;
        }
    }
    ASSERT_EQ(expected[CAT_TEMP_FILES].size(), 2u);  // a.tmp and c.tmp
    ExpectCliAgrees(t.path(), expected, totals, user);

    // Deleting: a.tmp goes; c.tmp lies in a directory the user may not write; the note says so.
    const ProgramRun del = RunCli({"--delete", "temp,thumbs", "--yes", "--quiet", t.path()}, user);
    EXPECT_EQ(del.status, 1) << del.err;
    EXPECT_NE(del.out.find("1 files were removed."), std::string::npos) << del.out;
    EXPECT_NE(del.out.find("NOTE: All selected files could not be removed."), std::string::npos);
    EXPECT_FALSE(testing::Exists(t / "open/Temp/a.tmp"));
    for (const char* kept : {"open/b.log", "ro/Temp/c.tmp", "ro/Thumbs.db"}) {
        EXPECT_TRUE(testing::Exists(t / kept)) << kept;
    }
    for (const char* closed : ClosedDirectories()) {
        ::chmod((t / closed).c_str(), 0755);
        EXPECT_TRUE(testing::Exists(t / closed + "/d.tmp")) << closed;
        EXPECT_TRUE(testing::Exists(t / closed + "/sub/e.tmp")) << closed;
    }
}

// ---- a wide directory ----

TEST(HostileTreeTest, AHundredThousandEntriesInOneDirectory) {
    TempDir t(TempDir::Where::Memory);
    const testing::WideDirectory made = testing::MakeWideDirectory(t / "wide", 100000);
    const std::shared_ptr<ScanState> state = testing::ScanWideDirectory(t.path(), made);
    const ProgramRun json = RunCli({"--json", "--quiet", t.path()});
    ASSERT_EQ(json.status, 0);
    EXPECT_NE(json.out.find("\"key\": \"temp\", \"name\": \"Temporary Files\", \"bytes\": " +
                            std::to_string(made.tempBytes) + ", \"size\": "),
              std::string::npos);
    EXPECT_NE(json.out.find("\"count\": " + std::to_string(made.temp)), std::string::npos);
}

// ---- a tree that changes during the walk ----

// Files appear, vanish, are renamed and turn into directories in "churn" while the walk runs; the
// "stable" part never changes. Each churned file carries its size in its name ("n-ID-SIZE.tmp"),
// so whatever the walk recorded can be checked against its total.
class Churner {
  public:
    explicit Churner(std::string dir) : m_dir(std::move(dir)) {
        EXPECT_EQ(::mkdir(m_dir.c_str(), 0755), 0);
        for (int i = 0; i < kDirs; ++i) {
            EXPECT_EQ(::mkdir(Dir(i).c_str(), 0755), 0);
        }
        m_thread = std::thread([this] { Run(); });
    }
    ~Churner() { Stop(); }
    Churner(const Churner&) = delete;
    Churner& operator=(const Churner&) = delete;

    void Stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    // Waits (without a clock) until the churner has made `n` more changes.
    void WaitForChanges(std::uint64_t n) const {
        const std::uint64_t until = m_changes.load() + n;
        while (m_changes.load() < until && !m_stop.load()) {
            std::this_thread::yield();
        }
    }
    [[nodiscard]] std::uint64_t Changes() const { return m_changes.load(); }

    // The size a churned file's name promises, or nothing for a name the churner does not make.
    static std::optional<std::uint64_t> SizeOf(const std::string& path) {
        const std::string name = path.substr(path.rfind('/') + 1);
        const std::size_t dash = name.rfind('-');
        if (!name.starts_with("n-") || dash == std::string::npos || !name.ends_with(".tmp")) {
            return std::nullopt;
        }
        return std::stoull(name.substr(dash + 1, name.size() - 4 - dash - 1));
    }

  private:
    static constexpr int kDirs = 6;
    std::string Dir(int i) const { return m_dir + "/c" + std::to_string(i); }

    // Makes the file `name` of `size` bytes in `dir` at once: sized under a name of no category,
    // then renamed into place, so no one ever sees it at another size.
    static bool Make(const std::string& dir, const std::string& name, std::uint64_t size) {
        const std::string tmp = dir + "/making";
        const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            return false;
        }
        const bool sized = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
        ::close(fd);
        return sized && ::rename(tmp.c_str(), name.c_str()) == 0;
    }

    void Run() {
        std::uint64_t id = 0;
        std::vector<std::string> live;
        while (!m_stop.load()) {
            const int d = static_cast<int>(id % kDirs);
            const std::uint64_t size = (id * 7919) % 5000;
            // appear
            const std::string name =
                Dir(d) + "/n-" + std::to_string(id) + "-" + std::to_string(size) + ".tmp";
            if (Make(Dir(d), name, size)) {
                live.push_back(name);
            }
            if (live.size() > 20) {
                // vanish
                ::unlink(live.front().c_str());
                live.erase(live.begin());
                // move to another directory under a new name, keeping the size in it
                const std::string& from = live.front();
                const std::string to = Dir((d + 3) % kDirs) + "/n-m" + std::to_string(id) + "-" +
                                       std::to_string(*SizeOf(from)) + ".tmp";
                if (::rename(from.c_str(), to.c_str()) == 0) {
                    live.front() = to;
                }
            }
            // a name that is a file one moment and a directory the next
            const std::string flip = Dir(d) + "/n-flip-3.tmp";
            if (id % 2 == 0) {
                ::rmdir(flip.c_str());
                (void)Make(Dir(d), flip, 3);
            } else {
                ::unlink(flip.c_str());
                ::mkdir(flip.c_str(), 0755);
            }
            // whole directories swap places
            if (id % 5 == 0) {
                const std::string a = Dir(d);
                const std::string b = Dir((d + 1) % kDirs);
                const std::string swap = m_dir + "/swap";
                if (::rename(a.c_str(), swap.c_str()) == 0) {
                    ::rename(b.c_str(), a.c_str());
                    ::rename(swap.c_str(), b.c_str());
                    for (std::string& p : live) {  // the names in them moved with them
                        if (p.starts_with(a + "/")) {
                            p = b + p.substr(a.size());
                        } else if (p.starts_with(b + "/")) {
                            p = a + p.substr(b.size());
                        }
                    }
                }
            }
            ++id;
            m_changes.fetch_add(1);
        }
    }

    std::string m_dir;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_changes{0};
    std::thread m_thread;
};

TEST(ChurnTest, FilesAppearVanishAndMoveDuringTheWalk) {
    TempDir t(TempDir::Where::Memory);
    for (int d = 0; d < 8; ++d) {
        for (int f = 0; f < 10; ++f) {
            const std::string dir = "stable/d" + std::to_string(d) + "/";
            t.File(dir + "f" + std::to_string(f) + ".tmp", static_cast<std::uint64_t>(d * 10 + f));
            t.File(dir + "g" + std::to_string(f) + ".log", 1);
            t.File(dir + "Sub/Thumbs.db", 5);
        }
    }
    t.Dir("churn");
    std::vector<ReferenceFile> stable = testing::ReadReferenceTree(t / "stable");
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Churner churner(t / ("churn/r" + std::to_string(round)));
        // The churner makes a few changes at every directory the walk enters or returns to.
        auto interleave = std::make_shared<testing::RecordingSink>();
        interleave->keep = false;
        interleave->onText = [&churner](std::string_view) { churner.WaitForChanges(3); };
        std::shared_ptr<ScanState> state = Scan(t.path(), interleave);
        EXPECT_GT(churner.Changes(), 50u);

        // Every path once; the stable part exactly; every churned file with the size its name
        // promises; totals exactly the sums.
        std::set<std::string> seen;
        std::array<std::uint64_t, CATEGORY_COUNT> sums{};
        for (std::size_t c = 0; c < CATEGORY_COUNT; ++c) {
            for (const FoundFile& f : state->results.lists[c]) {
                const std::string path = state->results.PathOf(f);
                EXPECT_TRUE(seen.insert(path).second) << "recorded twice: " << path;
                if (path.starts_with(t / "churn/")) {
                    const std::optional<std::uint64_t> size = Churner::SizeOf(path);
                    ASSERT_TRUE(size.has_value()) << path;
                    EXPECT_EQ(c, std::size_t{CAT_TEMP_FILES}) << path;
                    sums[c] += *size;
                }
            }
        }
        CategoryResults stableOnly;
        stableOnly.directories = state->results.directories;
        for (std::size_t c = 0; c < CATEGORY_COUNT; ++c) {
            for (const FoundFile& f : state->results.lists[c]) {
                if (state->results.PathOf(f).starts_with(t / "stable/")) {
                    stableOnly.lists[c].push_back(f);
                }
            }
            std::uint64_t stableSum = 0;
            for (const ReferenceFile& r : stable) {
                if (r.category == static_cast<int>(c)) {
                    stableSum += r.size;
                }
            }
            stableOnly.totals[c] = stableSum;
            EXPECT_EQ(state->results.totals[c].load(), sums[c] + stableSum) << "category " << c;
        }
        EXPECT_TRUE(testing::ScanHolds(stableOnly, stable, {}));
        std::size_t churned = 0;
        for (const std::string& p : seen) {
            churned += p.starts_with(t / "churn/") ? 1u : 0u;
        }
        RecordProperty("changes_round_" + std::to_string(round),
                       static_cast<int>(churner.Changes()));
        RecordProperty("churned_recorded_round_" + std::to_string(round),
                       static_cast<int>(churned));

        // Deleting while the churn goes on: every stable recorded file goes, no other stable
        // file does, and the report never counts more than there were.
        const DeleteReport report = RunDeletePass(kAllCategories, state->results, t.path());
        churner.Stop();
        std::size_t recorded = 0;
        for (const auto& list : state->results.lists) {
            recorded += list.size();
        }
        std::int32_t stableRecorded = 0;
        for (const ReferenceFile& r : stable) {
            const bool gone = !testing::Exists(r.path);
            EXPECT_EQ(gone, r.category != testing::kNoCategory) << r.path;
            stableRecorded += r.category != testing::kNoCategory ? 1 : 0;
        }
        EXPECT_GE(report.removed, stableRecorded);
        EXPECT_LE(static_cast<std::size_t>(report.removed), recorded);
        EXPECT_EQ(report.text, ComposeDeleteReport(report.removed, report.anyFailed));
        // put the stable part back for the next round
        for (const ReferenceFile& r : stable) {
            if (!testing::Exists(r.path)) {
                const std::string rel = r.path.substr(t.path().size() + 1);
                t.File(rel, r.size);
            }
        }
        std::vector<ReferenceFile> again = testing::ReadReferenceTree(t / "stable");
        ASSERT_EQ(again.size(), stable.size());
        stable = std::move(again);
    }
}

// ---- a process short of descriptors ----

// Leaves exactly `free` descriptors below the soft limit for as long as it lives.
class DescriptorSqueeze {
  public:
    explicit DescriptorSqueeze(int free) {
        EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &m_saved), 0);
        struct rlimit low = m_saved;
        low.rlim_cur = 64;
        EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
        for (;;) {
            const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                break;
            }
            m_held.push_back(fd);
        }
        for (int i = 0; i < free && !m_held.empty(); ++i) {
            ::close(m_held.back());
            m_held.pop_back();
        }
    }
    ~DescriptorSqueeze() {
        for (const int fd : m_held) {
            ::close(fd);
        }
        ::setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    DescriptorSqueeze(const DescriptorSqueeze&) = delete;
    DescriptorSqueeze& operator=(const DescriptorSqueeze&) = delete;

  private:
    struct rlimit m_saved {};
    std::vector<int> m_held;
};

TEST(DescriptorTest, RunningOutOfDescriptorsLosesOnlyWhatCouldNotBeOpened) {
#ifdef __SANITIZE_ADDRESS__
    // UBSan, built in with ASan here, probes memory through a pipe while checking a call; with no
    // descriptor left that probe fails and it reports an object it could not read.
    GTEST_SKIP() << "the sanitizers need free descriptors themselves; the fault table's EMFILE "
                    "cases cover this build";
#endif
    for (const int free : {0, 1, 2, 3, 5}) {
        SCOPED_TRACE(std::to_string(free) + " descriptors free");
        TempDir t(TempDir::Where::Memory);
        t.File("Temp/a.log", 1);
        t.File("Temp/sub/deeper/b.log", 2);
        t.File("x.tmp", 4);
        t.File("one/two/three/four/c.tmp", 8);
        t.File("one/two/Thumbs.db", 16);
        t.File("one/y.pch", 32);
        const std::vector<ReferenceFile> reference = testing::ReadReferenceTree(t.path());
        std::shared_ptr<ScanState> state;
        std::vector<std::string> failed;
        std::vector<std::string> deleteFailed;
        std::optional<DeleteReport> report;
        {
            testing::FaultInjector watcher;  // strikes nothing: notes what the kernel refused
            {
                const DescriptorSqueeze squeeze(free);
                state = Scan(t.path());
            }
            for (const testing::FaultHit& h : watcher.Failures()) {
                failed.push_back(h.path);
                EXPECT_EQ(h.error, EMFILE) << h.path;
            }
            EXPECT_EQ(failed.empty(), free >= 5);
            EXPECT_TRUE(state->m_bScanDone.load());
            EXPECT_TRUE(testing::ScanHolds(state->results, reference, failed));
            const std::size_t before = watcher.Failures().size();
            {
                const DescriptorSqueeze squeeze(free);
                report = RunDeletePass(kAllCategories, state->results, t.path());
            }
            const std::vector<testing::FaultHit> all = watcher.Failures();
            for (std::size_t i = before; i < all.size(); ++i) {
                deleteFailed.push_back(all[i].path);
            }
        }
        EXPECT_TRUE(
            testing::DeleteHolds(*report, kAllCategories, state->results, reference, deleteFailed));
    }
}

}  // namespace
}  // namespace clearnook
