// The files a scan recorded in one category, as the file list of a result row shows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/results.h"

namespace clearnook {

struct RecordedFile {
    std::string path;                   // as the lists hold it: what the delete pass would remove
    std::optional<std::uint64_t> size;  // its size now; empty when it is gone
};

// The recorded files of `category` in the order the walk found them, each with its size read
// again now (the walk keeps totals, not a size per file). Only once the walk has finished: the
// lists may not be read before.
[[nodiscard]] std::vector<RecordedFile> ListRecordedFiles(const CategoryResults& results,
                                                          int category);

}  // namespace clearnook
