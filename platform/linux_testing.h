// Test hooks of the Linux file-system services. Not for the programs.
#pragma once

namespace clearnook::platform::linux_testing {

// When false, child directories are opened with openat and mounts told apart by comparing device
// and mount ids, as on kernels without openat2. Not thread-safe; set before a walk starts.
void UseOpenat2(bool use);

}  // namespace clearnook::platform::linux_testing
