// Linux file-system services: directory listings with getdents64 relative to the parent's
// descriptor, links never followed, mounts never crossed, descriptors bounded whatever the depth.
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/fs_services.h"
#include "platform/posix_testing.h"

namespace clearnook::platform {
namespace {

constexpr int kDirOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Arena records: one byte of type, one byte of name length (NAME_MAX is 255), the name, a NUL.
enum : unsigned char { kRecDir, kRecFile, kRecUnknown };
constexpr std::size_t kRecHeader = 2;

// openat2 refuses mount crossings and links in one call; where the kernel (or a seccomp filter)
// lacks it we fall back to openat and compare mount identities ourselves.
bool g_tryOpenat2 = true;

int CloseKeepErrno(int fd) {
    const int saved = errno;
    const int rc = ::close(fd);
    errno = saved;
    return rc;
}

FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// The mount a descriptor lies on, where the kernel says; 0 when it does not.
std::uint64_t MountIdOf(int fd) {
#ifdef STATX_MNT_ID
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_MNT_ID, &sx) == 0 &&
        (sx.stx_mask & STATX_MNT_ID) != 0) {
        return sx.stx_mnt_id;
    }
#else
    (void)fd;
#endif
    return 0;
}

// The file system and mount a tree is confined to: its root's device and, where the kernel
// tells, its mount id.
struct RootMount {
    std::uint64_t device = 0;
    std::uint64_t mountId = 0;
};

// Opens the root of a tree (a symbolic link naming the root itself is followed, as the user gave
// it) and tells its identity and mount. -1 when it is not an openable directory.
int OpenRootDirectory(const char* path, FileIdentity& identity, RootMount& mount) {
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        CloseKeepErrno(fd);
        return -1;
    }
    identity = IdentityOf(st);
    mount.device = static_cast<std::uint64_t>(st.st_dev);
    mount.mountId = MountIdOf(fd);
    return fd;
}

// Opens the subdirectory `name` of `parent` without following links and without leaving the
// root's mount. -1 with `otherMount` set for a mount point, -1 alone (errno set) for any other
// failure. Both the walk and the delete pass come down through here, so they agree on what lies
// inside a tree.
int OpenSubdirectory(int parent, const char* name, const RootMount& root, bool& otherMount) {
    otherMount = false;
    if (g_tryOpenat2) {
        struct open_how how {};
        how.flags = static_cast<std::uint64_t>(kDirOpenFlags);
        how.resolve = RESOLVE_NO_XDEV | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const long fd = ::syscall(SYS_openat2, parent, name, &how, sizeof how);
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
        g_tryOpenat2 = false;
    }
    const int fd = ::openat(parent, name, kDirOpenFlags);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    const bool sameMount =
        ::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_dev) == root.device &&
        (root.mountId == 0 || MountIdOf(fd) == root.mountId);
    if (!sameMount) {
        CloseKeepErrno(fd);
        errno = EXDEV;
        otherMount = true;
        return -1;
    }
    return fd;
}

// How many directory descriptors one walker may keep open: an eighth of the soft limit, between
// 2 and 64, so the rest of the process keeps room.
std::size_t DirectoryDescriptorBudget() {
    struct rlimit rl {};
    rlim_t soft = 64;
    if (::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
        soft = rl.rlim_cur;
    }
    return std::clamp<std::size_t>(static_cast<std::size_t>(soft / 8), 2, 64);
}

}  // namespace

void posix_testing::UseOpenat2(bool use) { g_tryOpenat2 = use; }

struct DirectoryStack::Impl {
    struct Level {
        int fd = -1;
        FileIdentity identity;  // known for the root, and for a level once it has been evicted
        std::size_t begin = 0;  // its listing in the arena: [begin, end)
        std::size_t end = 0;
        std::size_t pos = 0;
        bool dead = false;  // lost its descriptor and could not get it back: lists no further
    };

    std::vector<Level> levels;
    std::vector<char> arena;
    std::vector<char> scratch = std::vector<char>(64 * 1024);
    std::string nameBuf;
    std::size_t budget = 2;
    std::size_t open = 0;
    std::size_t firstMaybeOpen = 0;
    RootMount rootMount;
    FileIdentity rootIdentity;  // of the directory OpenRoot opened; kept after the walk leaves it

    Impl() : budget(DirectoryDescriptorBudget()) {}

    ~Impl() {
        for (Level& level : levels) {
            CloseLevel(level);
        }
    }

    void CloseLevel(Level& level) {
        if (level.fd >= 0) {
            CloseKeepErrno(level.fd);
            level.fd = -1;
            --open;
        }
    }

    // Reads the whole listing of `fd` onto the end of the arena. False when not even the first
    // read succeeds; a listing that fails part way keeps what it had read.
    bool ReadListing(int fd) {
        bool first = true;
        for (;;) {
            const long n = ::syscall(SYS_getdents64, fd, scratch.data(), scratch.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return !first;
            }
            first = false;
            if (n == 0) {
                return true;
            }
            const std::size_t got = static_cast<std::size_t>(n);
            for (std::size_t off = 0; off < got;) {
                const char* rec = scratch.data() + off;
                unsigned short reclen;
                std::memcpy(&reclen, rec + 16, sizeof reclen);
                const unsigned char dtype = static_cast<unsigned char>(rec[18]);
                const char* name = rec + 19;
                off += reclen;
                unsigned char kind;
                switch (dtype) {
                    case DT_DIR: kind = kRecDir; break;
                    case DT_REG:
                    case DT_LNK: kind = kRecFile; break;
                    case DT_UNKNOWN: kind = kRecUnknown; break;
                    default: continue;  // devices, FIFOs, sockets play no part
                }
                const std::size_t len = std::strlen(name);
                if (len == 0 || len > 255 || (name[0] == '.' && (len == 1 || (len == 2 && name[1] == '.')))) {
                    continue;
                }
                const std::size_t at = arena.size();
                arena.resize(at + kRecHeader + len + 1);
                arena[at] = static_cast<char>(kind);
                arena[at + 1] = static_cast<char>(static_cast<unsigned char>(len));
                std::memcpy(arena.data() + at + kRecHeader, name, len + 1);
            }
        }
    }

    // Pushes a level for the open directory `fd`, listing it. False (and `fd` closed) when it
    // cannot be listed.
    bool PushLevel(int fd, FileIdentity identity) {
        const std::size_t begin = arena.size();
        if (!ReadListing(fd)) {
            arena.resize(begin);
            CloseKeepErrno(fd);
            return false;
        }
        Level level;
        level.fd = fd;
        level.identity = identity;
        level.begin = begin;
        level.pos = begin;
        level.end = arena.size();
        levels.push_back(level);
        ++open;
        return true;
    }

    // Keeps the descriptor count within budget by closing the shallowest open level. Its identity
    // is recorded first so that Leave can check the directory it gets back through "..".
    void MakeRoom() {
        while (open >= budget && firstMaybeOpen + 1 < levels.size()) {
            Level& level = levels[firstMaybeOpen++];
            if (level.fd < 0) {
                continue;
            }
            struct stat st {};
            if (::fstat(level.fd, &st) == 0) {
                level.identity = IdentityOf(st);
            } else {
                level.dead = true;
            }
            CloseLevel(level);
        }
    }
};

DirectoryStack::DirectoryStack() : m_impl(std::make_unique<Impl>()) {}
DirectoryStack::~DirectoryStack() = default;

bool DirectoryStack::OpenRoot(const std::string& path) {
    Impl& d = *m_impl;
    if (!d.levels.empty()) {
        return false;
    }
    FileIdentity identity;
    const int fd = OpenRootDirectory(path.c_str(), identity, d.rootMount);
    if (fd < 0) {
        return false;
    }
    d.rootIdentity = identity;
    return d.PushLevel(fd, identity);
}

DirectoryStack::EnterResult DirectoryStack::EnterChild(std::string_view name) {
    Impl& d = *m_impl;
    if (d.levels.empty() || d.levels.back().fd < 0) {
        return EnterResult::Unlistable;
    }
    d.MakeRoom();
    d.nameBuf.assign(name);
    bool otherMount = false;
    const int fd = OpenSubdirectory(d.levels.back().fd, d.nameBuf.c_str(), d.rootMount, otherMount);
    if (fd < 0) {
        return otherMount ? EnterResult::Skipped : EnterResult::Unlistable;
    }
    return d.PushLevel(fd, {}) ? EnterResult::Entered : EnterResult::Unlistable;
}

void DirectoryStack::Leave() {
    Impl& d = *m_impl;
    if (d.levels.empty()) {
        return;
    }
    const std::size_t top = d.levels.size() - 1;
    if (top > 0) {
        Impl::Level& parent = d.levels[top - 1];
        Impl::Level& child = d.levels[top];
        if (parent.fd < 0 && !parent.dead) {
            // The parent was closed to save descriptors: climb back through "..", and accept only
            // the very directory we left, so a tree moved meanwhile cannot steer the walk away.
            int fd = -1;
            if (child.fd >= 0) {
                fd = ::openat(child.fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            }
            struct stat st {};
            if (fd >= 0 && ::fstat(fd, &st) == 0 && IdentityOf(st) == parent.identity) {
                parent.fd = fd;
                ++d.open;
                d.firstMaybeOpen = std::min(d.firstMaybeOpen, top - 1);
            } else {
                if (fd >= 0) {
                    CloseKeepErrno(fd);
                }
                parent.dead = true;
            }
        }
        d.CloseLevel(child);
    } else {
        d.CloseLevel(d.levels[top]);
    }
    d.arena.resize(d.levels[top].begin);
    d.levels.pop_back();
    d.firstMaybeOpen = std::min(d.firstMaybeOpen, d.levels.size());
}

bool DirectoryStack::NextEntry(DirEntry& entry) {
    Impl& d = *m_impl;
    if (d.levels.empty()) {
        return false;
    }
    Impl::Level& level = d.levels.back();
    if (level.dead) {
        return false;
    }
    while (level.pos < level.end) {
        const char* rec = d.arena.data() + level.pos;
        const auto kind = static_cast<unsigned char>(rec[0]);
        const auto len = static_cast<std::size_t>(static_cast<unsigned char>(rec[1]));
        level.pos += kRecHeader + len + 1;
        entry.name = std::string_view(rec + kRecHeader, len);
        if (kind == kRecDir) {
            entry.type = EntryType::Directory;
            return true;
        }
        if (kind == kRecFile) {
            entry.type = EntryType::File;
            return true;
        }
        // The file system did not say what it is (some network and FUSE file systems): ask.
        struct stat st {};
        if (::fstatat(level.fd, rec + kRecHeader, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            entry.type = EntryType::Directory;
            return true;
        }
        if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            entry.type = EntryType::File;
            return true;
        }
    }
    return false;
}

std::optional<FileInfo> DirectoryStack::StatEntry(std::string_view name) {
    Impl& d = *m_impl;
    if (d.levels.empty() || d.levels.back().fd < 0) {
        return std::nullopt;
    }
    d.nameBuf.assign(name);
    struct stat st {};
    if (::fstatat(d.levels.back().fd, d.nameBuf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        return std::nullopt;  // replaced by something that is not a file since the listing
    }
    return FileInfo{static_cast<std::uint64_t>(st.st_size), IdentityOf(st)};
}

std::size_t DirectoryStack::Depth() const { return m_impl->levels.size(); }
FileIdentity DirectoryStack::RootIdentity() const {
    return m_impl->rootIdentity;
}
std::size_t DirectoryStack::DescriptorBudget() const { return m_impl->budget; }
std::size_t DirectoryStack::OpenDescriptors() const { return m_impl->open; }

bool IsListableDirectory(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char buf[4096];
    const long n = ::syscall(SYS_getdents64, fd, buf, sizeof buf);
    CloseKeepErrno(fd);
    return n >= 0;
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
