// Linux drives: the mounted filesystems of the mount table (libmount), labelled through
// libblkid.
#include <blkid.h>
#include <fcntl.h>
#include <libmount.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/drives.h"
#include "platform/fs_services.h"
#include "platform/linux_open.h"

namespace clearnook::platform {
namespace {

// Filesystems of the kernel's own, of memory, and of read-only packaging: nothing a cleanup
// should walk. Kept sorted for the binary search.
constexpr std::array<std::string_view, 23> kPseudoFilesystems = {
    "autofs",     "binfmt_misc", "bpf",      "cgroup",   "cgroup2", "configfs",
    "debugfs",    "devpts",      "devtmpfs", "efivarfs", "fusectl", "hugetlbfs",
    "mqueue",     "nsfs",        "proc",     "pstore",   "ramfs",   "rpc_pipefs",
    "securityfs", "squashfs",    "sysfs",    "tmpfs",    "tracefs",
};
static_assert(std::ranges::is_sorted(kPseudoFilesystems));

// Path order, component by component: '/' sorts before every other byte, so a mount path is
// followed by the mounts below it before a sibling that merely shares its prefix.
struct PathLess {
    static unsigned Key(char c) {
        const auto u = static_cast<unsigned char>(c);
        return u == '/' ? 0u : u + 1u;
    }
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) { return Key(x) < Key(y); });
    }
};

// What the table says about one mount path; the last line for a path wins.
struct MountLine {
    bool pseudo = false;
    std::string source;  // a path, or empty when the source is not one (a tag, "proc", a host)
};

struct TableDeleter {
    void operator()(libmnt_table* t) const { mnt_unref_table(t); }
};
struct IterDeleter {
    void operator()(libmnt_iter* i) const { mnt_free_iter(i); }
};
struct ProbeDeleter {
    void operator()(blkid_struct_probe* p) const { blkid_free_probe(p); }
};

bool HoldsFilesystem(const struct stat& st) {
    return S_ISBLK(st.st_mode) || S_ISREG(st.st_mode);
}

}  // namespace

bool IsPseudoFilesystem(const std::string& fsType) {
    return std::binary_search(kPseudoFilesystems.begin(), kPseudoFilesystems.end(),
                              std::string_view(fsType));
}

std::optional<std::string> ReadVolumeLabel(const std::string& source) {
    // Looked at before opening: opening a character device or a FIFO can have effects of its own.
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0 || !HoldsFilesystem(st)) {
        return std::nullopt;
    }
    const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    FdCloser closer(fd);
    if (::fstat(fd, &st) != 0 || !HoldsFilesystem(st)) {
        return std::nullopt;  // replaced since the first look
    }
    std::unique_ptr<blkid_struct_probe, ProbeDeleter> probe(blkid_new_probe());
    if (!probe || blkid_probe_set_device(probe.get(), fd, 0, 0) != 0) {
        return std::nullopt;
    }
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL);
    blkid_probe_enable_partitions(probe.get(), 0);
    if (blkid_do_safeprobe(probe.get()) != 0) {
        return std::nullopt;  // nothing recognised, or two filesystems claim the device
    }
    const char* value = nullptr;
    std::size_t length = 0;
    if (blkid_probe_lookup_value(probe.get(), "LABEL", &value, &length) != 0 || value == nullptr) {
        return std::nullopt;
    }
    std::string label(value);
    if (label.empty()) {
        return std::nullopt;
    }
    return label;
}

std::optional<std::vector<MountedVolume>> ListMountedVolumes(const std::string& tableFile,
                                                             const VolumeLabelReader& labelOf) {
    std::unique_ptr<libmnt_table, TableDeleter> table(mnt_new_table());
    if (!table || mnt_table_parse_file(table.get(), tableFile.c_str()) != 0) {
        return std::nullopt;
    }
    std::unique_ptr<libmnt_iter, IterDeleter> iter(mnt_new_iter(MNT_ITER_FORWARD));
    if (!iter) {
        return std::nullopt;
    }
    std::map<std::string, MountLine, PathLess> byPath;
    libmnt_fs* fs = nullptr;
    while (mnt_table_next_fs(table.get(), iter.get(), &fs) == 0) {
        const char* target = mnt_fs_get_target(fs);
        if (target == nullptr || target[0] != '/') {
            continue;  // swap and other entries that are not mounted at a path
        }
        const char* type = mnt_fs_get_fstype(fs);
        const char* source = mnt_fs_get_srcpath(fs);
        MountLine line;
        line.pseudo = type != nullptr && IsPseudoFilesystem(type);
        if (source != nullptr && source[0] == '/') {
            line.source = source;
        }
        // A later mount at the same path covers the earlier one: a walk of the path sees it.
        byPath.insert_or_assign(target, std::move(line));
    }
    std::vector<MountedVolume> volumes;
    for (const auto& [path, line] : byPath) {
        if (line.pseudo) {
            continue;
        }
        MountedVolume volume;
        volume.mountPath = path;
        if (!line.source.empty() && labelOf) {
            volume.label = labelOf(line.source).value_or(std::string());
        }
        volumes.push_back(std::move(volume));
    }
    return volumes;
}

std::optional<std::vector<MountedVolume>> ListMountedVolumes() {
    return ListMountedVolumes("/proc/self/mountinfo", ReadVolumeLabel);
}

std::optional<std::string> HomeDirectory() {
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable != nullptr && *variable != '\0') {
        home = variable;
    } else {
        const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
        std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
        struct passwd entry {};
        struct passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
            found == nullptr || found->pw_dir == nullptr) {
            return std::nullopt;
        }
        home = found->pw_dir;
    }
    while (home.size() > 1 && home.back() == '/') {
        home.pop_back();
    }
    if (home.empty() || home.front() != '/' || !IsListableDirectory(home)) {
        return std::nullopt;
    }
    return home;
}

}  // namespace clearnook::platform

namespace clearnook::platform {

std::string MountTypeOf(const std::string& path) {
    char resolved[PATH_MAX];
    std::unique_ptr<libmnt_table, TableDeleter> table(mnt_new_table());
    if (::realpath(path.c_str(), resolved) == nullptr || !table ||
        mnt_table_parse_file(table.get(), "/proc/self/mountinfo") != 0) {
        return {};
    }
    libmnt_fs* fs = mnt_table_find_mountpoint(table.get(), resolved, MNT_ITER_BACKWARD);
    const char* type = fs != nullptr ? mnt_fs_get_fstype(fs) : nullptr;
    return type != nullptr ? type : "";
}

std::optional<std::uint64_t> UsedInodesOfMountRoot(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
        return std::nullopt;
    }
    std::unique_ptr<libmnt_table, TableDeleter> table(mnt_new_table());
    if (!table || mnt_table_parse_file(table.get(), "/proc/self/mountinfo") != 0) {
        return std::nullopt;
    }
    // The last mount at the path is the one a walk of it sees.
    libmnt_fs* fs = mnt_table_find_target(table.get(), resolved, MNT_ITER_BACKWARD);
    if (fs == nullptr) {
        return std::nullopt;
    }
    const char* root = mnt_fs_get_root(fs);
    const std::string_view type = mnt_fs_get_fstype(fs) != nullptr ? mnt_fs_get_fstype(fs) : "";
    if (root == nullptr || std::string_view(root) != "/" || type == "overlay" ||
        type.starts_with("fuse")) {
        return std::nullopt;
    }
    struct statvfs sv {};
    if (::statvfs(resolved, &sv) != 0 || sv.f_files == 0 || sv.f_ffree > sv.f_files) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(sv.f_files - sv.f_ffree);
}

}  // namespace clearnook::platform
