// The texts clearnook-cli shows on a terminal while and after it walks: the progress line and the
// summary. Pure: they only format what they are given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace clearnook::cli {

// How far a walk has got.
struct WalkCounts {
    std::uint64_t entries = 0;
    std::uint64_t directories = 0;
    double seconds = 0;  // since the walk started
};

// `n` with a comma between groups of three digits: "1,234,567".
[[nodiscard]] std::string Thousands(std::uint64_t n);

// The progress line: "[42%] 1,234 entries, 56 directories, 7,890/s  /where", cut to `width` - 1
// columns so that it never wraps (0: not cut), the start of the path left out first. The percentage
// compares the entries with `usedInodes` (a whole filesystem's count) and stays at 99 until the
// walk is over, whatever hard links or files made meanwhile do; without `usedInodes` there is none.
// No rate in the first tenth of a second. `status` is shown as Printable shows it.
[[nodiscard]] std::string ProgressLine(const WalkCounts& counts,
                                       std::optional<std::uint64_t> usedInodes,
                                       std::string_view status, std::size_t width);

// The summary at the end: "clearnook-cli: 1,234 entries in 56 directories walked in 1.24 s"
// (one decimal from 10 s on).
[[nodiscard]] std::string SummaryLine(const WalkCounts& counts);

}  // namespace clearnook::cli
