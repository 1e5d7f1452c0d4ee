#include "tests/support/temp_tree.h"

#include "platform/directory_stack.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace clearnook::testing {

TempDir::TempDir(Where where) {
    const char* base = std::getenv("TMPDIR");
    std::string dir = base != nullptr && *base != '\0' ? base : "/tmp";
    struct stat st {};
    if (where == Where::Memory && ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) {
        dir = "/dev/shm";
    }
    std::string tmpl = dir + "/clearnook-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    }
    m_path = buf.data();
}

TempDir::~TempDir() {
    RemoveTree(m_path);
}

std::string TempDir::operator/(std::string_view relative) const {
    return m_path + "/" + std::string(relative);
}

void TempDir::Dir(std::string_view relative) const {
    // Most directories a test makes have their parent already: one call, not one per component,
    // which keeps trees of thousands of deep directories quick to build.
    if (::mkdir((*this / relative).c_str(), 0755) == 0 || errno == EEXIST) {
        return;
    }
    std::string p = m_path;
    std::string_view rest = relative;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        p += "/";
        p += rest.substr(0, slash);
        if (::mkdir(p.c_str(), 0755) != 0 && errno != EEXIST) {
            ADD_FAILURE() << "mkdir " << p << ": " << std::strerror(errno);
        }
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
    }
}

void TempDir::File(std::string_view relative, std::uint64_t size) const {
    const std::size_t slash = relative.rfind('/');
    if (slash != std::string_view::npos) {
        Dir(relative.substr(0, slash));
    }
    const std::string p = *this / relative;
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << p << ": " << std::strerror(errno);
    if (size >= 64 * 1024) {
        EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    } else if (size > 0) {
        const std::string bytes(size, 'x');
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(size));
    }
    ::close(fd);
}

void MakeChain(const std::string& base, std::size_t depth, std::string_view name,
               std::string_view leaf) {
    const std::string n(name);
    int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    for (std::size_t i = 0; i < depth; ++i) {
        ASSERT_EQ(::mkdirat(fd, n.c_str(), 0755), 0) << std::strerror(errno);
        const int child = ::openat(fd, n.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(child, 0);
        ::close(fd);
        fd = child;
    }
    if (!leaf.empty()) {
        const std::string l(leaf);
        const int f = ::openat(fd, l.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        EXPECT_GE(f, 0);
        ::close(f);
    }
    ::close(fd);
}

void RemoveTree(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::chmod(path.c_str(), 0700);
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            ::unlink(path.c_str());
            return;
        }
    }
    std::vector<std::string> names;  // the way down from `path`
    for (;;) {
        ::fchmod(fd, 0700);
        DIR* dir = ::fdopendir(::dup(fd));
        std::string subdir;
        if (dir != nullptr) {
            while (const dirent* e = ::readdir(dir)) {
                if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) {
                    continue;
                }
                if (::unlinkat(fd, e->d_name, 0) == 0) {
                    continue;
                }
                if (errno == EISDIR || errno == EPERM) {
                    subdir = e->d_name;
                    break;
                }
            }
            ::closedir(dir);
        }
        if (!subdir.empty()) {
            // A failure shows as the open below failing.
            if (::fchmodat(fd, subdir.c_str(), 0700, 0) != 0) {
            }
            const int child =
                ::openat(fd, subdir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0) {
                ::close(fd);
                fd = child;
                names.push_back(subdir);
                continue;
            }
            if (::unlinkat(fd, subdir.c_str(), AT_REMOVEDIR) != 0) {
                ::close(fd);  // neither open nor removable: leave it rather than spin
                return;
            }
            continue;
        }
        if (names.empty()) {
            ::close(fd);
            ::rmdir(path.c_str());
            return;
        }
        const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        if (parent < 0) {
            return;
        }
        fd = parent;
        ::unlinkat(fd, names.back().c_str(), AT_REMOVEDIR);
        names.pop_back();
    }
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

platform::FileIdentity IdentityAt(int dirFd, const char* name) {
    struct statx sx {};
    if (::statx(dirFd, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
        return {};
    }
    platform::FileIdentity id{makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino, 0};
    if (!S_ISDIR(sx.stx_mode)) {
        const statx_timestamp& t = (sx.stx_mask & STATX_BTIME) != 0 ? sx.stx_btime : sx.stx_ctime;
        id.birthTime = static_cast<std::uint64_t>(t.tv_sec) * 1'000'000'000U + t.tv_nsec;
    }
    return id;
}

platform::FileIdentity IdentityAt(const std::string& path) {
    return IdentityAt(AT_FDCWD, path.c_str());
}

platform::RootIdentity RootIdentityAt(const std::string& root) {
    platform::DirectoryStack stack;
    return stack.OpenRoot(root) ? stack.RootIdentity() : platform::RootIdentity{};
}

bool SetImmutable(const std::string& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

}  // namespace clearnook::testing
