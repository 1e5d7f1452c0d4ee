// Which files other processes hold open, read from /proc in one sweep. It calls the system
// directly, not through the table the tree's calls go through: what it reads is /proc, never the
// tree being cleaned.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <string>
#include <string_view>

#include "platform/files_in_use_linux.h"
#include "platform/linux_open.h"

namespace clearnook::platform {
namespace {

using FileKey = std::pair<std::uint64_t, std::uint64_t>;

// The process id a /proc entry names, or 0 for the entries that are no process.
pid_t PidOf(std::string_view name) {
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
    return ec == std::errc() && end == name.data() + name.size() && pid > 0 ? pid : 0;
}

// Calls `each` with the name of every entry of the directory `fd` ("." and ".." left out).
template <typename Each>
void ForEachEntry(int fd, std::array<char, 16384>& buffer, Each&& each) {
    for (;;) {
        const ssize_t n = ::getdents64(fd, buffer.data(), buffer.size());
        if (n <= 0) {
            return;
        }
        for (ssize_t at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer.data() + at);
            at += entry->d_reclen;
            const std::string_view name(entry->d_name);
            if (name != "." && name != "..") {
                each(name);
            }
        }
    }
}

// Reads all of the small file `name` of `dirFd` into `text`. False when it cannot be opened.
bool ReadWhole(int dirFd, const char* name, std::string& text) {
    const FdCloser fd(::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        return false;
    }
    text.clear();
    constexpr std::size_t kChunk = 65536;
    for (;;) {
        const std::size_t size = text.size();
        text.resize(size + kChunk);
        const ssize_t n = ::read(fd.get(), text.data() + size, kChunk);
        if (n <= 0) {
            text.resize(size);
            return n == 0 || size > 0;
        }
        text.resize(size + static_cast<std::size_t>(n));
    }
}

// The files a maps text maps: each line "START-END PERMS OFFSET MAJOR:MINOR INODE [PATH]", the
// device in hexadecimal, inode 0 for memory that is no file's.
std::size_t AddMappedFiles(std::string_view text, std::vector<FileKey>& files) {
    std::size_t added = 0;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        for (int field = 0; field < 3; ++field) {
            const std::size_t blank = line.find(' ');
            line.remove_prefix(blank == std::string_view::npos ? line.size() : blank + 1);
        }
        unsigned major = 0;
        unsigned minor = 0;
        std::uint64_t inode = 0;
        const char* p = line.data();
        const char* end = line.data() + line.size();
        auto r = std::from_chars(p, end, major, 16);
        if (r.ec != std::errc() || r.ptr == end || *r.ptr != ':') {
            continue;
        }
        r = std::from_chars(r.ptr + 1, end, minor, 16);
        if (r.ec != std::errc() || r.ptr == end || *r.ptr != ' ') {
            continue;
        }
        r = std::from_chars(r.ptr + 1, end, inode);
        if (r.ec != std::errc() || inode == 0) {
            continue;
        }
        // A library is mapped in several pieces, one line each: keep the first.
        const FileKey key{static_cast<std::uint64_t>(::makedev(major, minor)), inode};
        if (files.empty() || files.back() != key) {
            files.push_back(key);
            ++added;
        }
    }
    return added;
}

}  // namespace

FilesInUse FilesInUse::Gather() {
    FilesInUse result;
    const FdCloser proc(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (proc.get() < 0) {
        return result;
    }
    const pid_t self = ::getpid();
    std::array<char, 16384> listing{};
    std::array<char, 16384> fdListing{};
    std::string path;
    std::string maps;
    Counts& counts = result.m_counts;
    std::vector<FileKey>& files = result.m_files;
    // At most two descriptors at a time, /proc's included: a process's fd directory and its maps
    // are opened by path below /proc, one after the other.
    ForEachEntry(proc.get(), listing, [&](std::string_view name) {
        const pid_t pid = PidOf(name);
        if (pid == 0 || pid == self) {
            return;  // not a process, or this one: its own descriptors hold no one else's file
        }
        ++counts.processes;
        path.assign(name).append("/fd");
        {
            const FdCloser fdDir(
                ::openat(proc.get(), path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (fdDir.get() < 0) {
                return;  // another user's (EACCES), or gone meanwhile
            }
            ++counts.readable;
            ForEachEntry(fdDir.get(), fdListing, [&](std::string_view fd) {
                ++counts.descriptors;
                // The entry is a link to the open file itself, whatever became of its name:
                // following it tells the file's device and inode. Attributes the kernel has
                // cached do: a file on a network file system whose server hangs does not stop
                // the sweep.
                struct statx sx {};
                if (::statx(fdDir.get(), std::string(fd).c_str(), AT_STATX_DONT_SYNC,
                            STATX_TYPE | STATX_INO, &sx) == 0 &&
                    S_ISREG(sx.stx_mode)) {
                    files.emplace_back(
                        static_cast<std::uint64_t>(::makedev(sx.stx_dev_major, sx.stx_dev_minor)),
                        sx.stx_ino);
                }
            });
        }
        // A file stays mapped after its descriptor is closed (a program's executable and
        // libraries, a database read through mmap).
        path.assign(name).append("/maps");
        if (ReadWhole(proc.get(), path.c_str(), maps)) {
            counts.mappedFiles += AddMappedFiles(maps, files);
        }
    });
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());
    files.shrink_to_fit();
    return result;
}

bool FilesInUse::Holds(std::uint64_t device, std::uint64_t inode) const {
    return std::binary_search(m_files.begin(), m_files.end(), FileKey{device, inode});
}

}  // namespace clearnook::platform
