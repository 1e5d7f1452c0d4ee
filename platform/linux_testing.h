// Test hooks of the Linux file-system services. Not for the programs.
#pragma once

namespace clearnook::platform {

namespace sys {
struct SyscallTable;
}

namespace linux_testing {

// Puts `table` in effect for every later call of the services, on every thread; null puts the
// real calls back. Returns the table that was in effect before (null for the real one). `table`
// must stay alive and unchanged until it is replaced.
const sys::SyscallTable* SetSyscallTable(const sys::SyscallTable* table);

}  // namespace linux_testing
}  // namespace clearnook::platform
