// The raw system calls behind the Linux file-system services, gathered in one table so that a
// test can stand between them and the kernel and make chosen calls fail. The programs never
// change the table: they always make the real calls. Linux only; included by platform code and
// by tests, never by the engine.
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstddef>

struct open_how;

namespace clearnook::platform::sys {

// One entry per call the services make. Each takes `context` first and otherwise the arguments
// and result conventions of the system call it stands for (-1 or a negative count with errno set
// on failure). Every pointer is non-null.
struct SyscallTable {
    void* context = nullptr;
    int (*open)(void* context, const char* path, int flags) = nullptr;
    int (*openat)(void* context, int dirFd, const char* path, int flags) = nullptr;
    long (*openat2)(void* context, int dirFd, const char* path, open_how* how,
                    std::size_t size) = nullptr;
    long (*getdents64)(void* context, int fd, void* buffer, std::size_t size) = nullptr;
    int (*fstatat)(void* context, int dirFd, const char* path, struct stat* st,
                   int flags) = nullptr;
    int (*statx)(void* context, int dirFd, const char* path, int flags, unsigned int mask,
                 struct statx* out) = nullptr;
    int (*fstat)(void* context, int fd, struct stat* st) = nullptr;
    int (*unlinkat)(void* context, int dirFd, const char* path, int flags) = nullptr;
    int (*close)(void* context, int fd) = nullptr;
};

// The table of the real calls. Static; lives as long as the program.
[[nodiscard]] const SyscallTable& RealSyscalls();

namespace detail {
// TEST HOOK: the table in effect; null means RealSyscalls(). Written only through
// linux_testing::SetSyscallTable.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables): the one test hook
extern std::atomic<const SyscallTable*> g_syscallOverride;
}  // namespace detail

// The table in effect: the real calls unless a test has put its own in place. Any thread.
[[nodiscard]] inline const SyscallTable& Syscalls() {
    const SyscallTable* t = detail::g_syscallOverride.load(std::memory_order_acquire);
    return t != nullptr ? *t : RealSyscalls();
}

// The calls the services make, through the table in effect.
inline int Open(const char* path, int flags) {
    const SyscallTable& t = Syscalls();
    return t.open(t.context, path, flags);
}
inline int Openat(int dirFd, const char* path, int flags) {
    const SyscallTable& t = Syscalls();
    return t.openat(t.context, dirFd, path, flags);
}
inline long Openat2(int dirFd, const char* path, open_how* how, std::size_t size) {
    const SyscallTable& t = Syscalls();
    return t.openat2(t.context, dirFd, path, how, size);
}
inline long Getdents64(int fd, void* buffer, std::size_t size) {
    const SyscallTable& t = Syscalls();
    return t.getdents64(t.context, fd, buffer, size);
}
inline int Fstatat(int dirFd, const char* path, struct stat* st, int flags) {
    const SyscallTable& t = Syscalls();
    return t.fstatat(t.context, dirFd, path, st, flags);
}
inline int Statx(int dirFd, const char* path, int flags, unsigned int mask, struct statx* out) {
    const SyscallTable& t = Syscalls();
    return t.statx(t.context, dirFd, path, flags, mask, out);
}
inline int Fstat(int fd, struct stat* st) {
    const SyscallTable& t = Syscalls();
    return t.fstat(t.context, fd, st);
}
inline int Unlinkat(int dirFd, const char* path, int flags) {
    const SyscallTable& t = Syscalls();
    return t.unlinkat(t.context, dirFd, path, flags);
}
inline int Close(int fd) {
    const SyscallTable& t = Syscalls();
    return t.close(t.context, fd);
}

}  // namespace clearnook::platform::sys
