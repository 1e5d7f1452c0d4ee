// Where directories cannot be handed from one walker to another, the walk runs on one thread.
#include "engine/read_ahead_walk.h"
#include "engine/scan_testing.h"

namespace clearnook {

bool RunReadAheadWalk(const ScanParams& /*params*/, unsigned /*threads*/) {
    return false;
}

void PrepareForWalkThreads() {}

std::uint64_t scan_testing::HandOffCount() {
    return 0;
}

}  // namespace clearnook
