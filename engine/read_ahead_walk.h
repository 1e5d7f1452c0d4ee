// The walk on several threads: helpers read later subtrees while the calling thread walks, and
// the calling thread puts everything out in the one-thread walk's order.
#pragma once

#include "engine/scan.h"

namespace clearnook {

// How a read-ahead walk went.
enum class ReadAheadEnd {
    // Nothing was done: no hand-off on this platform, too few descriptors, no helper thread or
    // not the memory for its records to be had. The caller walks on one thread instead.
    NotRun,
    Walked,  // to the end, or until a stop request
    // Memory ran out part way, on whichever thread: the walk ended there, its results incomplete.
    OutOfMemory,
};

// Walks params.path like the one-thread walk, with the same lists, totals and status texts in
// the same order, reading parts of the tree ahead on up to `threads` - 1 helper threads. Returns
// when the walk is over or stopped, the helpers joined and every descriptor closed. Fewer
// helpers where the descriptors or threads for more are not to be had. Memory that runs out while
// the walk is set up, before any thread walks, throws std::bad_alloc as the containers do.
[[nodiscard]] ReadAheadEnd RunReadAheadWalk(const ScanParams& params, unsigned threads);

// Readies the process for a walk's threads while it has one thread alone: the descriptor table
// grown to hold a walk's share (a table grown while threads share it makes them all wait), the
// allocator kept within a limit on the address space. Call before starting the scan thread.
// Where there is no read-ahead walk there is nothing to ready.
void PrepareForWalkThreads();

}  // namespace clearnook
