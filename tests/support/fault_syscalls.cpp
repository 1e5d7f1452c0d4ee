#include "tests/support/fault_syscalls.h"

#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace clearnook::testing {
namespace {

namespace sys = platform::sys;

std::string LastComponent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

FaultInjector& Self(void* self) {
    return *static_cast<FaultInjector*>(self);
}

}  // namespace

const char* FaultOpName(FaultOp op) {
    switch (op) {
        case FaultOp::Open:
            return "open";
        case FaultOp::List:
            return "list";
        case FaultOp::Stat:
            return "stat";
        case FaultOp::Unlink:
            return "unlink";
        case FaultOp::Close:
            return "close";
    }
    return "?";
}

FaultInjector::FaultInjector(std::vector<Fault> faults) : m_faults(std::move(faults)) {
    m_table = {this,
               &FaultInjector::Open,
               &FaultInjector::Openat,
               &FaultInjector::Openat2,
               &FaultInjector::Getdents64,
               &FaultInjector::Fstatat,
               &FaultInjector::Statx,
               &FaultInjector::Fstat,
               &FaultInjector::Unlinkat,
               &FaultInjector::Close};
    m_previous = platform::linux_testing::SetSyscallTable(&m_table);
}

FaultInjector::~FaultInjector() {
    platform::linux_testing::SetSyscallTable(m_previous);
}

void FaultInjector::SetListChunk(std::size_t bytes) {
    const std::lock_guard lock(m_mutex);
    m_listChunk = bytes == 0 ? 0 : std::max<std::size_t>(bytes, 512);
}

void FaultInjector::SetHideEntryTypes(bool hide) {
    const std::lock_guard lock(m_mutex);
    m_hideTypes = hide;
}

void FaultInjector::SetRefuseOpenat2(bool refuse) {
    const std::lock_guard lock(m_mutex);
    m_refuseOpenat2 = refuse;
}

void FaultInjector::SetStatxAnswer(std::function<void(struct statx&)> edit) {
    const std::lock_guard lock(m_mutex);
    m_statxEdit = std::move(edit);
}

void FaultInjector::SetNulInNames(char byte) {
    const std::lock_guard lock(m_mutex);
    m_nulFor = byte;
}

std::uint64_t FaultInjector::Calls(FaultOp op) const {
    const std::lock_guard lock(m_mutex);
    const auto it = m_calls.find(op);
    return it == m_calls.end() ? 0 : it->second;
}

std::vector<FaultHit> FaultInjector::Hits() const {
    const std::lock_guard lock(m_mutex);
    return m_hits;
}

std::vector<FaultHit> FaultInjector::Failures() const {
    const std::lock_guard lock(m_mutex);
    return m_failures;
}

long FaultInjector::Failed(long rc, FaultOp op, const std::string& path) {
    if (rc < 0) {
        const int saved = errno;
        m_failures.push_back({op, saved, path});
        errno = saved;
    }
    return rc;
}

std::set<std::string> FaultInjector::Names(FaultOp op) const {
    const std::lock_guard lock(m_mutex);
    const auto it = m_names.find(op);
    return it == m_names.end() ? std::set<std::string>{} : it->second;
}

std::vector<std::string> FaultInjector::OpenDescriptors() const {
    const std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    for (const auto& [fd, path] : m_paths) {
        out.push_back(std::to_string(fd) + " " + path);
    }
    return out;
}

bool FaultInjector::Strikes(FaultOp op, const std::string& name, const std::string& path,
                            std::uint64_t listCall, int& error) {
    const std::uint64_t n = ++m_calls[op];
    m_names[op].insert(name);
    for (const Fault& f : m_faults) {
        const FaultPoint& p = f.point;
        if (f.op != op || (p.nth != 0 && (p.onward ? n < p.nth : n != p.nth)) ||
            (!p.name.empty() && p.name != name) || (p.listCall != 0 && p.listCall != listCall)) {
            continue;
        }
        error = f.error;
        m_hits.push_back({op, f.error, path});
        return true;
    }
    return false;
}

std::string FaultInjector::PathOf(int fd) const {
    const auto it = m_paths.find(fd);
    return it == m_paths.end() ? std::string("?") : it->second;
}

std::string FaultInjector::PathAt(int dirFd, const char* name) const {
    const std::string n = name;
    if (dirFd == AT_FDCWD || n.starts_with("/")) {
        return n;
    }
    const std::string dir = PathOf(dirFd);
    if (n == "..") {
        const std::size_t slash = dir.rfind('/');
        return slash == std::string::npos || slash == 0 ? std::string("/") : dir.substr(0, slash);
    }
    return dir + "/" + n;
}

void FaultInjector::Opened(int fd, std::string path) {
    if (fd >= 0) {
        m_paths[fd] = std::move(path);
        m_listReads.erase(fd);
    }
}

// The three ways of opening share everything but the real call: `full` is what is opened, named
// `name`; `open` makes the real call. Called with the injector's lock held.
template <typename RealOpen>
long FaultInjector::OpenThrough(const std::string& full, const char* name, RealOpen open) {
    int error = 0;
    if (Strikes(FaultOp::Open, LastComponent(name), full, 0, error)) {
        errno = error;
        return -1;
    }
    const long fd = open();
    Failed(fd, FaultOp::Open, full);
    Opened(static_cast<int>(fd), full);
    return fd;
}

int FaultInjector::Open(void* self, const char* path, int flags) {
    FaultInjector& d = Self(self);
    const std::lock_guard lock(d.m_mutex);
    return static_cast<int>(
        d.OpenThrough(path, path, [&] { return sys::RealSyscalls().open(nullptr, path, flags); }));
}

int FaultInjector::Openat(void* self, int dirFd, const char* path, int flags) {
    FaultInjector& d = Self(self);
    const std::lock_guard lock(d.m_mutex);
    return static_cast<int>(d.OpenThrough(d.PathAt(dirFd, path), path, [&] {
        return sys::RealSyscalls().openat(nullptr, dirFd, path, flags);
    }));
}

long FaultInjector::Openat2(void* self, int dirFd, const char* path, open_how* how,
                            std::size_t size) {
    FaultInjector& d = Self(self);
    const std::lock_guard lock(d.m_mutex);
    if (d.m_refuseOpenat2) {
        errno = ENOSYS;
        return -1;
    }
    return d.OpenThrough(d.PathAt(dirFd, path), path, [&] {
        return sys::RealSyscalls().openat2(nullptr, dirFd, path, how, size);
    });
}

long FaultInjector::Getdents64(void* self, int fd, void* buffer, std::size_t size) {
    FaultInjector& d = Self(self);
    const std::lock_guard lock(d.m_mutex);
    const std::string path = d.PathOf(fd);
    const std::uint64_t read = ++d.m_listReads[fd];
    int error = 0;
    if (d.Strikes(FaultOp::List, LastComponent(path), path, read, error)) {
        if (error == 0) {
            return 0;  // the listing ends here, short of its real end
        }
        errno = error;
        return -1;
    }
    if (d.m_listChunk != 0) {
        size = std::min(size, d.m_listChunk);
    }
    const long n =
        d.Failed(sys::RealSyscalls().getdents64(nullptr, fd, buffer, size), FaultOp::List, path);
    if (n > 0 && (d.m_hideTypes || d.m_nulFor != 0)) {
        char* bytes = static_cast<char*>(buffer);
        for (long off = 0; off < n;) {
            unsigned short reclen;
            std::memcpy(&reclen, bytes + off + offsetof(dirent64, d_reclen), sizeof reclen);
            if (d.m_hideTypes) {
                bytes[off + static_cast<long>(offsetof(dirent64, d_type))] = DT_UNKNOWN;
            }
            if (d.m_nulFor != 0) {
                char* name = bytes + off + static_cast<long>(offsetof(dirent64, d_name));
                for (; *name != '\0'; ++name) {
                    *name = *name == d.m_nulFor ? '\0' : *name;
                }
            }
            off += reclen;
        }
    }
    return n;
}

template <typename RealCall>
int FaultInjector::StatAt(int dirFd, const char* path, RealCall real) {
    const std::lock_guard lock(m_mutex);
    const std::string full = PathAt(dirFd, path);
    int error = 0;
    if (Strikes(FaultOp::Stat, LastComponent(path), full, 0, error)) {
        errno = error;
        return -1;
    }
    return static_cast<int>(Failed(real(), FaultOp::Stat, full));
}

int FaultInjector::Fstatat(void* self, int dirFd, const char* path, struct stat* st, int flags) {
    return Self(self).StatAt(
        dirFd, path, [&] { return sys::RealSyscalls().fstatat(nullptr, dirFd, path, st, flags); });
}

int FaultInjector::Statx(void* self, int dirFd, const char* path, int flags, unsigned int mask,
                         struct statx* out) {
    FaultInjector& d = Self(self);
    return d.StatAt(dirFd, path, [&] {
        const int rc = sys::RealSyscalls().statx(nullptr, dirFd, path, flags, mask, out);
        if (rc == 0 && d.m_statxEdit) {
            d.m_statxEdit(*out);  // under the lock StatAt holds
        }
        return rc;
    });
}

int FaultInjector::Fstat(void* self, int fd, struct stat* st) {
    FaultInjector& d = Self(self);
    const std::lock_guard lock(d.m_mutex);
    const std::string path = d.PathOf(fd);
    int error = 0;
    if (d.Strikes(FaultOp::Stat, LastComponent(path), path, 0, error)) {
        errno = error;
        return -1;
    }
    return static_cast<int>(
        d.Failed(sys::RealSyscalls().fstat(nullptr, fd, st), FaultOp::Stat, path));
}

int FaultInjector::Unlinkat(void* self, int dirFd, const char* path, int flags) {
    FaultInjector& d = Self(self);
    const std::lock_guard lock(d.m_mutex);
    int error = 0;
    if (d.Strikes(FaultOp::Unlink, LastComponent(path), d.PathAt(dirFd, path), 0, error)) {
        errno = error;
        return -1;
    }
    return static_cast<int>(d.Failed(sys::RealSyscalls().unlinkat(nullptr, dirFd, path, flags),
                                     FaultOp::Unlink, d.PathAt(dirFd, path)));
}

int FaultInjector::Close(void* self, int fd) {
    FaultInjector& d = Self(self);
    const std::lock_guard lock(d.m_mutex);
    const std::string path = d.PathOf(fd);
    d.m_paths.erase(fd);
    d.m_listReads.erase(fd);
    int error = 0;
    const bool strikes = d.Strikes(FaultOp::Close, LastComponent(path), path, 0, error);
    const int rc = sys::RealSyscalls().close(nullptr, fd);
    if (strikes) {
        errno = error;  // as on Linux: the descriptor is gone whatever close reports
        return -1;
    }
    return rc;
}

}  // namespace clearnook::testing
