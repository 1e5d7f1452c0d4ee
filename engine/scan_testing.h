// What tests may ask of the walk beyond its results.
#pragma once

#include <cstdint>

namespace clearnook::scan_testing {

// Subtrees handed to a read-ahead thread by all walks of this process so far: lets a test tell a
// read-ahead walk that really split its work from one that happened to run on one thread.
[[nodiscard]] std::uint64_t HandOffCount();

}  // namespace clearnook::scan_testing
