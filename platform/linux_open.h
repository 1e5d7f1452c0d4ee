// What the Linux file-system services share: how a tree's directories are opened (children
// relative to their parent, never through a symbolic link, never onto another mount), what statx
// tells of a file, and how many descriptors one walker may hold. The directory stack and the
// remover come down a tree through the same calls, so they agree on what lies inside it.
// Internal to the platform layer; Linux only, never included by the engine.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/fs_services.h"

namespace clearnook::platform {

// Closes `fd` and leaves errno as it was, for the paths that report an earlier failure.
int CloseKeepErrno(int fd);

// A descriptor closed at scope end (none when negative), with the system's own close: for what
// the services read beside the tree (/proc, a device's label), which no test stands between.
class FdCloser {
  public:
    explicit FdCloser(int fd) : m_fd(fd) {}
    ~FdCloser() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;
    [[nodiscard]] int get() const { return m_fd; }

  private:
    int m_fd;
};

// A directory's identity: device and inode.
FileIdentity IdentityOf(const struct stat& st);

// Looks at the entry `name` of `dirFd` without following a link. False (errno set) on failure.
bool StatxFile(int dirFd, const char* name, struct statx& sx);

// The identity StatxFile's answer gives a file: device, inode and birth time (the change time
// where the file system keeps none).
FileIdentity FileIdentityOf(const struct statx& sx);

// The size and identity of the file `name` of `dirFd`, not following a link. Empty when it is
// gone or is no longer a file (a directory, a device...).
std::optional<FileInfo> ReadFileInfo(int dirFd, const char* name);

// The file system and mount a tree is confined to: its root's device and, where the kernel
// tells, its mount id. Each walker and remover holds its own, with what it learnt of the
// kernel's calls.
struct RootMount {
    std::uint64_t device = 0;
    std::uint64_t mountId = 0;
    // openat2 refuses mount crossings and links in one call; where the kernel (or a seccomp
    // filter) lacks it, the first refusal turns this off and children are opened with openat,
    // their mounts compared by hand.
    bool tryOpenat2 = true;
};

// Opens the root of a tree (a symbolic link naming the root itself is followed, as the user gave
// it) and tells its identity and mount (device and mount id; `tryOpenat2` is left as it is). -1
// when it is not an openable directory.
int OpenRootDirectory(const char* path, FileIdentity& identity, RootMount& mount);

// Opens the subdirectory `name` of `parent` without following links and without leaving the
// root's mount. -1 with `otherMount` set for a mount point, -1 alone (errno set) for any other
// failure. Both the walk and the delete pass come down through here, so they agree on what lies
// inside a tree.
int OpenSubdirectory(int parent, const char* name, RootMount& root, bool& otherMount);

// How many directory descriptors one walker may keep open: an eighth of the soft limit, between
// 2 and 128, so the rest of the process keeps room.
std::size_t DirectoryDescriptorBudget();

}  // namespace clearnook::platform
