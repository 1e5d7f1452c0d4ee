// The kinds of disposable files and the rule chain that sorts a file into one of them.
#pragma once

#include <iterator>
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

// One category's fixed facts. A new category is one more enumerator and one more row of
// kCategoryTable, its rules (ClassifyWithMarkers; ClassifyLinux in engine/linux_rules.cpp), their
// examples (tests/support/rule_examples.h) and its icon (res/: resource.h, clearnook.rc and
// icons/draw-icons). Counts, keys, names, help texts and icons are read from the table.
struct CategoryInfo {
    CleanupCategory category;  // the row's own index, so the table is checked against the enum
    const char* key;           // the command line's name for it: "temp", "thumbs"
    const char* name;          // the result row's text
    const char* description;   // shown in the description area when its row is clicked
    // What each rule set takes into it, in a few words, as clearnook-cli --help says: the Windows
    // words run on in one paragraph with the other categories'; the Linux words have a column of
    // their own and start a new line of it where they hold a line break.
    const char* windowsHolds;
    const char* linuxHolds;
    int iconPosition;  // its icon among the category icons (res/resource.h)
};

// The categories in category order. Static, read-only.
inline constexpr CategoryInfo kCategoryTable[] = {
    {CAT_TEMP_FILES, "temp", "Temporary Files",
     "Temporary files are left over by certain programs and are generally safe to delete.",
     "*.tmp, *.swp, anything below temp\\",
     "*.tmp; files in shared tmp directories (sticky, world-writable) whose\n"
     "times are all over 10 days old (30 in var/tmp); vim swap files as old",
     0},
    {CAT_TEMP_INTERNET_FILES, "internet", "Temporary Internet Files",
     "Temporary Internet files are created and used by Internet Explorer while browsing. These "
     "files can be removed as they will be recreated when required.",
     "anything below temporary internet files\\content.ie5\\",
     "web browsers' HTTP caches below .cache (Firefox's cache2, the\n"
     "Chromium family's Cache, Code Cache, GPUCache), Flatpak and Snap too",
     1},
    {CAT_HELP_SUPPORT_FILES, "help", "Help Support Files",
     "Help support files are created to aid in faster viewing of help files. These files are "
     "automatically recreated as required.",
     "*.gid", "none", 2},
    {CAT_PRECOMPILED_HEADERS, "pch", "Pre-Compiled Header Files",
     "Pre-compiled header files are created during program compilation and are no longer "
     "required after the program has been compiled. These files generally take up a lot of "
     "space and are safe to delete.",
     "*.pch", "*.pch, *.gch", 3},
    {CAT_RECENT_DOCUMENTS, "recent", "Recent Documents List",
     "This contains shortcuts to recently opened documents and can be safely deleted.",
     "*.lnk below recent\\",
     ".local/share/recently-used.xbel, .local/share/RecentDocuments/*.desktop", 4},
    {CAT_THUMBNAIL_CACHE, "thumbs", "Thumbnail Cache",
     "These files are used for quick display of thumbnails of pictures. These can be deleted and "
     "will be recreated as required.",
     "thumbs.db", "below .cache/thumbnails and .thumbnails; thumbs.db", 5},
};

inline constexpr int CATEGORY_COUNT = static_cast<int>(std::size(kCategoryTable));

// Which system's conventions say where each kind of file lives in a tree: the Windows rules
// (the chain of ClassifyWithMarkers) or the Linux rules (engine/linux_rules.h).
enum class RuleSet : unsigned char { Windows, Linux };

// "windows" or "linux": the command line's and the JSON's name for a rule set.
[[nodiscard]] const char* RuleSetName(RuleSet rules);

// The facts of category `index` (0..CATEGORY_COUNT-1).
[[nodiscard]] const CategoryInfo& CategoryInfoOf(int index);

// Display name, description and command-line key of category `index`. Static text, never null.
[[nodiscard]] const char* CategoryName(int index);
[[nodiscard]] const char* CategoryDescription(int index);
[[nodiscard]] const char* CategoryKey(int index);

// Which of the path markers a lower-cased, backslash-separated path contains. A directory's
// markers, computed once over its path with a trailing backslash, hold for every file in it
// whose name has no backslash (every marker ends with one). A new marker is a field here and a
// row of kMarkers (categories.cpp), from which FindPathMarkers and ExtendPathMarkers work.
struct PathMarkers {
    bool temp = false;           // "\temp\"
    bool internetCache = false;  // "\temporary internet files\content.ie5\"
    bool recent = false;         // "\recent\"
    friend bool operator==(const PathMarkers&, const PathMarkers&) = default;
};

[[nodiscard]] PathMarkers FindPathMarkers(std::string_view lowerPath);

// The markers of `lowerPath`, given those of its first `parentLen` bytes (which end at a
// backslash). Only the part a new marker could overlap is searched, so a walk pays per name, not
// per path, however deep it goes.
[[nodiscard]] PathMarkers ExtendPathMarkers(const PathMarkers& parent, std::string_view lowerPath,
                                            std::size_t parentLen);

// The rule chain applied to a file name, given the markers of its full path. The order of its
// tests decides: the first that holds gives the category.
[[nodiscard]] std::optional<CleanupCategory> ClassifyWithMarkers(const PathMarkers& markers,
                                                                 std::string_view lowerName);

// False when ClassifyWithMarkers gives the file `name` none, known without lowering the name:
// most of a drive's names are settled by their length and their extension. `name` is a component
// as read, not lowered, holding no backslash. True says nothing. Below a path marker every name
// gets through; elsewhere the rules are asked about the name's three-letter extension alone, and
// a name as long as one they compare whole (kWholeNames, categories.cpp) gets through. A rule that
// reads a name some other way needs a word here; the rule examples' filter test fails until then.
[[nodiscard]] bool NameMayHaveCategory(const PathMarkers& markers, std::string_view name);

// The category of one file, or none. Both strings are already lower-cased: `fullPath` is the
// whole path with backslash separators, `fileName` its last component. No side effects.
[[nodiscard]] std::optional<CleanupCategory> ClassifyFile(std::string_view fullPath,
                                                          std::string_view fileName);

}  // namespace clearnook
