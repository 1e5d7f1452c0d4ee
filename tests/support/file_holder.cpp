#include "tests/support/file_holder.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

namespace clearnook::testing {
namespace {

// The child's part: only calls that are safe after fork. Never returns.
[[noreturn]] void Hold(const std::vector<std::string>& paths, FileHolder::How how, int ready,
                       int release) {
    for (const std::string& path : paths) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            ::_exit(1);
        }
        if (how == FileHolder::How::Mapping) {
            struct stat st {};
            if (::fstat(fd, &st) != 0 || st.st_size == 0 ||
                ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_SHARED, fd,
                       0) == MAP_FAILED) {
                ::_exit(1);
            }
            ::close(fd);
        }
    }
    const char held = 'h';
    if (::write(ready, &held, 1) != 1) {
        ::_exit(1);
    }
    char none = 0;
    while (::read(release, &none, 1) < 0 && errno == EINTR) {
    }
    ::_exit(0);
}

}  // namespace

FileHolder::FileHolder(std::vector<std::string> paths, How how) : m_paths(std::move(paths)) {
    int ready[2];
    int release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2: " << std::strerror(errno);
        return;
    }
    if (::pipe2(release, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2: " << std::strerror(errno);
        ::close(ready[0]);
        ::close(ready[1]);
        return;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        Hold(m_paths, how, ready[1], release[0]);
    }
    ::close(ready[1]);
    ::close(release[0]);
    m_release = release[1];
    if (m_pid < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        ::close(ready[0]);
        return;
    }
    char held = 0;
    ssize_t n = 0;
    while ((n = ::read(ready[0], &held, 1)) < 0 && errno == EINTR) {
    }
    ::close(ready[0]);
    m_holding = n == 1;
    EXPECT_TRUE(m_holding) << "the child could not open the files it was to hold";
}

FileHolder::~FileHolder() {
    if (m_release >= 0) {
        ::close(m_release);
    }
    if (m_pid > 0) {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

}  // namespace clearnook::testing
