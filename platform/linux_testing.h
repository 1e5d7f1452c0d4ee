// Test hooks and observers of the Linux file-system services. Not for the programs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace clearnook::platform {

class DirectoryStack;
class RecordedFileRemover;
namespace sys {
struct SyscallTable;
}

// What a stack or a remover holds, for tests of their descriptor bounds and their reuse of
// open directories.
class TestObserver {
  public:
    // Descriptors the stack holds open right now; never more than its budget.
    [[nodiscard]] static std::size_t OpenDescriptors(const DirectoryStack& stack);

    // Directories the remover opened so far, the root included: what the reuse of open
    // directories saves.
    [[nodiscard]] static std::uint64_t DirectoryOpens(const RecordedFileRemover& remover);
    // Descriptors the remover holds open right now, the root included; never more than its
    // budget.
    [[nodiscard]] static std::size_t OpenDescriptors(const RecordedFileRemover& remover);
    [[nodiscard]] static std::size_t DescriptorBudget(const RecordedFileRemover& remover);
};

namespace linux_testing {

// Puts `table` in effect for every later call of the services, on every thread; null puts the
// real calls back. Returns the table that was in effect before (null for the real one). `table`
// must stay alive and unchanged until it is replaced.
const sys::SyscallTable* SetSyscallTable(const sys::SyscallTable* table);

}  // namespace linux_testing
}  // namespace clearnook::platform
