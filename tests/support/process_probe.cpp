#include "tests/support/process_probe.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace clearnook::testing {
namespace {

// Entries of a /proc directory, dots left out.
std::size_t CountEntries(const char* dir) {
    DIR* d = ::opendir(dir);
    if (d == nullptr) {
        ADD_FAILURE() << "cannot list " << dir;
        return 0;
    }
    std::size_t n = 0;
    while (const dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            ++n;
        }
    }
    ::closedir(d);
    return n;
}

}  // namespace

std::size_t OpenDescriptorCount() {
    return CountEntries("/proc/self/fd") - 1;  // less the one listing it
}

std::size_t ThreadCount() {
    return CountEntries("/proc/self/task");
}

SoftDescriptorLimit::SoftDescriptorLimit(rlim_t soft) {
    EXPECT_EQ(::getrlimit(RLIMIT_NOFILE, &m_saved), 0);
    struct rlimit low = m_saved;
    low.rlim_cur = std::min(m_saved.rlim_cur, soft);
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
}

SoftDescriptorLimit::~SoftDescriptorLimit() {
    ::setrlimit(RLIMIT_NOFILE, &m_saved);
}

bool RunUnprivileged(const std::function<void()>& body) {
    if (::geteuid() != 0) {
        body();
        return true;
    }
    uid_t uid = 65534;
    gid_t gid = 65534;
    if (const passwd* pw = ::getpwnam("nobody")) {
        uid = pw->pw_uid;
        gid = pw->pw_gid;
    }
    bool switched = false;
    // setfsuid and setfsgid change the calling thread alone; the thread ends with them.
    std::thread worker([&] {
        ::setfsgid(gid);
        ::setfsuid(uid);
        switched = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == uid &&
                   static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == gid;
        if (switched) {
            body();
        }
    });
    worker.join();
    return switched;
}

}  // namespace clearnook::testing
