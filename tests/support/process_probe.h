// What a test may observe of this process (descriptors, threads) and the conditions it may impose
// on a walk for a while: fewer descriptors, the file access of a user without privileges. Linux.
#pragma once

#include <sys/resource.h>

#include <cstddef>
#include <functional>

namespace clearnook::testing {

// Descriptors this process has open right now.
[[nodiscard]] std::size_t OpenDescriptorCount();

// Threads of this process right now.
[[nodiscard]] std::size_t ThreadCount();

// Lowers the soft RLIMIT_NOFILE to `soft` (never above the current one) for its lifetime; a walk
// reads the limit when it starts, so create this before the walk.
class SoftDescriptorLimit {
  public:
    explicit SoftDescriptorLimit(rlim_t soft);
    ~SoftDescriptorLimit();
    SoftDescriptorLimit(const SoftDescriptorLimit&) = delete;
    SoftDescriptorLimit& operator=(const SoftDescriptorLimit&) = delete;

  private:
    struct rlimit m_saved {};
};

// Runs `body` with the file access of a user without privileges, so that a directory of mode 000
// is closed to it: as it is when the tests do not run as root; as root, on a thread of its own
// whose file-system ids are nobody's (which drops the capabilities that bypass permission bits),
// and every thread `body` starts inherits them. Waits for `body`. False, without running it, when
// the ids cannot be switched.
[[nodiscard]] bool RunUnprivileged(const std::function<void()>& body);

}  // namespace clearnook::testing
