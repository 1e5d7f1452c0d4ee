// What the Linux file-system services share: how a tree's directories are opened (children
// relative to their parent, never through a symbolic link, never onto another mount: the calls
// listing_reader.h declares for the directory stack), what statx tells of a file, and how many
// descriptors one walker may hold. The directory stack and the remover come down a tree through
// the same calls, so they agree on what lies inside it.
// Internal to the platform layer; Linux only, never included by the engine.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/fs_services.h"
#include "platform/listing_reader.h"

namespace clearnook::platform {

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

}  // namespace clearnook::platform
