// The walk on two threads: a helper reads later subtrees while the calling thread walks, and the
// calling thread puts everything out in the one-thread walk's order.
#pragma once

#include "engine/scan.h"

namespace clearnook {

// Walks params.path like the one-thread walk, with the same lists, totals and status texts in
// the same order, reading parts of the tree ahead on a second thread. Returns when the walk is
// over or stopped, the second thread joined and every descriptor closed. False, having done
// nothing, where it cannot run here (no hand-off on this platform, too few descriptors, no
// second thread or not the memory for its records to be had): the caller walks on one thread
// instead. Memory that runs out part way ends the walk with std::bad_alloc on the calling
// thread, once the helper is joined, whichever thread ran out.
[[nodiscard]] bool RunReadAheadWalk(const ScanParams& params);

}  // namespace clearnook
