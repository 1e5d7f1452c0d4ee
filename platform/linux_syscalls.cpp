#include "platform/linux_syscalls.h"
#include "platform/linux_testing.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace clearnook::platform::sys {
namespace {

int RealOpen(void*, const char* path, int flags) {
    return ::open(path, flags);
}

int RealOpenat(void*, int dirFd, const char* path, int flags) {
    return ::openat(dirFd, path, flags);
}

long RealOpenat2(void*, int dirFd, const char* path, open_how* how, std::size_t size) {
    return ::syscall(SYS_openat2, dirFd, path, how, size);
}

long RealGetdents64(void*, int fd, void* buffer, std::size_t size) {
    return ::syscall(SYS_getdents64, fd, buffer, size);
}

int RealFstatat(void*, int dirFd, const char* path, struct stat* st, int flags) {
    return ::fstatat(dirFd, path, st, flags);
}

int RealStatx(void*, int dirFd, const char* path, int flags, unsigned int mask, struct statx* out) {
    return ::statx(dirFd, path, flags, mask, out);
}

int RealFstat(void*, int fd, struct stat* st) {
    return ::fstat(fd, st);
}

int RealUnlinkat(void*, int dirFd, const char* path, int flags) {
    return ::unlinkat(dirFd, path, flags);
}

int RealClose(void*, int fd) {
    return ::close(fd);
}

constexpr SyscallTable kReal{nullptr,     RealOpen,  RealOpenat, RealOpenat2,  RealGetdents64,
                             RealFstatat, RealStatx, RealFstat,  RealUnlinkat, RealClose};

}  // namespace

const SyscallTable& RealSyscalls() {
    return kReal;
}

namespace detail {
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): the one test hook
std::atomic<const SyscallTable*> g_syscallOverride{nullptr};
}  // namespace detail

}  // namespace clearnook::platform::sys

namespace clearnook::platform::linux_testing {

const sys::SyscallTable* SetSyscallTable(const sys::SyscallTable* table) {
    return sys::detail::g_syscallOverride.exchange(table, std::memory_order_acq_rel);
}

}  // namespace clearnook::platform::linux_testing
