// The delete pass against a disk that changes between the scan and the pass, as someone with
// write access to a directory of the tree could change it while a privileged cleaner runs: it
// must never remove a file outside the scanned tree, nor one the scan did not record.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/delete.h"
#include "engine/scan.h"
#include "platform/recorded_file_remover.h"
#include "tests/support/fault_syscalls.h"
#include "tests/support/temp_tree.h"

namespace clearnook {
namespace {

using testing::IdentityAt;
using testing::SetImmutable;
using testing::TempDir;

const std::string kNote =
    "\n\nNOTE: All selected files could not be removed. Try closing all running programs and "
    "re-scanning your hard drive.";

std::string Report(int removed, bool note) {
    return std::to_string(removed) + " files were removed.\nThank you for using Clearnook!" +
           (note ? kNote : "");
}

// Every entry below `dir` that is not a directory, with its identity; links are not followed.
void FilesBelow(const std::string& dir, std::map<std::string, platform::FileIdentity>& out) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string p = dir + "/" + name;
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            FilesBelow(p, out);
        } else {
            out[p] = IdentityAt(p);
        }
    }
    ::closedir(d);
}

std::map<std::string, platform::FileIdentity> FilesBelow(const std::string& dir) {
    std::map<std::string, platform::FileIdentity> out;
    FilesBelow(dir, out);
    return out;
}

// A scan of `root` whose ticked categories are then deleted. Run with both ways of opening
// directories: openat2 where the kernel has it, and the openat fallback.
class DeleteAttackTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override { m_refusal.emplace(!GetParam()); }
    void TearDown() override { m_refusal.reset(); }
    std::optional<testing::Openat2Refusal> m_refusal;

    void Scan(const std::string& root) {
        m_root = root;
        ScanParams params;
        params.rules = RuleChoice::Windows;  // the trees here are laid out for them
        params.path = root;
        params.state = m_state;
        ScanThreadProc(params);
    }

    const std::vector<FoundFile>& List(int c) const {
        return m_state->results.lists[static_cast<std::size_t>(c)];
    }

    // Runs the pass over `ticked` (through `deleter` when given, to act between files) and checks
    // that every file below `everything` that is not among the recorded (path, identity) pairs of
    // the ticked categories is still there, as it was.
    DeleteReport PassKeepingAllButRecorded(const std::string& everything,
                                           const std::vector<int>& ticked = {CAT_TEMP_FILES},
                                           FileDeleter* deleter = nullptr) {
        std::set<std::tuple<std::string, std::uint64_t, std::uint64_t>> recorded;
        for (const int c : ticked) {
            for (const FoundFile& f : List(c)) {
                recorded.insert(
                    {m_state->results.PathOf(f), f.identity.inode, f.identity.birthTime});
            }
        }
        const auto before = FilesBelow(everything);
        const DeleteReport report = deleter != nullptr
                                        ? RunDeletePass(ticked, m_state->results, *deleter)
                                        : RunDeletePass(ticked, m_state->results, m_root);
        const auto after = FilesBelow(everything);
        for (const auto& [path, id] : before) {
            if (recorded.count({path, id.inode, id.birthTime}) != 0) {
                continue;
            }
            const auto it = after.find(path);
            EXPECT_TRUE(it != after.end() && it->second == id)
                << path << " was not recorded but is gone or changed";
        }
        return report;
    }

    std::shared_ptr<ScanState> m_state = std::make_shared<ScanState>();
    std::string m_root;
};

// The victims below hold a file of each recorded name: one of them a hard link to the recorded
// file itself, so that only the way to it, not its identity, tells it apart.
void HardLink(const TempDir& t, const char* from, const char* to) {
    ASSERT_EQ(::link((t / from).c_str(), (t / to).c_str()), 0) << std::strerror(errno);
}

TEST_P(DeleteAttackTest, FileDirectorySwappedForALinkToAVictim) {
    TempDir t;
    t.File("scan/Temp/a.log", 1);
    t.File("scan/Temp/b.log", 1);
    t.Dir("victim");
    HardLink(t, "scan/Temp/a.log", "victim/a.log");
    t.File("victim/b.log", 1);
    Scan(t / "scan");
    ASSERT_EQ(List(CAT_TEMP_FILES).size(), 2u);

    ASSERT_EQ(::rename((t / "scan/Temp").c_str(), (t / "scan/Temp.moved").c_str()), 0);
    ASSERT_EQ(::symlink((t / "victim").c_str(), (t / "scan/Temp").c_str()), 0);

    EXPECT_EQ(PassKeepingAllButRecorded(t.path()).text, Report(0, true));
    EXPECT_EQ(FilesBelow(t / "victim").size(), 2u);
}

TEST_P(DeleteAttackTest, DirectoryHigherUpSwappedForALinkToAVictim) {
    TempDir t;
    t.File("scan/x/y/Temp/a.log", 1);
    t.File("scan/x/y/Temp/b.log", 1);
    t.File("scan/other/c.tmp", 1);
    t.Dir("victim/y/Temp");
    HardLink(t, "scan/x/y/Temp/a.log", "victim/y/Temp/a.log");
    t.File("victim/y/Temp/b.log", 1);
    Scan(t / "scan");
    ASSERT_EQ(List(CAT_TEMP_FILES).size(), 3u);

    ASSERT_EQ(::rename((t / "scan/x").c_str(), (t / "scan/x.moved").c_str()), 0);
    ASSERT_EQ(::symlink((t / "victim").c_str(), (t / "scan/x").c_str()), 0);

    EXPECT_EQ(PassKeepingAllButRecorded(t.path()).text, Report(1, true));  // other/c.tmp
    EXPECT_EQ(FilesBelow(t / "victim").size(), 2u);
}

TEST_P(DeleteAttackTest, RootSwappedForALinkToAVictim) {
    TempDir t;
    t.File("scan/Temp/a.log", 1);
    t.File("scan/b.tmp", 1);
    t.Dir("victim/Temp");
    HardLink(t, "scan/Temp/a.log", "victim/Temp/a.log");
    HardLink(t, "scan/b.tmp", "victim/b.tmp");
    Scan(t / "scan");
    ASSERT_EQ(List(CAT_TEMP_FILES).size(), 2u);

    ASSERT_EQ(::rename((t / "scan").c_str(), (t / "scan.moved").c_str()), 0);
    ASSERT_EQ(::symlink((t / "victim").c_str(), (t / "scan").c_str()), 0);

    EXPECT_EQ(PassKeepingAllButRecorded(t.path()).text, Report(0, true));
    EXPECT_EQ(FilesBelow(t / "victim").size(), 2u);
}

TEST_P(DeleteAttackTest, RecordedFileReplacedByAnotherOfTheSameName) {
    TempDir t;
    t.File("scan/Temp/plain.log", 1);
    t.File("scan/Temp/linked.log", 1);
    t.File("scan/Temp/hardlinked.log", 1);
    t.File("scan/Temp/dir.log", 1);
    t.File("scan/Temp/kept.log", 1);
    t.File("victim/secret", 1);
    Scan(t / "scan");
    ASSERT_EQ(List(CAT_TEMP_FILES).size(), 5u);

    const std::string temp = t / "scan/Temp";
    // Each replacement is made while the recorded file still exists and then moved into its
    // place, so it cannot be given the recorded file's inode number again. (A file system that
    // reuses a freed number for a new entry of the same directory makes that entry look like the
    // recorded file; it is still only a name in this directory, never a file elsewhere.)
    const auto replace = [&](const char* name) {
        const std::string from = temp + "/" + name + ".new";
        const std::string to = temp + "/" + name;
        struct stat st {};
        if (::lstat(from.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            ASSERT_EQ(::unlink(to.c_str()), 0);  // a directory cannot be renamed over a file
        }
        ASSERT_EQ(::rename(from.c_str(), to.c_str()), 0) << name;
    };
    t.File("scan/Temp/plain.log.new", 1);
    replace("plain.log");
    ASSERT_EQ(::symlink((t / "victim/secret").c_str(), (temp + "/linked.log.new").c_str()), 0);
    replace("linked.log");
    ASSERT_EQ(::link((t / "victim/secret").c_str(), (temp + "/hardlinked.log.new").c_str()), 0);
    replace("hardlinked.log");
    t.File("scan/Temp/dir.log.new/inside", 1);
    replace("dir.log");

    EXPECT_EQ(PassKeepingAllButRecorded(t.path()).text, Report(1, true));  // kept.log only
    EXPECT_EQ(IdentityAt(temp + "/kept.log"), platform::FileIdentity{});
}

TEST_P(DeleteAttackTest, FileMadeAgainUnderARecordedNameIsKept) {
    // An application deletes its temporary file and makes a new one of the same name between the
    // scan and the pass. ext4 gives the new file the inode number the old one freed.
    TempDir t;
    t.File("scan/Temp/a.log", 1);
    Scan(t / "scan");
    ASSERT_EQ(List(CAT_TEMP_FILES).size(), 1u);
    const std::string path = t / "scan/Temp/a.log";
    const std::uint64_t inode = IdentityAt(path).inode;
    ASSERT_EQ(::unlink(path.c_str()), 0);
    t.File("scan/Temp/a.log", 1);
    RecordProperty("inode_reused", IdentityAt(path).inode == inode ? "yes" : "no");

    EXPECT_EQ(PassKeepingAllButRecorded(t.path()).text, Report(0, true));
    EXPECT_TRUE(testing::Exists(path));
}

TEST_P(DeleteAttackTest, FileRemovedBySomeoneElseIsAFailure) {
    TempDir t;
    t.File("scan/Temp/a.log", 1);
    t.File("scan/Temp/b.log", 1);
    t.File("scan/gone/c.tmp", 1);
    Scan(t / "scan");
    ASSERT_EQ(List(CAT_TEMP_FILES).size(), 3u);
    ASSERT_EQ(::unlink((t / "scan/Temp/a.log").c_str()), 0);
    testing::RemoveTree(t / "scan/gone");

    EXPECT_EQ(PassKeepingAllButRecorded(t.path()).text, Report(1, true));
    EXPECT_TRUE(FilesBelow(t / "scan").empty());
}

TEST_P(DeleteAttackTest, FilesCreatedAfterTheScanAndOtherCategoriesStay) {
    TempDir t;
    t.File("scan/Temp/a.log", 1);
    t.File("scan/Temp/sub/b.tmp", 1);
    t.File("scan/Photos/Thumbs.db", 1);
    t.File("scan/notes.txt", 1);
    Scan(t / "scan");
    t.File("scan/Temp/new.log", 1);
    t.File("scan/Temp/sub/new.tmp", 1);

    EXPECT_EQ(PassKeepingAllButRecorded(t.path()).text, Report(2, false));
    EXPECT_EQ(FilesBelow(t / "scan").size(), 4u);
}

// The pass keeps a directory open for the files that follow; swapping the directory's name for a
// link between two of its files must not steer the second deletion into the victim.
class SwapAfterFirstFile : public FileDeleter {
  public:
    SwapAfterFirstFile(FileDeleter& inner, std::function<void()> swap)
        : m_inner(inner), m_swap(std::move(swap)) {}
    bool Delete(const std::string& path, const platform::FileIdentity& identity) override {
        const bool removed = m_inner.Delete(path, identity);
        if (m_calls++ == 0) {
            m_swap();
        }
        return removed;
    }

  private:
    FileDeleter& m_inner;
    std::function<void()> m_swap;
    int m_calls = 0;
};

class RemoverDeleter : public FileDeleter {
  public:
    RemoverDeleter(const std::string& root, platform::RootIdentity id) : m_remover(root, id) {}
    bool Delete(const std::string& path, const platform::FileIdentity& identity) override {
        return m_remover.Remove(path, identity) == platform::RemoveResult::Removed;
    }

  private:
    platform::RecordedFileRemover m_remover;
};

TEST_P(DeleteAttackTest, DirectorySwappedInTheMiddleOfThePass) {
    TempDir t;
    t.Dir("victim");
    for (const char* n : {"a", "b", "c", "d"}) {
        const std::string recorded = std::string("scan/Temp/") + n + ".log";
        t.File(recorded, 1);
        HardLink(t, recorded.c_str(), (std::string("victim/") + n + ".log").c_str());
    }
    Scan(t / "scan");
    ASSERT_EQ(List(CAT_TEMP_FILES).size(), 4u);
    RemoverDeleter real(t / "scan", m_state->results.rootIdentity);
    SwapAfterFirstFile swapping(real, [&] {
        ASSERT_EQ(::rename((t / "scan/Temp").c_str(), (t / "scan/Temp.moved").c_str()), 0);
        ASSERT_EQ(::symlink((t / "victim").c_str(), (t / "scan/Temp").c_str()), 0);
    });
    const DeleteReport report = PassKeepingAllButRecorded(t.path(), {CAT_TEMP_FILES}, &swapping);
    EXPECT_EQ(FilesBelow(t / "victim").size(), 4u);
    // The directory already open is the one the scan walked: its recorded files may still go.
    EXPECT_EQ(report.removed + static_cast<int>(FilesBelow(t / "scan/Temp.moved").size()), 4);
}

// We run as root, whom permission bits do not stop: an immutable file in an immutable directory
// is what stays read-only for root too (chattr +i).
TEST_P(DeleteAttackTest, ReadOnlyFileInReadOnlyDirectoryIsAFailure) {
    TempDir t;
    t.File("scan/Locked/a.tmp", 1);
    t.File("scan/Locked/b.tmp", 1);
    t.File("scan/Temp/c.log", 1);
    Scan(t / "scan");
    ASSERT_EQ(List(CAT_TEMP_FILES).size(), 3u);
    if (!SetImmutable(t / "scan/Locked/a.tmp", true)) {
        GTEST_SKIP() << "the file system here has no immutable attribute: " << std::strerror(errno);
    }
    ::chmod((t / "scan/Locked/a.tmp").c_str(), 0444);
    ::chmod((t / "scan/Locked").c_str(), 0555);
    const bool dirLocked = SetImmutable(t / "scan/Locked", true);

    const DeleteReport report = PassKeepingAllButRecorded(t.path());

    EXPECT_TRUE(SetImmutable(t / "scan/Locked", false));
    EXPECT_TRUE(SetImmutable(t / "scan/Locked/a.tmp", false));
    ASSERT_TRUE(dirLocked);
    EXPECT_EQ(report.text, Report(1, true));  // c.log; nothing in the locked directory
    EXPECT_EQ(FilesBelow(t / "scan").size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(OpenMethods, DeleteAttackTest, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "openat2" : "openat"; });

}  // namespace
}  // namespace clearnook
