// The Linux directory stack on its own: the order it lists in, the descriptors it keeps, when it
// climbs back through "..", what it reads with a listing and what it hands to another stack.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <functional>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/read_ahead_support.h"
#include "tests/support/fault_syscalls.h"
#include "tests/support/process_probe.h"
#include "tests/support/temp_tree.h"

namespace clearnook::platform {
namespace {

using testing::FaultInjector;
using testing::FaultOp;
using testing::IdentityAt;
using testing::TempDir;

// Tags every file whose name ends in ".tmp".
struct TmpExaminer final : EntryExaminer {
    std::uint8_t TagFile(std::string_view name) override { return name.ends_with(".tmp") ? 7 : 0; }
};

struct WalkLog {
    std::vector<std::string> lines;  // "+dir", "-", "x.tmp=ok", in walk order
    std::size_t mostDescriptors = 0;
};

// Walks the whole tree below `root` through `stack`, the way the scan does.
WalkLog WalkAll(DirectoryStack& stack, const std::string& root, bool examine) {
    TmpExaminer examiner;
    if (examine) {
        stack.SetExaminer(&examiner);
    }
    WalkLog log;
    EXPECT_TRUE(stack.OpenRoot(root));
    std::vector<std::string> dirs = {root};
    DirEntry entry;
    while (stack.Depth() > 0) {
        log.mostDescriptors = std::max(log.mostDescriptors, TestObserver::OpenDescriptors(stack));
        if (!stack.NextEntry(entry)) {
            stack.Leave();
            dirs.pop_back();
            log.lines.push_back("-");
        } else if (entry.type == EntryType::Directory) {
            const std::string name(entry.name);
            EXPECT_EQ(stack.EnterChild(name), DirectoryStack::EnterResult::Entered) << name;
            dirs.push_back(dirs.back() + "/" + name);
            log.lines.push_back("+" + name);
        } else if (entry.type == EntryType::File && entry.name.ends_with(".tmp")) {
            // (Other files are left out: an examining stack never returns those it did not tag.)
            std::string line(entry.name);
            if (entry.tag == 7 || entry.tag == kUnexamined) {
                const std::optional<FileInfo> info = stack.StatEntry(entry.name);
                const bool same = info && info->identity == IdentityAt(dirs.back() + "/" + line);
                line += same ? "=ok" : "=wrong";
            }
            log.lines.push_back(line);
        } else if (entry.type == EntryType::File && entry.tag != kUnexamined) {
            log.lines.push_back(std::string(entry.name) + " untagged, yet listed");
        }
    }
    stack.SetExaminer(nullptr);
    return log;
}

// chain: 40 levels, in each a disposable file and a plain one that tmpfs lists after the
// subdirectory. bushy: 3 levels of 3 subdirectories, each with the same two files.
void MakeChain(const TempDir& t) {
    std::string level = "c";
    for (int i = 0; i < 40; ++i) {
        t.File(level + "/x.tmp", 1);
        t.File(level + "/y.txt", 1);
        level += "/d";
    }
}

void MakeBushy(const TempDir& t) {
    for (const char* a : {"a", "b", "c"}) {
        for (const char* b : {"a", "b", "c"}) {
            for (const char* c : {"a", "b", "c"}) {
                const std::string dir = std::string(a) + "/" + b + "/" + c;
                t.File(dir + "/x.tmp", 1);
                t.File(dir + "/y.txt", 1);
            }
        }
    }
}

struct StackCase {
    const char* label;
    void (*make)(const TempDir&);
    std::size_t budget;
    bool examine;
    bool climbs;             // whether the walk has to climb back through ".."
    std::size_t pooled = 0;  // descriptors in a pool the stack may take from
};

void PrintTo(const StackCase& c, std::ostream* os) {
    *os << c.label;
}

class DirectoryStackTest : public ::testing::TestWithParam<StackCase> {};

// Whatever the budget, the same entries in the same order as with descriptors to spare, never
// more descriptors than the budget, files read with their listing the very files on disk, and a
// climb back only where a directory closed to save descriptors is needed again.
TEST_P(DirectoryStackTest, ListsInOrderWithinItsBudget) {
    const StackCase& c = GetParam();
    TempDir t(TempDir::Where::Memory);
    c.make(t);
    DirectoryStack roomy;
    StackSharing::SetDescriptorBudget(roomy, 64);
    const WalkLog expected = WalkAll(roomy, t.path(), false);

    FaultInjector injector;
    DescriptorPool pool(c.pooled);
    DirectoryStack tight;
    StackSharing::SetDescriptorBudget(tight, c.budget);
    StackSharing::SetDescriptorPool(tight, &pool);
    const WalkLog got = WalkAll(tight, t.path(), c.examine);
    EXPECT_EQ(got.lines, expected.lines);
    EXPECT_LE(got.mostDescriptors, c.budget + c.pooled);
    EXPECT_EQ(TestObserver::OpenDescriptors(tight), 0u);
    EXPECT_EQ(pool.Free(), c.pooled);  // all given back
    EXPECT_EQ(injector.Names(FaultOp::Open).count("..") != 0, c.climbs);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DirectoryStackTest,
    ::testing::Values(StackCase{"chain_examined", MakeChain, 2, true, false},
                      StackCase{"chain_not_examined", MakeChain, 2, false, true},
                      StackCase{"bushy_examined", MakeBushy, 2, true, true},
                      StackCase{"bushy_three", MakeBushy, 3, false, true},
                      StackCase{"chain_pooled", MakeChain, 2, false, false, 40},
                      StackCase{"bushy_pool_runs_out", MakeBushy, 2, false, true, 1}),
    [](const auto& p) { return std::string(p.param.label); });

// Spare threads that run what a stack lends them: at once, never, or late (on a thread that
// starts a while after it was asked).
struct TestSpareThreads final : SpareThreads {
    enum class Mode { Now, Never, Late } mode;
    explicit TestSpareThreads(Mode m) : mode(m) {}
    ~TestSpareThreads() override {
        for (std::thread& t : threads) {
            t.join();
        }
    }
    bool TryRun(std::function<void()> work) override {
        ++lent;
        if (mode == Mode::Never) {
            kept.push_back(std::move(work));  // dropped with the spare threads
            return true;
        }
        const auto delay = std::chrono::milliseconds(mode == Mode::Late ? 5 : 0);
        threads.emplace_back([work = std::move(work), delay] {
            std::this_thread::sleep_for(delay);
            work();
        });
        return true;
    }
    int lent = 0;
    std::vector<std::function<void()>> kept;
    std::vector<std::thread> threads;
};

// A listing many buffers long, gone through on a thread the stack borrows while it reads on,
// gives the entries, tags, sizes and identities the stack gives alone, whether the thread comes
// at once, late or never.
TEST(DirectoryStackLendTest, ALongListingReadsTheSameWithASpareThread) {
    TempDir t(TempDir::Where::Memory);
    for (int i = 0; i < 20000; ++i) {
        const std::string name = "long/" + std::to_string(i) + "-a-name-of-some-length";
        t.File(name + (i % 25 == 0 ? ".tmp" : ".txt"), static_cast<std::uint64_t>(i % 7));
        if (i % 5000 == 0) {
            t.File(name + "-dir/inner.tmp", 1);
        }
    }
    DirectoryStack alone;
    const WalkLog expected = WalkAll(alone, t.path(), true);
    for (const auto mode : {TestSpareThreads::Mode::Now, TestSpareThreads::Mode::Late,
                            TestSpareThreads::Mode::Never}) {
        SCOPED_TRACE(static_cast<int>(mode));
        TestSpareThreads spare(mode);
        DirectoryStack stack;
        StackSharing::SetSpareThreads(stack, &spare);
        const WalkLog got = WalkAll(stack, t.path(), true);
        EXPECT_EQ(got.lines, expected.lines);
        EXPECT_GE(spare.lent, 1);
    }
}

// Runs out of memory, as far as the stack can tell, on any thread but the one that made it.
struct ExhaustedElsewhereExaminer final : EntryExaminer {
    std::uint8_t TagFile(std::string_view /*name*/) override {
        if (std::this_thread::get_id() != owner) {
            thrown = true;
            throw std::bad_alloc();  // what the walk's containers throw when memory runs out
        }
        return 0;
    }
    const std::thread::id owner = std::this_thread::get_id();
    std::atomic<bool> thrown{false};
};

// Memory that runs out on a borrowed thread ends the listing on the stack's own thread, with
// that very std::bad_alloc, and leaves the stack as it was before, nothing more held open.
TEST(DirectoryStackLendTest, MemoryRunningOutOnASpareThreadEndsTheListingOnTheStacksThread) {
    TempDir t(TempDir::Where::Memory);
    for (int i = 0; i < 20000; ++i) {
        t.File("long/" + std::to_string(i) + "-a-name-of-some-length.txt", 0);
    }
    const std::size_t openBefore = testing::OpenDescriptorCount();
    // A borrowed thread that comes too late leaves the listing to the stack: a few tries.
    bool thrown = false;
    for (int attempt = 0; attempt < 10 && !thrown; ++attempt) {
        ExhaustedElsewhereExaminer examiner;
        TestSpareThreads spare(TestSpareThreads::Mode::Now);
        DirectoryStack stack;
        stack.SetExaminer(&examiner);
        StackSharing::SetSpareThreads(stack, &spare);
        ASSERT_TRUE(stack.OpenRoot(t.path()));
        DirEntry entry;
        ASSERT_TRUE(stack.NextEntry(entry));
        ASSERT_EQ(entry.name, "long");
        try {
            (void)stack.EnterChild("long");
        } catch (const std::bad_alloc&) {
            thrown = true;
            EXPECT_TRUE(examiner.thrown);
            EXPECT_EQ(stack.Depth(), 1u);
            EXPECT_EQ(TestObserver::OpenDescriptors(stack), 1u);
            EXPECT_FALSE(stack.NextEntry(entry));
        }
    }
    EXPECT_TRUE(thrown);
    EXPECT_EQ(testing::OpenDescriptorCount(), openBefore);
}

// A stack gives away the last subdirectory it has not reached of the shallowest level above the
// one it lists, and meets it later as HandedOff in its place; another stack lists it.
TEST(DirectoryStackHandOffTest, GivesTheFarthestLaterDirectoryAndMarksItsPlace) {
    TempDir t(TempDir::Where::Memory);
    for (const char* s : {"s0", "s1", "s2", "s3", "s4"}) {  // tmpfs lists them s4 first
        t.File(std::string(s) + "/inner/f.txt", 1);
    }
    DirectoryStack stack;
    ASSERT_TRUE(stack.OpenRoot(t.path()));
    DirEntry entry;
    ASSERT_TRUE(stack.NextEntry(entry));
    ASSERT_EQ(entry.name, "s4");
    EXPECT_FALSE(StackSharing::HasLaterDirectory(stack));
    EXPECT_FALSE(StackSharing::HandOffLaterDirectory(stack))
        << "the top's own subdirectories are its next work";
    ASSERT_EQ(stack.EnterChild("s4"), DirectoryStack::EnterResult::Entered);

    EXPECT_TRUE(StackSharing::HasLaterDirectory(stack));
    std::optional<StackSharing::HandOff> first = StackSharing::HandOffLaterDirectory(stack);
    std::optional<StackSharing::HandOff> second = StackSharing::HandOffLaterDirectory(stack);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->level, 0u);
    EXPECT_EQ(first->name, "s0");
    EXPECT_EQ(second->name, "s1");

    EXPECT_TRUE(StackSharing::HandOffLaterDirectory(stack) &&
                StackSharing::HandOffLaterDirectory(stack));  // s2, s3
    EXPECT_FALSE(StackSharing::HasLaterDirectory(stack)) << "all given";
    EXPECT_FALSE(StackSharing::HandOffLaterDirectory(stack));

    DirectoryStack other;
    ASSERT_TRUE(StackSharing::AdoptRoot(other, std::move(second->directory)));
    ASSERT_TRUE(other.NextEntry(entry));
    EXPECT_EQ(entry.name, "inner");
    EXPECT_EQ(entry.type, EntryType::Directory);

    stack.Leave();
    std::vector<std::string> rest;
    while (stack.NextEntry(entry)) {
        rest.push_back(std::string(entry.name) +
                       (entry.type == EntryType::HandedOff ? " handed" : ""));
    }
    EXPECT_EQ(rest, (std::vector<std::string>{"s3 handed", "s2 handed", "s1 handed", "s0 handed"}));
}

// The table is grown before the walk's threads share it: later it would wait for them all. In a
// grandchild whose table is as small as a fresh process's, however large this one's is.
TEST(DescriptorRoomTest, TheTableHoldsTheWalksShareBeforehand) {
    const auto tableSize = [] {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("FDSize:")) {
                return std::stoul(line.substr(7));
            }
        }
        return 0UL;
    };
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A process's table is copied at fork as large as what it has open needs.
        ::close_range(3, ~0U, 0);
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            if (tableSize() >= 128) {
                ::_exit(2);  // no small table to start from
            }
            StackSharing::ReserveDescriptorRoom();
            // Room for the share above the three standard descriptors.
            ::_exit(tableSize() > StackSharing::ProcessDescriptorShare() + 3 ? 0 : 1);
        }
        int got = 0;
        ::_exit(grandchild > 0 && ::waitpid(grandchild, &got, 0) == grandchild && WIFEXITED(got)
                    ? WEXITSTATUS(got)
                    : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) {
        GTEST_SKIP() << "no small descriptor table to start from";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace clearnook::platform
