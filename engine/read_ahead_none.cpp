// Where directories cannot be handed from one walker to another, the walk runs on one thread.
#include "engine/read_ahead_walk.h"

namespace clearnook {

ReadAheadEnd RunReadAheadWalk(const ScanParams& /*params*/, unsigned /*threads*/) {
    return ReadAheadEnd::NotRun;
}

void PrepareForWalkThreads() {}

}  // namespace clearnook
