// The remover on real trees: which recorded paths it accepts, what it refuses to touch, and how
// few directories and descriptors it needs.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux_testing.h"
#include "platform/recorded_file_remover.h"
#include "tests/support/fault_syscalls.h"
#include "tests/support/file_holder.h"
#include "tests/support/temp_tree.h"

namespace clearnook::platform {
namespace {

using testing::Exists;
using testing::IdentityAt;
using testing::RootIdentityAt;
using testing::TempDir;

const char* Name(RemoveResult r) {
    switch (r) {
        case RemoveResult::Removed:
            return "Removed";
        case RemoveResult::Missing:
            return "Missing";
        case RemoveResult::Changed:
            return "Changed";
        case RemoveResult::Refused:
            return "Refused";
        case RemoveResult::Unverifiable:
            return "Unverifiable";
        case RemoveResult::InUse:
            return "InUse";
    }
    return "?";
}

// One recorded path handed to a remover for the tree below, and what must come of it.
//   tree:  T/a.tmp  T/sub/b.tmp  T/sub/deeper/c.tmp  T/file.txt  T/dir.tmp/  T/link -> sub
struct PathCase {
    const char* label;
    const char* rootSuffix;  // appended to T to form the root the walk was given
    const char* path;        // appended to T to form the recorded path
    const char* identityOf;  // relative to T: whose identity was recorded ("" = zero)
    RemoveResult expected;
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << c.label;
}

class RemovePathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(RemovePathTest, RemovesOnlyTheRecordedFile) {
    const PathCase& c = GetParam();
    TempDir t;
    t.File("a.tmp", 1);
    t.File("sub/b.tmp", 1);
    t.File("sub/deeper/c.tmp", 1);
    t.File("file.txt", 1);
    t.Dir("dir.tmp");
    ASSERT_EQ(::symlink("sub", (t / "link").c_str()), 0);
    const std::vector<std::string> everything = {"a.tmp",    "sub/b.tmp", "sub/deeper/c.tmp",
                                                 "file.txt", "dir.tmp",   "link"};
    const FileIdentity recorded = *c.identityOf ? IdentityAt(t / c.identityOf) : FileIdentity{};

    RecordedFileRemover remover(t.path() + c.rootSuffix, RootIdentityAt(t.path()));
    EXPECT_STREQ(Name(remover.Remove(t.path() + c.path, recorded)), Name(c.expected));

    for (const std::string& p : everything) {
        const bool shouldBeGone = c.expected == RemoveResult::Removed && p == c.identityOf;
        EXPECT_EQ(Exists(t / p), !shouldBeGone) << p;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RemovePathTest,
    ::testing::Values(
        PathCase{"file_in_root", "", "/a.tmp", "a.tmp", RemoveResult::Removed},
        PathCase{"file_two_down", "", "/sub/deeper/c.tmp", "sub/deeper/c.tmp",
                 RemoveResult::Removed},
        PathCase{"root_with_trailing_slash", "/", "/a.tmp", "a.tmp", RemoveResult::Removed},
        PathCase{"root_with_two_slashes", "//", "//sub/b.tmp", "sub/b.tmp", RemoveResult::Removed},
        PathCase{"identity_of_another_file", "", "/a.tmp", "file.txt", RemoveResult::Changed},
        PathCase{"zero_identity", "", "/a.tmp", "", RemoveResult::Changed},
        PathCase{"a_directory_in_its_place", "", "/dir.tmp", "dir.tmp", RemoveResult::Changed},
        PathCase{"through_a_symbolic_link", "", "/link/b.tmp", "sub/b.tmp", RemoveResult::Changed},
        PathCase{"a_file_where_a_directory_was", "", "/file.txt/b.tmp", "sub/b.tmp",
                 RemoveResult::Changed},
        PathCase{"dot_dot_component", "", "/sub/../a.tmp", "a.tmp", RemoveResult::Changed},
        PathCase{"dot_component", "", "/./a.tmp", "a.tmp", RemoveResult::Changed},
        PathCase{"empty_component", "", "/sub//b.tmp", "sub/b.tmp", RemoveResult::Changed},
        PathCase{"not_below_the_root", "/sub", "/a.tmp", "a.tmp", RemoveResult::Changed},
        PathCase{"root_is_a_name_prefix", "/su", "/sub/b.tmp", "sub/b.tmp", RemoveResult::Changed},
        PathCase{"the_root_itself", "", "", "a.tmp", RemoveResult::Changed},
        PathCase{"missing_file", "", "/gone.tmp", "a.tmp", RemoveResult::Missing},
        PathCase{"missing_directory", "", "/gone/a.tmp", "a.tmp", RemoveResult::Missing}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(RecordedFileRemoverTest, NamesWithAnyByteButSlashAndNul) {
    TempDir t;
    const std::vector<std::string> names = {"back\\slash.tmp", "new\nline.tmp", "\xff\xfe.tmp",
                                            " lead space.tmp", "-dash.tmp",     "dir\\x\n/y.tmp"};
    for (const std::string& n : names) {
        t.File(n, 1);
    }
    RecordedFileRemover remover(t.path(), RootIdentityAt(t.path()));
    for (const std::string& n : names) {
        const FileIdentity id = IdentityAt(t / n);
        EXPECT_EQ(remover.Remove(t / n, id), RemoveResult::Removed) << n;
        EXPECT_FALSE(Exists(t / n)) << n;
    }
}

TEST(RecordedFileRemoverTest, RootOfTheWholeFileSystem) {
    TempDir t;
    t.File("x.tmp", 1);
    struct stat rootSt {};
    struct stat dirSt {};
    ASSERT_EQ(::stat("/", &rootSt), 0);
    ASSERT_EQ(::stat(t.path().c_str(), &dirSt), 0);
    if (rootSt.st_dev != dirSt.st_dev) {
        GTEST_SKIP() << "the temporary directory is on another file system than /";
    }
    RecordedFileRemover remover("/", RootIdentityAt("/"));
    const RemoveResult r = remover.Remove(t / "x.tmp", IdentityAt(t / "x.tmp"));
    if (r == RemoveResult::Changed && Exists(t / "x.tmp")) {
        GTEST_SKIP() << "the temporary directory is below a mount point of the same file system";
    }
    EXPECT_EQ(r, RemoveResult::Removed);
    EXPECT_FALSE(Exists(t / "x.tmp"));
}

TEST(RecordedFileRemoverTest, RootThatIsNoLongerTheWalkedDirectoryRemovesNothing) {
    TempDir t;
    t.File("walked/a.tmp", 1);
    t.File("other/a.tmp", 1);
    const RootIdentity walked = RootIdentityAt(t / "walked");
    const FileIdentity a = IdentityAt(t / "walked/a.tmp");
    ASSERT_EQ(::rename((t / "walked").c_str(), (t / "moved").c_str()), 0);
    ASSERT_EQ(::rename((t / "other").c_str(), (t / "walked").c_str()), 0);
    RecordedFileRemover remover(t / "walked", walked);
    EXPECT_EQ(remover.Remove(t / "walked/a.tmp", a), RemoveResult::Changed);
    EXPECT_EQ(remover.Remove(t / "walked/a.tmp", IdentityAt(t / "walked/a.tmp")),
              RemoveResult::Changed);
    EXPECT_TRUE(Exists(t / "walked/a.tmp"));
    EXPECT_TRUE(Exists(t / "moved/a.tmp"));

    RecordedFileRemover gone(t / "nowhere", walked);
    EXPECT_EQ(gone.Remove(t / "nowhere/a.tmp", a), RemoveResult::Missing);
    RecordedFileRemover unknown(t / "moved", RootIdentity{});
    EXPECT_EQ(unknown.Remove(t / "moved/a.tmp", a), RemoveResult::Changed);
    EXPECT_TRUE(Exists(t / "moved/a.tmp"));
}

TEST(RecordedFileRemoverTest, OpensEachDirectoryOnceForFilesInWalkOrder) {
    TempDir t;
    // Walk order: files of A, then the whole of A/B, then the rest of A; then C.
    std::vector<std::string> order;
    for (const char* dir : {"A", "A/B", "A", "C"}) {
        for (int i = 0; i < 20; ++i) {
            const std::string p = std::string(dir) + "/f" + std::to_string(order.size()) + ".tmp";
            t.File(p, 1);
            order.push_back(p);
        }
    }
    RecordedFileRemover remover(t.path(), RootIdentityAt(t.path()));
    for (const std::string& p : order) {
        EXPECT_EQ(remover.Remove(t / p, IdentityAt(t / p)), RemoveResult::Removed) << p;
    }
    EXPECT_EQ(TestObserver::DirectoryOpens(remover), 4u);  // the root, A, A/B, C
}

// Descriptors this process has open right now.
std::size_t OpenDescriptorsOfProcess() {
    std::size_t n = 0;
    for (int fd = 0; fd < 4096; ++fd) {
        n += ::fcntl(fd, F_GETFD) != -1 ? 1u : 0u;
    }
    return n;
}

TEST(RecordedFileRemoverTest, DeepTreesStayWithinTheDescriptorBudget) {
    TempDir t;
    constexpr std::size_t kDepth = 1500;  // the deepest path still fits in PATH_MAX for lstat
    testing::MakeChain(t.path(), kDepth, "d", "");
    // A file every 150 levels, deepest first, so every file climbs back past closed levels.
    std::vector<std::string> paths;
    std::string dir = t.path();
    for (std::size_t level = 1; level <= kDepth; ++level) {
        dir += "/d";
        if (level % 150 == 0) {
            paths.insert(paths.begin(), dir + "/f.tmp");
        }
    }
    for (const std::string& p : paths) {
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        ::close(fd);
    }

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct rlimit low = saved;
    low.rlim_cur = std::min<rlim_t>(saved.rlim_cur, 32);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    const std::size_t before = OpenDescriptorsOfProcess();
    {
        RecordedFileRemover remover(t.path(), RootIdentityAt(t.path()));
        EXPECT_EQ(TestObserver::DescriptorBudget(remover), 4u);
        for (const std::string& p : paths) {
            const FileIdentity id = IdentityAt(p);
            EXPECT_EQ(remover.Remove(p, id), RemoveResult::Removed);
            EXPECT_LE(TestObserver::OpenDescriptors(remover),
                      TestObserver::DescriptorBudget(remover) + 1);
            EXPECT_LE(OpenDescriptorsOfProcess(),
                      before + TestObserver::DescriptorBudget(remover) + 1);
        }
    }
    EXPECT_EQ(OpenDescriptorsOfProcess(), before);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    for (const std::string& p : paths) {
        EXPECT_FALSE(Exists(p));
    }
}

// The scan walks a tree with two descriptors to spare; so must the pass that deletes what it
// found, root and all, even with other descriptors of the process taking what its budget counts on.
TEST(RecordedFileRemoverTest, TwoDescriptorsToSpareAreEnough) {
    TempDir t;
    std::vector<std::string> paths;
    for (const char* top : {"a", "b", "c"}) {
        for (const char* name : {"one.tmp", "two.tmp"}) {
            paths.push_back(t / top + "/b/c/Temp/" + name);
            t.File(paths.back().substr(t.path().size() + 1), 1);
        }
        paths.push_back(t / top + "/top.tmp");
        t.File(paths.back().substr(t.path().size() + 1), 1);
    }
    std::vector<FileIdentity> ids;
    for (const std::string& p : paths) {
        ids.push_back(IdentityAt(p));
    }
    const RootIdentity root = RootIdentityAt(t.path());
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    // The lowest free descriptor, and one more: every later open past those two fails.
    const int lowest = ::dup(0);
    ASSERT_GE(lowest, 0);
    ::close(lowest);
    struct rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(lowest) + 2;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<RemoveResult> results;
    {
        RecordedFileRemover remover(t.path(), root);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            results.push_back(remover.Remove(paths[i], ids[i]));
        }
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(results[i], RemoveResult::Removed) << paths[i];
        EXPECT_FALSE(Exists(paths[i])) << paths[i];
    }
}

// Who holds a recorded file open while the remover comes to it, and what must come of it.
struct HeldCase {
    const char* label;
    enum class Holder { Nobody, ChildDescriptor, ChildMapping, ThisProcess } holder;
    RemoveResult expected;
};

void PrintTo(const HeldCase& c, std::ostream* os) {
    *os << c.label;
}

class RemoveHeldFileTest : public ::testing::TestWithParam<HeldCase> {};

TEST_P(RemoveHeldFileTest, KeepsWhatAnotherProcessHoldsOpen) {
    using Holder = HeldCase::Holder;
    const HeldCase& c = GetParam();
    TempDir t;
    t.File("Temp/held.tmp", 1);
    t.File("Temp/free.tmp", 1);
    const FileIdentity held = IdentityAt(t / "Temp/held.tmp");
    const FileIdentity free = IdentityAt(t / "Temp/free.tmp");
    std::optional<testing::FileHolder> child;
    if (c.holder == Holder::ChildDescriptor || c.holder == Holder::ChildMapping) {
        child.emplace(std::vector<std::string>{t / "Temp/held.tmp"},
                      c.holder == Holder::ChildMapping ? testing::FileHolder::How::Mapping
                                                       : testing::FileHolder::How::Descriptor);
        ASSERT_TRUE(child->Holding());
    }
    const int own = c.holder == Holder::ThisProcess
                        ? ::open((t / "Temp/held.tmp").c_str(), O_RDONLY | O_CLOEXEC)
                        : -1;

    RecordedFileRemover remover(t.path(), RootIdentityAt(t.path()));
    EXPECT_STREQ(Name(remover.Remove(t / "Temp/held.tmp", held)), Name(c.expected));
    EXPECT_STREQ(Name(remover.Remove(t / "Temp/free.tmp", free)), "Removed");
    if (own >= 0) {
        ::close(own);
    }
    EXPECT_EQ(Exists(t / "Temp/held.tmp"), c.expected != RemoveResult::Removed);
    EXPECT_FALSE(Exists(t / "Temp/free.tmp"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RemoveHeldFileTest,
    ::testing::Values(
        HeldCase{"held_by_no_one", HeldCase::Holder::Nobody, RemoveResult::Removed},
        HeldCase{"open_in_another_process", HeldCase::Holder::ChildDescriptor, RemoveResult::InUse},
        HeldCase{"only_mapped_by_another_process", HeldCase::Holder::ChildMapping,
                 RemoveResult::InUse},
        // What the program itself has open (the pass's own directories, say) is no one else's.
        HeldCase{"open_in_this_process", HeldCase::Holder::ThisProcess, RemoveResult::Removed}),
    [](const auto& p) { return std::string(p.param.label); });

// A mount that appears below the root after the walk is not entered, whichever way directories
// are opened.
class RemoverMountTest : public ::testing::TestWithParam<bool> {};

TEST_P(RemoverMountTest, NeverEntersAMountThatAppearedAfterTheWalk) {
    TempDir t;
    t.File("walked/Temp/a.tmp", 1);
    t.File("victim/a.tmp", 1);
    const FileIdentity a = IdentityAt(t / "walked/Temp/a.tmp");
    const FileIdentity victimA = IdentityAt(t / "victim/a.tmp");
    if (::mount((t / "victim").c_str(), (t / "walked/Temp").c_str(), nullptr, MS_BIND, nullptr) !=
        0) {
        GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
    }
    RemoveResult recordedOne{};
    RemoveResult victimsOwn{};
    {
        const testing::Openat2Refusal refusal(!GetParam());
        RecordedFileRemover remover(t / "walked", RootIdentityAt(t / "walked"));
        recordedOne = remover.Remove(t / "walked/Temp/a.tmp", a);
        victimsOwn = remover.Remove(t / "walked/Temp/a.tmp", victimA);
    }
    ::umount2((t / "walked/Temp").c_str(), MNT_DETACH);
    EXPECT_EQ(recordedOne, RemoveResult::Changed);
    EXPECT_EQ(victimsOwn, RemoveResult::Changed);  // even the identity of the file over there
    EXPECT_TRUE(Exists(t / "victim/a.tmp"));
    EXPECT_TRUE(Exists(t / "walked/Temp/a.tmp"));
}

INSTANTIATE_TEST_SUITE_P(OpenMethods, RemoverMountTest, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "openat2" : "openat"; });

}  // namespace
}  // namespace clearnook::platform
