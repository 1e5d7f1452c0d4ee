#include "engine/categories.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>

#include "platform/fs_services.h"

namespace clearnook {
namespace {

// Row i is category i, and each category has an icon of its own among the first
// CATEGORY_COUNT.
constexpr bool TableIsWellFormed() {
    for (int i = 0; i < CATEGORY_COUNT; ++i) {
        const int icon = kCategoryTable[i].iconPosition;
        if (kCategoryTable[i].category != i || icon < 0 || icon >= CATEGORY_COUNT) {
            return false;
        }
        for (int j = 0; j < i; ++j) {
            if (kCategoryTable[j].iconPosition == icon) {
                return false;
            }
        }
    }
    return true;
}
static_assert(TableIsWellFormed());

// Each path marker's text and the field of PathMarkers that says a path holds it. Every marker
// begins and ends with a backslash.
struct Marker {
    std::string_view text;
    bool PathMarkers::*field;
};
constexpr Marker kMarkers[] = {
    {"\\temp\\", &PathMarkers::temp},
    {"\\temporary internet files\\content.ie5\\", &PathMarkers::internetCache},
    {"\\recent\\", &PathMarkers::recent},
};

constexpr std::size_t LongestMarker() {
    std::size_t longest = 0;
    for (const Marker& m : kMarkers) {
        longest = std::max(longest, m.text.size());
    }
    return longest;
}

constexpr std::string_view kThumbnailCacheName = "thumbs.db";

// Every name a rule compares the whole of a file's name with. Any other name the rules could take
// outside the marked directories, they take by its extension (NameMayHaveCategory counts on it).
constexpr std::string_view kWholeNames[] = {kThumbnailCacheName};

constexpr bool IsWholeNameLength(std::size_t size) {
    return std::ranges::any_of(kWholeNames,
                               [size](std::string_view n) { return n.size() == size; });
}

// The extension the rules look at: the last three bytes after a dot (every extension they name
// has three letters), else empty.
constexpr std::size_t kRuleExtensionSize = 3;
std::string_view RuleExtension(std::string_view name) {
    const std::size_t n = name.size();
    return n > kRuleExtensionSize && name[n - kRuleExtensionSize - 1] == '.'
               ? name.substr(n - kRuleExtensionSize)
               : std::string_view{};
}

// True when `marker` occurs in `path` at or after `from` beginning a character: in a double-byte
// code page, a "\\temp\\" whose backslash is the second byte of a character is no marker. Every
// marker begins with a backslash and goes on in ASCII, which is never a first byte, so where
// the first byte begins a character the whole marker is characters.
bool ContainsMarker(std::string_view path, std::string_view marker, std::size_t from) {
    for (std::size_t at = path.find(marker, from); at != std::string_view::npos;
         at = path.find(marker, at + 1)) {
        if (platform::StartsCharacter(path, at)) {
            return true;
        }
    }
    return false;
}

// The markers found at or after `from` of `lowerPath`.
PathMarkers FindPathMarkersFrom(std::string_view lowerPath, std::size_t from) {
    PathMarkers found;
    for (const Marker& m : kMarkers) {
        found.*m.field = ContainsMarker(lowerPath, m.text, from);
    }
    return found;
}

}  // namespace

const CategoryInfo& CategoryInfoOf(int index) {
    assert(index >= 0 && index < CATEGORY_COUNT);
    return kCategoryTable[index];
}

const char* CategoryName(int index) {
    return CategoryInfoOf(index).name;
}

const char* CategoryDescription(int index) {
    return CategoryInfoOf(index).description;
}

const char* CategoryKey(int index) {
    return CategoryInfoOf(index).key;
}

const char* RuleSetName(RuleSet rules) {
    return rules == RuleSet::Windows ? "windows" : "linux";
}

PathMarkers FindPathMarkers(std::string_view lowerPath) {
    return FindPathMarkersFrom(lowerPath, 0);
}

PathMarkers ExtendPathMarkers(const PathMarkers& parent, std::string_view lowerPath,
                              std::size_t parentLen) {
    // Every marker ends with a backslash, so one the new part completes ends at one of its
    // backslashes. Where the only one is its last byte (a name without a backslash), a new marker
    // can only end the path: no search.
    PathMarkers out = parent;
    if (!lowerPath.empty() && lowerPath.find('\\', parentLen) == lowerPath.size() - 1) {
        for (const Marker& m : kMarkers) {
            out.*m.field = out.*m.field ||
                           (lowerPath.ends_with(m.text) &&
                            platform::StartsCharacter(lowerPath, lowerPath.size() - m.text.size()));
        }
        return out;
    }
    // A marker found before parentLen - (longest - 1) lies wholly in the parent's part.
    constexpr std::size_t kOverlap = LongestMarker() - 1;
    const std::size_t from = parentLen > kOverlap ? parentLen - kOverlap : 0;
    // The bytes before `from` still tell whether a match begins a character.
    const PathMarkers tail = FindPathMarkersFrom(lowerPath, from);
    for (const Marker& m : kMarkers) {
        out.*m.field = out.*m.field || tail.*m.field;
    }
    return out;
}

std::optional<CleanupCategory> ClassifyWithMarkers(const PathMarkers& markers,
                                                   std::string_view lowerName) {
    const std::string_view ext = RuleExtension(lowerName);
    // The order of these tests decides: the first that holds gives the category.
    if (ext == "tmp" || ext == "swp" || markers.temp) {
        return CAT_TEMP_FILES;
    }
    if (markers.internetCache) {
        return CAT_TEMP_INTERNET_FILES;
    }
    if (ext == "gid") {
        return CAT_HELP_SUPPORT_FILES;
    }
    if (ext == "pch") {
        return CAT_PRECOMPILED_HEADERS;
    }
    if (ext == "lnk" && markers.recent) {
        return CAT_RECENT_DOCUMENTS;
    }
    if (lowerName == kThumbnailCacheName) {
        return CAT_THUMBNAIL_CACHE;
    }
    return std::nullopt;
}

bool NameMayHaveCategory(const PathMarkers& markers, std::string_view name) {
    // Below a marker the rules may take any name. Elsewhere they read a name's extension, or
    // compare the whole of it with one of kWholeNames. Lowering keeps a name's length, and its
    // dots where they are: no code page lowers a byte to or from '.', and none is the second byte
    // of a character.
    if (markers != PathMarkers{} || IsWholeNameLength(name.size())) {
        return true;
    }
    const std::string_view ext = RuleExtension(name);
    if (ext.empty()) {
        return false;
    }
    // The rules then look at the extension alone: put it to them as a name of its own. A byte
    // outside ASCII may lower to anything; one inside lowers to itself, or from A-Z to a-z, or
    // (in a Turkish code page) to a byte outside ASCII, which no rule names.
    // Made in a register and stored whole: stored a byte at a time, it would be read back before
    // the stores could be.
    char dotExt[1 + kRuleExtensionSize];
    std::uint32_t word = 0;
    static_assert(sizeof dotExt == sizeof word);
    for (std::size_t i = 0; i < sizeof dotExt; ++i) {
        const auto b = static_cast<unsigned char>(i == 0 ? '.' : ext[i - 1]);
        if (b >= 0x80) {
            return true;
        }
        const std::uint32_t lower = b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b;
        const std::size_t place =
            std::endian::native == std::endian::little ? i : sizeof dotExt - 1 - i;
        word |= lower << (8 * place);
    }
    std::memcpy(dotExt, &word, sizeof word);
    return ClassifyWithMarkers(markers, std::string_view(dotExt, sizeof dotExt)).has_value();
}

std::optional<CleanupCategory> ClassifyFile(std::string_view fullPath, std::string_view fileName) {
    return ClassifyWithMarkers(FindPathMarkers(fullPath), fileName);
}

}  // namespace clearnook
