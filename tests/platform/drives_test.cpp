#include "platform/drives_linux.h"

#include <pwd.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/fs_services.h"
#include "tests/support/root_mount.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_tree.h"

namespace clearnook::platform {
namespace {

using testing::TempDir;

// A mount table written to a file, for libmount to read as it reads the real one.
class MountTable {
  public:
    explicit MountTable(const std::string& text) : m_path(m_dir / "table") {
        std::ofstream(m_path) << text;
    }
    const std::string& path() const { return m_path; }

  private:
    TempDir m_dir;
    std::string m_path;
};

// Labels by source path; remembers every source asked about.
struct FakeLabels {
    std::map<std::string, std::string> labels;
    std::vector<std::string> asked;

    VolumeLabelReader Reader() {
        return [this](const std::string& source) -> std::optional<std::string> {
            asked.push_back(source);
            const auto it = labels.find(source);
            if (it == labels.end()) {
                return std::nullopt;
            }
            return it->second;
        };
    }
};

std::vector<MountedVolume> List(const std::string& table, FakeLabels& labels) {
    const MountTable file(table);
    std::optional<std::vector<MountedVolume>> volumes =
        ListMountedVolumes(file.path(), labels.Reader());
    EXPECT_TRUE(volumes.has_value());
    return volumes.value_or(std::vector<MountedVolume>{});
}

std::vector<std::string> Paths(const std::vector<MountedVolume>& volumes) {
    std::vector<std::string> paths;
    for (const MountedVolume& v : volumes) {
        paths.push_back(v.mountPath);
    }
    return paths;
}

// A mountinfo line mounting `source` of type `type` at `target` (already escaped).
std::string Mountinfo(int id, const std::string& target, const std::string& type,
                      const std::string& source) {
    return std::to_string(id) + " 1 8:" + std::to_string(id) + " / " + target + " rw,relatime - " +
           type + " " + source + " rw\n";
}

// The rules a scan picks depend on the type of the mount a path lies on, not of the mount point
// nearest in its text: a directory below a mount point belongs to that mount.
TEST(MountedVolumes, MountTypeIsThatOfTheMountHoldingThePath) {
    TempDir memory(TempDir::Where::Memory);
    memory.Dir("a/b");
    struct Case {
        std::string path;
        const char* type;
    };
    for (const Case& c : {Case{"/proc", "proc"}, Case{"/proc/self/fd", "proc"},
                          Case{memory / "a/b", "tmpfs"}, Case{"/no/such/path", ""}}) {
        if (c.path == memory / "a/b" && !memory.path().starts_with("/dev/shm")) {
            continue;  // no memory file system here
        }
        EXPECT_EQ(MountTypeOf(c.path), c.type) << c.path;
    }
}

TEST(MountedVolumes, MountinfoTableGivesPathsInOrderWithLabels) {
    FakeLabels labels;
    labels.labels = {{"/dev/sda1", "SYSTEM"}, {"/dev/sdb1", "USB STICK"}};
    const std::vector<MountedVolume> volumes =
        List(Mountinfo(30, "/home", "ext4", "/dev/sda3") +
                 Mountinfo(31, "/media/u/USB\\040STICK", "vfat", "/dev/sdb1") +
                 Mountinfo(22, "/proc", "proc", "proc") + Mountinfo(26, "/", "ext4", "/dev/sda1") +
                 Mountinfo(27, "/boot/efi", "vfat", "/dev/sda2"),
             labels);
    ASSERT_EQ(volumes.size(), 4u);
    EXPECT_EQ(volumes[0].mountPath, "/");
    EXPECT_EQ(volumes[0].label, "SYSTEM");
    EXPECT_EQ(volumes[1].mountPath, "/boot/efi");
    EXPECT_EQ(volumes[1].label, "");
    EXPECT_EQ(volumes[2].mountPath, "/home");
    EXPECT_EQ(volumes[2].label, "");
    EXPECT_EQ(volumes[3].mountPath, "/media/u/USB STICK");
    EXPECT_EQ(volumes[3].label, "USB STICK");
}

TEST(MountedVolumes, FstabTableIsReadToo) {
    FakeLabels labels;
    labels.labels = {{"/dev/sda1", "ROOT"}};
    const std::vector<MountedVolume> volumes = List(
        "# comment\n"
        "/dev/sda1 / ext4 defaults 0 1\n"
        "LABEL=DATA /mnt/my\\040data ext4 defaults 0 2\n"
        "none none swap sw 0 0\n"
        "tmpfs /tmp tmpfs defaults 0 0\n",
        labels);
    EXPECT_EQ(Paths(volumes), (std::vector<std::string>{"/", "/mnt/my data"}));
    EXPECT_EQ(volumes[0].label, "ROOT");
    // A source given by tag is not a path: nothing to read a label from.
    EXPECT_EQ(labels.asked, std::vector<std::string>{"/dev/sda1"});
}

TEST(MountedVolumes, PathOrderIsComponentByComponent) {
    FakeLabels labels;
    const std::vector<MountedVolume> volumes =
        List(Mountinfo(40, "/mnt/a\\040b", "ext4", "/dev/sdc1") +
                 Mountinfo(41, "/mnt/a/x", "ext4", "/dev/sdc2") +
                 Mountinfo(42, "/mnt/a", "ext4", "/dev/sdc3") +
                 Mountinfo(43, "/mnt/a-b", "ext4", "/dev/sdc4") +
                 Mountinfo(44, "/", "ext4", "/dev/sda1"),
             labels);
    EXPECT_EQ(Paths(volumes),
              (std::vector<std::string>{"/", "/mnt/a", "/mnt/a/x", "/mnt/a b", "/mnt/a-b"}));
}

TEST(MountedVolumes, SamePathMountedTwiceGivesOneEntryOfTheLaterMount) {
    FakeLabels labels;
    labels.labels = {{"/dev/sdb1", "OLD"}, {"/dev/sdb2", "NEW"}};
    const std::vector<MountedVolume> volumes =
        List(Mountinfo(26, "/", "ext4", "/dev/sda1") + Mountinfo(50, "/data", "ext4", "/dev/sdb1") +
                 Mountinfo(51, "/data", "xfs", "/dev/sdb2"),
             labels);
    ASSERT_EQ(Paths(volumes), (std::vector<std::string>{"/", "/data"}));
    EXPECT_EQ(volumes[1].label, "NEW");
    // The covered mount's device is never probed.
    EXPECT_EQ(labels.asked, (std::vector<std::string>{"/dev/sda1", "/dev/sdb2"}));
}

TEST(MountedVolumes, PseudoFilesystemMountedOverARealOneHidesIt) {
    FakeLabels labels;
    const std::vector<MountedVolume> volumes = List(
        Mountinfo(26, "/", "ext4", "/dev/sda1") + Mountinfo(50, "/scratch", "ext4", "/dev/sdb1") +
            Mountinfo(51, "/scratch", "tmpfs", "tmpfs"),
        labels);
    EXPECT_EQ(Paths(volumes), std::vector<std::string>{"/"});
}

TEST(MountedVolumes, EveryPseudoFilesystemIsLeftOut) {
    const char* const pseudo[] = {
        "proc",    "sysfs",    "devtmpfs", "devpts",     "cgroup",     "cgroup2",
        "tmpfs",   "ramfs",    "squashfs", "securityfs", "debugfs",    "tracefs",
        "bpf",     "pstore",   "configfs", "mqueue",     "hugetlbfs",  "binfmt_misc",
        "fusectl", "efivarfs", "autofs",   "nsfs",       "rpc_pipefs",
    };
    for (const char* type : pseudo) {
        SCOPED_TRACE(type);
        EXPECT_TRUE(IsPseudoFilesystem(type));
        FakeLabels labels;
        const std::vector<MountedVolume> volumes = List(
            Mountinfo(26, "/", "ext4", "/dev/sda1") + Mountinfo(60, "/x", type, "none"), labels);
        EXPECT_EQ(Paths(volumes), std::vector<std::string>{"/"});
    }
}

TEST(MountedVolumes, FilesystemsThatHoldFilesAreKept) {
    const char* const kept[] = {"ext4", "xfs",     "btrfs",      "vfat", "ntfs3",
                                "nfs4", "overlay", "fuse.sshfs", "zfs"};
    for (const char* type : kept) {
        SCOPED_TRACE(type);
        EXPECT_FALSE(IsPseudoFilesystem(type));
        FakeLabels labels;
        const std::vector<MountedVolume> volumes = List(Mountinfo(60, "/x", type, "src"), labels);
        EXPECT_EQ(Paths(volumes), std::vector<std::string>{"/x"});
    }
}

TEST(MountedVolumes, LabelsAreAskedOnlyForPathSources) {
    FakeLabels labels;
    const std::vector<MountedVolume> volumes = List(
        Mountinfo(26, "/", "overlay", "overlay") + Mountinfo(27, "/net", "nfs4", "server:/export") +
            Mountinfo(28, "/disk", "ext4", "/dev/vdb"),
        labels);
    EXPECT_EQ(Paths(volumes), (std::vector<std::string>{"/", "/disk", "/net"}));
    EXPECT_EQ(labels.asked, std::vector<std::string>{"/dev/vdb"});
}

TEST(MountedVolumes, MalformedLinesAreSkipped) {
    FakeLabels labels;
    const std::vector<MountedVolume> volumes =
        List(Mountinfo(26, "/", "ext4", "/dev/sda1") + "this is not a mount\n" +
                 Mountinfo(27, "/home", "ext4", "/dev/sda2"),
             labels);
    EXPECT_EQ(Paths(volumes), (std::vector<std::string>{"/", "/home"}));
}

TEST(MountedVolumes, UnreadableTableGivesNothing) {
    TempDir dir;
    FakeLabels labels;
    EXPECT_FALSE(ListMountedVolumes(dir / "missing", labels.Reader()).has_value());
}

TEST(MountedVolumes, ThisMachineHasARootFilesystem) {
    if (const std::string why = testing::WhyRootIsNoDrive(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::optional<std::vector<MountedVolume>> volumes = ListMountedVolumes();
    ASSERT_TRUE(volumes.has_value());
    ASSERT_FALSE(volumes->empty());
    EXPECT_EQ(volumes->front().mountPath, "/");
}

// A 4 KiB image holding just enough of an ext2 superblock for libblkid to recognise it.
void WriteExt2Image(const std::string& path, const std::string& label) {
    std::string image(4096, '\0');
    constexpr std::size_t kSuperblock = 1024;
    image[kSuperblock + 0x38] = '\x53';  // magic 0xEF53, little-endian
    image[kSuperblock + 0x39] = '\xEF';
    image.replace(kSuperblock + 0x78, label.size(), label);
    std::ofstream(path, std::ios::binary) << image;
}

TEST(VolumeLabel, ReadFromAFilesystemImage) {
    TempDir dir;
    WriteExt2Image(dir / "labelled.img", "SYSTEM");
    WriteExt2Image(dir / "bare.img", "");
    EXPECT_EQ(ReadVolumeLabel(dir / "labelled.img"), std::optional<std::string>("SYSTEM"));
    EXPECT_EQ(ReadVolumeLabel(dir / "bare.img"), std::nullopt);
}

TEST(VolumeLabel, NothingForWhatHoldsNoFilesystem) {
    TempDir dir;
    dir.File("empty.img", 4096);
    dir.Dir("subdir");
    EXPECT_EQ(ReadVolumeLabel(dir / "empty.img"), std::nullopt);
    EXPECT_EQ(ReadVolumeLabel(dir / "subdir"), std::nullopt);
    EXPECT_EQ(ReadVolumeLabel(dir / "missing"), std::nullopt);
    EXPECT_EQ(ReadVolumeLabel("/dev/null"), std::nullopt);  // a character device
}

// What $HOME says, and which home folder the drive list is given. Paths starting with "T" lie in
// a fresh directory: T/home is a directory, T/file a file.
struct HomeCase {
    const char* label;
    std::optional<std::string> variable;  // $HOME; none: unset
    enum class Expect { Path, None, UserDatabase } expect;
    const char* path;  // with Expect::Path
};

void PrintTo(const HomeCase& c, std::ostream* os) {
    *os << c.label;
}

class HomeDirectoryTest : public ::testing::TestWithParam<HomeCase> {};

TEST_P(HomeDirectoryTest, ComesFromHomeOrTheUserDatabase) {
    const HomeCase& c = GetParam();
    TempDir t;
    t.Dir("home");
    t.File("file");
    std::optional<std::string> variable = c.variable;
    if (variable && variable->starts_with("T")) {
        variable = t.path() + variable->substr(1);
    }
    const testing::ScopedEnv home("HOME", variable);
    std::optional<std::string> expected;
    if (c.expect == HomeCase::Expect::Path) {
        expected = t.path() + std::string(c.path).substr(1);
    } else if (c.expect == HomeCase::Expect::UserDatabase) {
        const struct passwd* user = ::getpwuid(::getuid());
        if (user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/' &&
            IsListableDirectory(user->pw_dir)) {
            expected = user->pw_dir;
        }
    }
    EXPECT_EQ(HomeDirectory(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HomeDirectoryTest,
    ::testing::Values(HomeCase{"a_directory", "T/home", HomeCase::Expect::Path, "T/home"},
                      HomeCase{"trailing_slashes_dropped", "T/home//", HomeCase::Expect::Path,
                               "T/home"},
                      HomeCase{"a_file", "T/file", HomeCase::Expect::None, ""},
                      HomeCase{"missing", "T/missing", HomeCase::Expect::None, ""},
                      HomeCase{"relative", "home", HomeCase::Expect::None, ""},
                      HomeCase{"unset", std::nullopt, HomeCase::Expect::UserDatabase, ""},
                      HomeCase{"empty", "", HomeCase::Expect::UserDatabase, ""}),
    [](const auto& p) { return std::string(p.param.label); });

}  // namespace
}  // namespace clearnook::platform

namespace clearnook::platform {
namespace {

// A percentage of used inodes means something only for the root of a whole filesystem: not for
// a directory inside one, nor for a bind mount of one.
TEST(UsedInodes, OnlyWhereAWholeFilesystemIsMounted) {
    TempDir t;
    t.File("source/a.txt");
    t.Dir("bound");
    t.Dir("whole");
    EXPECT_FALSE(UsedInodesOfMountRoot(t.path()));
    EXPECT_FALSE(UsedInodesOfMountRoot(t / "missing"));
    if (::mount((t / "source").c_str(), (t / "bound").c_str(), nullptr, MS_BIND, nullptr) != 0 ||
        ::mount("none", (t / "whole").c_str(), "tmpfs", 0, "nr_inodes=1000") != 0) {
        ::umount2((t / "bound").c_str(), MNT_DETACH);
        GTEST_SKIP() << "cannot mount here: " << std::strerror(errno);
    }
    t.File("whole/one.txt");
    t.File("whole/dir/two.txt");
    const std::optional<std::uint64_t> bound = UsedInodesOfMountRoot(t / "bound");
    const std::optional<std::uint64_t> whole = UsedInodesOfMountRoot(t / "whole/dir/..");
    ::umount2((t / "bound").c_str(), MNT_DETACH);
    ::umount2((t / "whole").c_str(), MNT_DETACH);
    EXPECT_FALSE(bound);
    EXPECT_EQ(whole, std::optional<std::uint64_t>(4));  // the root, one.txt, dir and two.txt
}

}  // namespace
}  // namespace clearnook::platform
