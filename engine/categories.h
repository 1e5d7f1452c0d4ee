// The six kinds of disposable files and the rule chain that sorts a file into one of them.
#pragma once

#include <optional>
#include <string_view>

namespace clearnook {

// A cleanup category's index. The order is the order of the result rows, the row icons, the
// item data, the path lists and the totals.
enum CleanupCategory : int {
    CAT_TEMP_FILES = 0,
    CAT_TEMP_INTERNET_FILES = 1,
    CAT_HELP_SUPPORT_FILES = 2,
    CAT_PRECOMPILED_HEADERS = 3,
    CAT_RECENT_DOCUMENTS = 4,
    CAT_THUMBNAIL_CACHE = 5,
};

inline constexpr int CATEGORY_COUNT = 6;

// Resource id of the first category icon; category i uses IDI_CATEGORY_FIRST + i.
inline constexpr int IDI_CATEGORY_FIRST = 129;

// Display name and description of category `index` (0..5). Static text, never null.
[[nodiscard]] const char* CategoryName(int index);
[[nodiscard]] const char* CategoryDescription(int index);

// The short key the command line uses for category `index`: temp, internet, help, pch, recent,
// thumbs.
[[nodiscard]] const char* CategoryKey(int index);

// Which of the path markers a lower-cased, backslash-separated path contains. A directory's
// markers, computed once over its path with a trailing backslash, hold for every file in it
// whose name has no backslash (every marker ends with one).
struct PathMarkers {
    bool temp = false;           // "\temp\"
    bool internetCache = false;  // "\temporary internet files\content.ie5\"
    bool recent = false;         // "\recent\"
};

[[nodiscard]] PathMarkers FindPathMarkers(std::string_view lowerPath);

// The markers of `lowerPath`, given those of its first `parentLen` bytes (which end at a
// backslash). Only the part a new marker could overlap is searched, so a walk pays per name, not
// per path, however deep it goes.
[[nodiscard]] PathMarkers ExtendPathMarkers(const PathMarkers& parent, std::string_view lowerPath,
                                            std::size_t parentLen);

// The rule chain applied to a file name, given the markers of its full path.
[[nodiscard]] std::optional<CleanupCategory> ClassifyWithMarkers(const PathMarkers& markers,
                                                                 std::string_view lowerName);

// The category of one file, or none. Both strings are already lower-cased: `fullPath` is the
// whole path with backslash separators, `fileName` its last component. No side effects.
[[nodiscard]] std::optional<CleanupCategory> ClassifyFile(std::string_view fullPath,
                                                          std::string_view fileName);

}  // namespace clearnook
