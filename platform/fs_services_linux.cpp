// Linux file-system services: how a walk's tree is opened (children relative to their parent's
// descriptor, links never followed, mounts never crossed), what statx tells of a file, the
// descriptor budget, and the small services of fs_services.h. The directory stack lives in
// directory_stack.cpp (its listings in listing_reader_linux.cpp), the remover in
// recorded_file_remover_linux.cpp.
#include <fcntl.h>
#include <linux/openat2.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/drives_linux.h"
#include "platform/fs_services.h"
#include "platform/linux_open.h"
#include "platform/linux_syscalls.h"
#include "platform/read_ahead_support.h"

namespace clearnook::platform {
namespace {

constexpr int kDirOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// What one statx call tells about a file the walk records or the delete pass checks: type, size,
// device, inode and the birth time (the change time where the file system keeps none).
constexpr unsigned int kFileStatxMask =
    STATX_TYPE | STATX_SIZE | STATX_INO | STATX_BTIME | STATX_CTIME | STATX_ATIME | STATX_MTIME;

std::uint64_t Nanoseconds(const struct statx_timestamp& t) {
    return t.tv_sec < 0 ? 0 : static_cast<std::uint64_t>(t.tv_sec) * 1'000'000'000U + t.tv_nsec;
}

// Linux 6.8's mount id that no later mount reuses; older headers lack its name. Kernels that do
// not know it ignore the bit and answer with the reusable id.
#ifndef STATX_MNT_ID_UNIQUE
#define STATX_MNT_ID_UNIQUE 0x00004000U
#endif

// The mount a descriptor lies on, where the kernel says; 0 when it does not. Asked for the
// unique id first: an id of the moment is handed to the next mount once its mount is gone, so a
// copy of the file system mounted in the same place could answer with it.
std::uint64_t MountIdOf(int fd) {
    struct statx sx {};
    if (sys::Statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_MNT_ID_UNIQUE | STATX_MNT_ID,
                   &sx) == 0 &&
        (sx.stx_mask & (STATX_MNT_ID_UNIQUE | STATX_MNT_ID)) != 0) {
        return sx.stx_mnt_id;
    }
    return 0;
}

// Whether a file whose identity has no birth time can be told from a file made later under its
// name: only when it last changed in a second before the one in which the walk reads it (file
// systems that keep no birth time may count in whole seconds). The coarse clock is the one the
// kernel stamps files with, so a file made after this reading is stamped no earlier.
bool ChangedBeforeThisSecond(const struct statx_timestamp& changed) {
    struct timespec now {};
    if (::clock_gettime(CLOCK_REALTIME_COARSE, &now) != 0) {
        return false;
    }
    return changed.tv_sec < now.tv_sec;
}

}  // namespace

int CloseKeepErrno(int fd) {
    const int saved = errno;
    const int rc = sys::Close(fd);
    errno = saved;
    return rc;
}

FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), 0};
}

bool StatxFile(int dirFd, const char* name, struct statx& sx) {
    if (sys::Statx(dirFd, name, AT_SYMLINK_NOFOLLOW, kFileStatxMask, &sx) != 0) {
        return false;
    }
    if ((sx.stx_mask & (STATX_TYPE | STATX_INO)) != (STATX_TYPE | STATX_INO)) {
        errno = EIO;  // a file system that cannot say what the file is: never taken for it
        return false;
    }
    return true;
}

FileIdentity FileIdentityOf(const struct statx& sx) {
    const struct statx_timestamp& t =
        (sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime : sx.stx_ctime;
    return {static_cast<std::uint64_t>(makedev(sx.stx_dev_major, sx.stx_dev_minor)), sx.stx_ino,
            static_cast<std::uint64_t>(t.tv_sec) * 1'000'000'000U + t.tv_nsec};
}

std::optional<FileInfo> ReadFileInfo(int dirFd, const char* name) {
    struct statx sx {};
    if (!StatxFile(dirFd, name, sx) || (!S_ISREG(sx.stx_mode) && !S_ISLNK(sx.stx_mode))) {
        return std::nullopt;
    }
    FileInfo info{sx.stx_size, FileIdentityOf(sx), 0};
    for (const auto& [bit, time] :
         {std::pair{STATX_ATIME, &sx.stx_atime}, std::pair{STATX_MTIME, &sx.stx_mtime},
          std::pair{STATX_CTIME, &sx.stx_ctime}, std::pair{STATX_BTIME, &sx.stx_btime}}) {
        if ((sx.stx_mask & bit) != 0) {
            info.newestTime = std::max(info.newestTime, Nanoseconds(*time));
        }
    }
    if ((sx.stx_mask & STATX_BTIME) == 0 && !ChangedBeforeThisSecond(sx.stx_ctime)) {
        info.identity.birthTime = FileIdentity::kUnverifiable;
    }
    return info;
}

int OpenRootDirectory(const char* path, FileIdentity& identity, RootMount& mount) {
    const int fd = sys::Open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (sys::Fstat(fd, &st) != 0) {
        CloseKeepErrno(fd);
        return -1;
    }
    identity = IdentityOf(st);
    mount.device = static_cast<std::uint64_t>(st.st_dev);
    mount.mountId = MountIdOf(fd);
    return fd;
}

int OpenSubdirectory(int parent, const char* name, RootMount& root, bool& otherMount) {
    otherMount = false;
    if (root.tryOpenat2) {
        struct open_how how {};
        how.flags = static_cast<std::uint64_t>(kDirOpenFlags);
        how.resolve = RESOLVE_NO_XDEV | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const long fd = sys::Openat2(parent, name, &how, sizeof how);
        if (fd >= 0) {
            return static_cast<int>(fd);
        }
        if (errno == EXDEV) {
            otherMount = true;
            return -1;
        }
        if (errno != ENOSYS && errno != EPERM && errno != E2BIG) {
            return -1;
        }
        root.tryOpenat2 = false;
    }
    const int fd = sys::Openat(parent, name, kDirOpenFlags);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    const bool sameMount = sys::Fstat(fd, &st) == 0 &&
                           static_cast<std::uint64_t>(st.st_dev) == root.device &&
                           (root.mountId == 0 || MountIdOf(fd) == root.mountId);
    if (!sameMount) {
        CloseKeepErrno(fd);
        errno = EXDEV;
        otherMount = true;
        return -1;
    }
    return fd;
}

std::size_t DirectoryDescriptorBudget() {
    struct rlimit rl {};
    rlim_t soft = 64;
    if (::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
        soft = rl.rlim_cur;
    }
    return std::clamp<std::size_t>(static_cast<std::size_t>(soft / 8), 2, 128);
}

void ShareAllocatorUnderAddressLimit() {
    struct rlimit rl {};
    if (::getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
        ::mallopt(M_ARENA_MAX, 1);
    }
}

std::string ErrorText(int error) {
    char buf[256];
    return ::strerror_r(error, buf, sizeof buf);  // GNU: returns the text, in buf or static
}

bool IsWindowsFileSystem(const std::string& root) {
    struct statfs fs {};
    if (::statfs(root.c_str(), &fs) != 0) {
        return false;
    }
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x5346544eUL:  // NTFS_SB_MAGIC: ntfs, and ntfs3 on some kernels
        case 0x7366746eUL:  // "ntfs": ntfs3
        case 0x4d44UL:      // MSDOS_SUPER_MAGIC: vfat, msdos
        case 0x2011bab0UL:  // EXFAT_SUPER_MAGIC
            return true;
        case 0x65735546UL:  // FUSE_SUPER_MAGIC: ntfs-3g (and exfat-fuse) mount as fuseblk
            return MountTypeOf(root) == "fuseblk";
        default:
            return false;
    }
}

bool IsListableDirectory(const std::string& path) {
    const int fd = sys::Open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buf[4096];
    const long n = sys::Getdents64(fd, buf, sizeof buf);
    CloseKeepErrno(fd);
    return n >= 0;
}

std::optional<std::uint64_t> FileSizeNow(const std::string& path) {
    struct statx sx {};
    if (sys::Statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_SIZE, &sx) != 0 ||
        (sx.stx_mask & STATX_SIZE) == 0) {
        return std::nullopt;
    }
    return sx.stx_size;
}

void AppendLowered(std::string& out, std::string_view name) {
    const std::size_t at = out.size();
    out.resize(at + name.size());
    char* dst = out.data() + at;
    for (const char c : name) {
        *dst++ = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    }
}

}  // namespace clearnook::platform
