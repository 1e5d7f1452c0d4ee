// The walk on a file system whose calls fail.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/scan.h"
#include "platform/posix_testing.h"
#include "tests/support/fault_syscalls.h"
#include "tests/support/reference_walk.h"
#include "tests/support/temp_tree.h"

namespace clearnook {
namespace {

using testing::Fault;
using testing::FaultInjector;
using testing::FaultOp;
using testing::TempDir;

// How the services run while the faults strike.
enum class Mode {
    Plain,
    UnknownTypes,    // every entry's type unknown: the walk asks for each one
    FewDescriptors,  // a soft limit of 16 descriptors: directories are closed and opened again
    OpenatFallback,  // openat plus a mount check, as on kernels without openat2
};

// Puts a mode in place for its lifetime.
class ModeGuard {
public:
    ModeGuard(Mode mode, FaultInjector& injector) : m_mode(mode) {
        if (mode == Mode::UnknownTypes) {
            injector.SetHideEntryTypes(true);
        }
        if (mode == Mode::OpenatFallback) {
            platform::posix_testing::UseOpenat2(false);
        }
        if (mode == Mode::FewDescriptors) {
            EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &m_saved), 0);
            struct rlimit low = m_saved;
            low.rlim_cur = 16;
            EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
        }
    }
    ~ModeGuard() {
        if (m_mode == Mode::OpenatFallback) {
            platform::posix_testing::UseOpenat2(true);
        }
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

class RecordingSink : public StatusSink {
public:
    std::vector<std::string> texts;
    void SetStatusText(std::string_view text) override { texts.emplace_back(text); }
};

struct ScanRun {
    std::shared_ptr<ScanState> state = std::make_shared<ScanState>();
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
};

ScanRun Scan(const std::string& root) {
    ScanRun run;
    ScanParams p;
    p.path = root;
    p.statusSink = run.sink;
    p.state = run.state;
    EXPECT_EQ(ScanThreadProc(p), 0u);
    EXPECT_TRUE(run.state->m_bScanDone.load());
    return run;
}

// With few descriptors the walk closes the directories above it and climbs back through "..".
// When that climb fails, the directory is found again from the root, by name: nothing is lost,
// neither in it nor in the directories above it.
TEST(ClimbBackTest, AFailedClimbCostsNothing) {
    TempDir t(TempDir::Where::Memory);
    MakeFaultTree(t);
    const std::vector<testing::ReferenceFile> reference = testing::ReadReferenceTree(t.path());
    for (const int error : {EMFILE, EACCES, ENOENT}) {
        SCOPED_TRACE(strerrorname_np(error));
        FaultInjector injector({Fault{FaultOp::Open, error, {0, false, "..", 0}}});
        std::optional<ScanRun> run;
        {
            const ModeGuard mode(Mode::FewDescriptors, injector);
            run = Scan(t.path());
        }
        EXPECT_FALSE(injector.Hits().empty());
        EXPECT_TRUE(testing::ScanHolds(run->state->results, reference, {}));
        EXPECT_EQ(injector.OpenDescriptors(), std::vector<std::string>{});
    }
}

// A directory whose descriptor could not be kept loses the rest of its own listing, and only
// that: the walk carries on in the directories above it.
TEST(ClimbBackTest, ALostDirectoryCostsOnlyItsOwnEntries) {
    TempDir t(TempDir::Where::Memory);
    MakeFaultTree(t);
    const std::vector<testing::ReferenceFile> reference = testing::ReadReferenceTree(t.path());
    for (const char* name : {"deep", "a", "c"}) {
        SCOPED_TRACE(name);
        // the fstat that records a directory's identity before closing it fails
        FaultInjector injector({Fault{FaultOp::Stat, EIO, {0, false, name, 0}}});
        std::optional<ScanRun> run;
        {
            const ModeGuard mode(Mode::FewDescriptors, injector);
            run = Scan(t.path());
        }
        ASSERT_FALSE(injector.Hits().empty());
        std::vector<std::string> lost;
        for (const testing::FaultHit& h : injector.Hits()) {
            lost.push_back(h.path);
        }
        EXPECT_TRUE(testing::ScanHolds(run->state->results, reference, lost));
    }
}

}  // namespace
}  // namespace clearnook
