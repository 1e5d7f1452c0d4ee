// The walk on several threads: helpers read later subtrees while the calling thread walks, and
// the calling thread puts everything out in the one-thread walk's order.
#pragma once

#include "engine/scan.h"

namespace clearnook {

// Walks params.path like the one-thread walk, with the same lists, totals and status texts in
// the same order, reading parts of the tree ahead on up to `threads` - 1 helper threads. Returns
// when the walk is over or stopped, the helpers joined and every descriptor closed. Fewer
// helpers where the descriptors or threads for more are not to be had; false, having done
// nothing, where none can run (no hand-off on this platform, too few descriptors, no helper
// thread or not the memory for its records to be had): the caller walks on one thread instead.
// Memory that runs out part way ends the walk with std::bad_alloc on the calling thread, once
// the helpers are joined, whichever thread ran out.
[[nodiscard]] bool RunReadAheadWalk(const ScanParams& params, unsigned threads);

// Readies the process for a walk's threads while it has one thread alone: the descriptor table
// grown to hold a walk's share (a table grown while threads share it makes them all wait), the
// allocator kept within a limit on the address space. Call before starting the scan thread.
// Where there is no read-ahead walk there is nothing to ready.
void PrepareForWalkThreads();

}  // namespace clearnook
