// The walk and the delete pass on a file system whose calls fail: each kind of failure, struck at
// chosen calls, must leave a consistent result and a truthful report.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/delete.h"
#include "engine/scan.h"
#include "tests/support/fault_syscalls.h"
#include "tests/support/reference_walk.h"
#include "tests/support/scan_run.h"
#include "tests/support/temp_tree.h"

namespace clearnook {
namespace {

using testing::Fault;
using testing::FaultInjector;
using testing::FaultOp;
using testing::FaultPoint;
using testing::TempDir;

// How the services run while the faults strike.
enum class Mode {
    Plain,
    UnknownTypes,    // every entry's type unknown: the walk asks for each one
    FewDescriptors,  // a soft limit of 16 descriptors: directories are closed and opened again
    OpenatFallback,  // openat plus a mount check, as on kernels without openat2
};

const char* ModeName(Mode m) {
    switch (m) {
        case Mode::Plain:
            return "plain";
        case Mode::UnknownTypes:
            return "unknown_types";
        case Mode::FewDescriptors:
            return "few_descriptors";
        case Mode::OpenatFallback:
            return "openat_fallback";
    }
    return "?";
}

// Puts a mode in place for its lifetime.
class ModeGuard {
  public:
    // `readAhead`: leave the read-ahead walk enough descriptors to run on two threads (four
    // each, none to share), still few enough that both climb back through ".." in the deep part
    // of the tree.
    ModeGuard(Mode mode, FaultInjector& injector, bool readAhead = false) : m_mode(mode) {
        if (mode == Mode::UnknownTypes) {
            injector.SetHideEntryTypes(true);
        }
        if (mode == Mode::OpenatFallback) {
            injector.SetRefuseOpenat2(true);
        }
        if (mode == Mode::FewDescriptors) {
            EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &m_saved), 0);
            struct rlimit low = m_saved;
            low.rlim_cur = readAhead ? 64 : 16;
            EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
        }
    }
    ~ModeGuard() {
        if (m_mode == Mode::FewDescriptors) {
            ::setrlimit(RLIMIT_NOFILE, &m_saved);
        }
    }
    ModeGuard(const ModeGuard&) = delete;
    ModeGuard& operator=(const ModeGuard&) = delete;

  private:
    Mode m_mode;
    struct rlimit m_saved {};
};

// A small tree with something of every category, a directory long enough to be listed in several
// reads, and a chain deep enough that a walk with few descriptors closes and reopens directories.
void MakeFaultTree(const TempDir& t) {
    t.File("Temp/a.log", 3);
    t.File("Temp/sub/b.txt", 4);
    t.File("Temp/sub/deeper/c.dat", 5);
    t.File("x.tmp", 1);
    t.File("y.swp", 2);
    t.File("docs/Recent/l1.lnk", 6);
    t.File("docs/Recent/l2.lnk", 7);
    t.File("docs/Desktop/l3.lnk", 8);
    t.File("Photos/Thumbs.db", 20);
    t.File("Photos/2020/Thumbs.db", 21);
    t.File("Photos/2020/img.jpg", 22);
    t.File("src/app.pch", 9);
    t.File("src/build/obj/app.pch", 10);
    t.File("src/build/obj/main.o", 11);
    t.File("help/sys.gid", 12);
    t.File("cache/Temporary Internet Files/Content.IE5/AB12/page.htm", 13);
    t.File("cache/Temporary Internet Files/Content.IE5/AB12/cached.tmp", 14);
    t.File("cache/Temporary Internet Files/Content.IE5/CD34/x.js", 15);
    for (int i = 0; i < 30; ++i) {
        t.File("many/file-with-a-longish-name-" + std::to_string(i) + ".tmp",
               static_cast<std::uint64_t>(100 + i));
    }
    std::string d = "deep";
    for (const char* level : {"a", "b", "c", "d", "e", "f"}) {
        d += "/";
        d += level;
        t.File(d + "/before.tmp", 30);
        t.File(d + "/after.pch", 31);
        t.File(d + "/side/s.tmp", 32);
    }
    t.File(d + "/z.tmp", 33);
}

// One kind of fault: the pass it strikes, how the services run, the call and its error.
struct FaultKind {
    enum class Pass { Scan, Delete } pass;
    Mode mode;
    FaultOp op;
    int error;                   // 0 with List: a short listing
    std::uint64_t listCall = 0;  // List: which read of a listing (1: the first, 2: a later one)
    bool readAhead = false;      // Scan: the walk on two threads
};

std::string KindName(const FaultKind& k) {
    std::string s =
        k.pass == FaultKind::Pass::Scan ? (k.readAhead ? "readahead_" : "scan_") : "delete_";
    s += ModeName(k.mode);
    s += "_";
    s += testing::FaultOpName(k.op);
    s += "_";
    s += k.error == 0 ? "short" : strerrorname_np(k.error);
    if (k.op == FaultOp::List) {
        s += k.listCall == 1 ? "_at_start" : "_mid_listing";
    }
    return s;
}

void PrintTo(const FaultKind& k, std::ostream* os) {
    *os << KindName(k);
}

// The calls a kind's faults strike: by count (the first, the second, the middle and the last of
// a clean run, and every one from the middle on) and by name, where the clean run used the name.
// On two threads the order of the calls after the root's changes from run to run: there only
// the first call, every call, and names.
std::vector<FaultPoint> PointsFor(const FaultKind& k, std::uint64_t calls,
                                  const std::set<std::string>& names) {
    std::vector<FaultPoint> points;
    if (k.op == FaultOp::List) {
        // a listing read is struck wherever it is the chosen read of its directory
        points.push_back({0, false, "", k.listCall});
        points.push_back({1, false, "", 0});
    } else if (k.readAhead) {
        points.push_back({1, false, "", 0});
        points.push_back({1, true, "", 0});
    } else {
        for (const std::uint64_t n : {std::uint64_t{1}, std::uint64_t{2}, calls / 2, calls}) {
            if (n >= 1 && n <= calls) {
                points.push_back({n, false, "", 0});
            }
        }
        if (calls >= 2) {
            points.push_back({calls / 2, true, "", 0});
        }
    }
    std::vector<std::string> candidates;
    const bool scan = k.pass == FaultKind::Pass::Scan;
    switch (k.op) {
        case FaultOp::Open:
            candidates = {"Temp", "AB12", "c", "..", "deep"};
            break;
        case FaultOp::List:
            candidates = {"Temp", "many", "c", "Content.IE5"};
            break;
        case FaultOp::Stat:
            candidates = scan ? std::vector<std::string>{"x.tmp", "Thumbs.db", "c", "deep", "b"}
                              : std::vector<std::string>{"x.tmp", "Thumbs.db", "z.tmp"};
            break;
        case FaultOp::Unlink:
            candidates = {"x.tmp", "Thumbs.db", "z.tmp", "page.htm"};
            break;
        case FaultOp::Close:
            candidates = {"c", "Temp"};
            break;
    }
    for (const std::string& n : candidates) {
        if (names.count(n) != 0) {
            points.push_back({0, false, n, k.op == FaultOp::List ? k.listCall : 0});
        }
    }
    return points;
}

std::string PointName(const FaultPoint& p) {
    std::string s;
    if (p.nth != 0) {
        s += "call " + std::to_string(p.nth) + (p.onward ? " onward" : "");
    }
    if (!p.name.empty()) {
        s += (s.empty() ? "" : ", ") + std::string("name '") + p.name + "'";
    }
    if (p.listCall != 0) {
        s += (s.empty() ? "" : ", ") + std::string("read ") + std::to_string(p.listCall) +
             " of a listing";
    }
    return s.empty() ? "every call" : s;
}

// What a struck call can take with it: a directory's subtree, or a file.
std::vector<std::string> Targets(const FaultInjector& injector) {
    std::vector<std::string> out;
    for (const testing::FaultHit& h : injector.Hits()) {
        if (h.op != FaultOp::Close) {
            out.push_back(h.path);
        }
    }
    return out;
}

using testing::ScanRun;

ScanRun Scan(const std::string& root, bool readAhead = false) {
    ScanRun run;
    run.threads = readAhead ? 2 : 1;
    run.Run(root);
    return run;
}

const std::vector<int> kAllCategories = {0, 1, 2, 3, 4, 5};

std::string WalkName(const ::testing::TestParamInfo<bool>& p) {
    return p.param ? "read_ahead" : "one_thread";
}

// Both walks: on one thread, and reading ahead on two (each with its own few descriptors).
class ClimbBackTest : public ::testing::TestWithParam<bool> {};

// With few descriptors the walk closes the directories above it and climbs back through "..".
// When that climb fails, the directory is found again from the root, by name: nothing is lost,
// neither in it nor in the directories above it.
TEST_P(ClimbBackTest, AFailedClimbCostsNothing) {
    const bool readAhead = GetParam();
    TempDir t(TempDir::Where::Memory);
    MakeFaultTree(t);
    const std::vector<testing::ReferenceFile> reference = testing::ReadReferenceTree(t.path());
    for (const int error : {EMFILE, EACCES, ENOENT}) {
        SCOPED_TRACE(strerrorname_np(error));
        FaultInjector injector({Fault{FaultOp::Open, error, {0, false, "..", 0}}});
        std::optional<ScanRun> run;
        {
            const ModeGuard mode(Mode::FewDescriptors, injector, readAhead);
            run = Scan(t.path(), readAhead);
        }
        EXPECT_FALSE(injector.Hits().empty());
        EXPECT_TRUE(testing::ScanHolds(run->state->results, reference, {}));
        EXPECT_EQ(injector.OpenDescriptors(), std::vector<std::string>{});
    }
}

// A directory whose descriptor could not be kept loses the rest of its own listing, and only
// that: the walk carries on in the directories above it. On two threads, subdirectories it had
// handed to the other thread are lost with it, and that thread drops them.
TEST_P(ClimbBackTest, ALostDirectoryCostsOnlyItsOwnEntries) {
    const bool readAhead = GetParam();
    TempDir t(TempDir::Where::Memory);
    MakeFaultTree(t);
    const std::vector<testing::ReferenceFile> reference = testing::ReadReferenceTree(t.path());
    for (const char* name : {"deep", "a", "c"}) {
        SCOPED_TRACE(name);
        // the fstat that records a directory's identity before closing it fails
        FaultInjector injector({Fault{FaultOp::Stat, EIO, {0, false, name, 0}}});
        std::optional<ScanRun> run;
        {
            const ModeGuard mode(Mode::FewDescriptors, injector, readAhead);
            run = Scan(t.path(), readAhead);
        }
        // On two threads the directory may have stayed open: how the tree is split decides.
        ASSERT_TRUE(readAhead || !injector.Hits().empty());
        std::vector<std::string> lost;
        for (const testing::FaultHit& h : injector.Hits()) {
            lost.push_back(h.path);
        }
        EXPECT_TRUE(testing::ScanHolds(run->state->results, reference, lost));
        EXPECT_EQ(injector.OpenDescriptors(), std::vector<std::string>{});
    }
}

// On two threads: a directory hands its later subdirectories to the other thread while this one
// goes down a chain deep enough to close it, and then it cannot be found again. What it handed
// off is lost with it, as on one thread; the other thread drops that work, and nothing stays open.
TEST(ClimbBackReadAheadTest, ALostDirectoryDropsTheSubtreesItHandedOff) {
    TempDir t(TempDir::Where::Memory);
    // Made first, listed last on tmpfs, which lists the newest entries first: the chain comes
    // first, the small directories after it are what the other thread asks for meanwhile.
    for (int i = 0; i < 40; ++i) {
        t.File("L/s" + std::to_string(i) + "/x.tmp", 1);
    }
    std::string chain = "L/chain";
    for (int level = 0; level < 14; ++level) {
        chain += "/c";
        t.File(chain + "/y.tmp", 2);
    }
    const std::vector<testing::ReferenceFile> reference = testing::ReadReferenceTree(t.path());
    FaultInjector injector({Fault{FaultOp::Stat, EIO, {0, false, "L", 0}}});
    std::optional<ScanRun> run;
    {
        const ModeGuard mode(Mode::FewDescriptors, injector, true);
        run = Scan(t.path(), true);
    }
    ASSERT_FALSE(injector.Hits().empty());
    EXPECT_TRUE(testing::ScanHolds(run->state->results, reference, {t.path() + "/L"}));
    EXPECT_EQ(injector.OpenDescriptors(), std::vector<std::string>{});
}

// A chain far deeper than the descriptors allow, a disposable file beside each subdirectory and
// listed after it: the files are read with their listing, so no directory is needed again once
// its one subdirectory is entered, and the walk comes back up without climbing through "..".
TEST_P(ClimbBackTest, AChainIsLeftWithoutClimbingBack) {
    const bool readAhead = GetParam();
    TempDir t(TempDir::Where::Memory);
    std::string level = "c";
    for (int i = 0; i < 300; ++i) {
        t.File(level + "/x.tmp", 1);  // made before the subdirectory: tmpfs lists it after
        level += "/d";
    }
    const std::vector<testing::ReferenceFile> reference = testing::ReadReferenceTree(t.path());
    FaultInjector injector;
    std::optional<ScanRun> run;
    {
        const ModeGuard mode(Mode::FewDescriptors, injector, readAhead);
        run = Scan(t.path(), readAhead);
    }
    EXPECT_TRUE(testing::ScanHolds(run->state->results, reference, {}));
    EXPECT_EQ(run->state->results.lists[CAT_TEMP_FILES].size(), 300u);
    EXPECT_EQ(injector.Names(FaultOp::Open).count(".."), 0u);
}

INSTANTIATE_TEST_SUITE_P(Walks, ClimbBackTest, ::testing::Values(false, true), WalkName);

// Both walks, against a file system that lists names no call can name.
class HostileNameTest : public ::testing::TestWithParam<bool> {};

// A name read with a NUL in it names, to every call, only the part before the NUL: another file
// or directory. The walk leaves such an entry out rather than take one for the other.
TEST_P(HostileNameTest, ANameHoldingANulNamesNothing) {
    TempDir t(TempDir::Where::Memory);
    t.File("keep", 4096);
    t.File("keep!.tmp", 1);   // read as "keep\0.tmp": not "keep", which is no temporary file
    t.File("x/doc.txt", 1);   // and "x!\temp" read as "x\0\temp": not "x", which holds no
    t.File("x!\\temp/a", 1);  // temporary files
    FaultInjector injector;
    injector.SetNulInNames('!');
    const ScanRun run = Scan(t.path(), GetParam());
    EXPECT_EQ(run.Paths(CAT_TEMP_FILES), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Walks, HostileNameTest, ::testing::Values(false, true), WalkName);

// What statx tells between the scan and the delete pass decides whether a recorded file is
// still the one the scan saw.
struct IdentityCase {
    const char* label;
    // A file system without birth times (ext2, ext3, ext4 with 128-byte inodes) whose change time
    // counts in whole seconds: the file last changed this many seconds before the scan. -1: the
    // file system as it is.
    int changedSecondsAgo;
    // The same file system mounted again before the delete pass, a block-level copy of it say:
    // the same device, inodes and times, another mount.
    bool mountedAgain;
    bool removed;
};

void PrintTo(const IdentityCase& c, std::ostream* os) {
    *os << c.label;
}

class IdentityTest : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(IdentityTest, AFileIsRemovedOnlyWhenItCanBeToldFromAnyOther) {
    const IdentityCase& c = GetParam();
    TempDir t(TempDir::Where::Memory);
    t.File("a.tmp", 1);
    const std::int64_t changed = ::time(nullptr) - c.changedSecondsAgo;
    const auto noBirthTime = [&](struct statx& sx) {
        if (c.changedSecondsAgo >= 0) {
            sx.stx_mask &= ~static_cast<unsigned>(STATX_BTIME);
            sx.stx_ctime = {changed, 0, 0};
        }
    };
    FaultInjector injector;
    injector.SetStatxAnswer(noBirthTime);
    const ScanRun run = Scan(t.path());
    ASSERT_EQ(run.Paths(CAT_TEMP_FILES).size(), 1u);
    injector.SetStatxAnswer([&](struct statx& sx) {
        noBirthTime(sx);
        constexpr unsigned kMountIds = 0x1000U | 0x4000U;  // STATX_MNT_ID, STATX_MNT_ID_UNIQUE
        if (c.mountedAgain && (sx.stx_mask & kMountIds) != 0) {
            sx.stx_mnt_id += 1;
        }
    });
    const DeleteReport report =
        RunDeletePass(std::vector<int>{CAT_TEMP_FILES}, run.state->results, t.path());
    EXPECT_EQ(report.removed, c.removed ? 1 : 0);
    EXPECT_EQ(report.anyFailed, !c.removed);
    EXPECT_EQ(testing::Exists(t / "a.tmp"), !c.removed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IdentityTest,
    ::testing::Values(
        // Made again under its name in the second it last changed, a file gets the same inode
        // and change time: the scan cannot tell, so it never removes one changed in its second.
        IdentityCase{"no_birth_time_changed_in_the_scans_second", 0, false, false},
        IdentityCase{"no_birth_time_changed_before", 60, false, true},
        IdentityCase{"the_drive_mounted_again", -1, true, false},
        IdentityCase{"the_same_mount", -1, false, true}),
    [](const auto& p) { return std::string(p.param.label); });

class FaultTest : public ::testing::TestWithParam<FaultKind> {};

TEST_P(FaultTest, WalkGoesOnAndResultsStayConsistent) {
    const FaultKind& k = GetParam();
    const bool scanPass = k.pass == FaultKind::Pass::Scan;

    // A clean run counts the calls and names the points aim at.
    std::uint64_t calls = 0;
    std::set<std::string> names;
    {
        TempDir t(TempDir::Where::Memory);
        MakeFaultTree(t);
        std::optional<ScanRun> run;
        if (!scanPass) {
            run = Scan(t.path());
        }
        FaultInjector counter;
        counter.SetListChunk(512);
        const ModeGuard mode(k.mode, counter, k.readAhead);
        if (scanPass) {
            run = Scan(t.path(), k.readAhead);
        } else {
            (void)RunDeletePass(kAllCategories, run->state->results, t.path());
        }
        calls = counter.Calls(k.op);
        names = counter.Names(k.op);
    }
    ASSERT_GT(calls, 0u) << "the clean run makes no such call";

    std::size_t struck = 0;
    for (const FaultPoint& point : PointsFor(k, calls, names)) {
        SCOPED_TRACE(PointName(point));
        TempDir t(TempDir::Where::Memory);
        MakeFaultTree(t);
        const std::vector<testing::ReferenceFile> reference = testing::ReadReferenceTree(t.path());
        std::optional<ScanRun> run;
        if (!scanPass) {
            run = Scan(t.path());
            ASSERT_TRUE(testing::ScanHolds(run->state->results, reference, {}));
        }
        FaultInjector injector({Fault{k.op, k.error, point}});
        injector.SetListChunk(512);
        std::optional<DeleteReport> report;
        {
            const ModeGuard mode(k.mode, injector, k.readAhead);
            if (scanPass) {
                run = Scan(t.path(), k.readAhead);
            } else {
                report = RunDeletePass(kAllCategories, run->state->results, t.path());
            }
        }
        const std::vector<std::string> targets = Targets(injector);
        if (injector.Hits().empty()) {
            ADD_FAILURE() << "no call was struck";
            continue;
        }
        ++struck;
        EXPECT_EQ(injector.OpenDescriptors(), std::vector<std::string>{}) << "descriptors leaked";
        if (scanPass) {
            EXPECT_TRUE(testing::ScanHolds(run->state->results, reference, targets));
            ASSERT_FALSE(run->sink->texts.empty());
            EXPECT_EQ(run->sink->texts.front(), "Scanning " + t.path());
            EXPECT_EQ(run->sink->texts.back(), "Scanning " + t.path());
        } else {
            EXPECT_TRUE(testing::DeleteHolds(*report, kAllCategories, run->state->results,
                                             reference, targets));
        }
    }
    EXPECT_GT(struck, 0u);
    RecordProperty("points_struck", static_cast<int>(struck));
}

std::vector<FaultKind> AllKinds() {
    std::vector<FaultKind> kinds;
    using Pass = FaultKind::Pass;
    for (const Mode mode :
         {Mode::Plain, Mode::UnknownTypes, Mode::FewDescriptors, Mode::OpenatFallback}) {
        for (const bool ra : {false, true}) {
            for (const int e : {EACCES, ENOENT, EMFILE, ENAMETOOLONG}) {
                kinds.push_back({Pass::Scan, mode, FaultOp::Open, e, 0, ra});
            }
            kinds.push_back({Pass::Scan, mode, FaultOp::List, EIO, 1, ra});
            kinds.push_back({Pass::Scan, mode, FaultOp::List, ENOENT, 1, ra});
            kinds.push_back({Pass::Scan, mode, FaultOp::List, EIO, 2, ra});
            kinds.push_back({Pass::Scan, mode, FaultOp::List, 0, 2, ra});
            for (const int e : {EACCES, ENOENT, EIO}) {
                kinds.push_back({Pass::Scan, mode, FaultOp::Stat, e, 0, ra});
            }
            kinds.push_back({Pass::Scan, mode, FaultOp::Close, EIO, 0, ra});
        }
    }
    for (const Mode mode : {Mode::Plain, Mode::FewDescriptors, Mode::OpenatFallback}) {
        for (const int e : {EACCES, ENOENT, EMFILE, ENAMETOOLONG}) {
            kinds.push_back({Pass::Delete, mode, FaultOp::Open, e});
        }
        for (const int e : {EACCES, ENOENT, EIO}) {
            kinds.push_back({Pass::Delete, mode, FaultOp::Stat, e});
        }
        for (const int e : {EACCES, EPERM, ENOENT, EIO, EBUSY, EROFS}) {
            kinds.push_back({Pass::Delete, mode, FaultOp::Unlink, e});
        }
        kinds.push_back({Pass::Delete, mode, FaultOp::Close, EIO});
    }
    return kinds;
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultTest, ::testing::ValuesIn(AllKinds()),
                         [](const auto& p) { return KindName(p.param); });

}  // namespace
}  // namespace clearnook
