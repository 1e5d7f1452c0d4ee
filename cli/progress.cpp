#include "cli/progress.h"

#include <algorithm>
#include <cstdio>

#include "cli/cli_options.h"

namespace clearnook::cli {

std::string Thousands(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, 1, ',');
    }
    return digits;
}

namespace {

std::string Directories(std::uint64_t n) {
    return Thousands(n) + (n == 1 ? " directory" : " directories");
}

}  // namespace

std::string ProgressLine(const WalkCounts& counts, std::optional<std::uint64_t> usedInodes,
                         std::string_view status, std::size_t width) {
    std::string line;
    if (usedInodes && *usedInodes > 0) {
        const std::uint64_t percent =
            std::min<std::uint64_t>(99, counts.entries * 100 / *usedInodes);
        line += "[" + std::to_string(percent) + "%] ";
    }
    line += Thousands(counts.entries) + " entries, " + Directories(counts.directories);
    if (counts.seconds >= 0.1) {
        line += ", " +
                Thousands(static_cast<std::uint64_t>(static_cast<double>(counts.entries) /
                                                     counts.seconds)) +
                "/s";
    }
    line += "  ";
    if (width == 0) {
        return line + Printable(status);
    }
    if (line.size() >= width - 1) {
        line.resize(width - 1);
        return line;
    }
    // The end of the path is the part that changes as the walk goes on.
    return line +
           Shortened(Printable(status), width - 1 - line.size(), Keep::End, Measure::Columns);
}

std::string SummaryLine(const WalkCounts& counts) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, counts.seconds < 10 ? "%.2f" : "%.1f", counts.seconds);
    return "clearnook-cli: " + Thousands(counts.entries) + " entries in " +
           Directories(counts.directories) + " walked in " + seconds + " s";
}

}  // namespace clearnook::cli
