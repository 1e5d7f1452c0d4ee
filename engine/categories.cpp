#include "engine/categories.h"

#include <cassert>

namespace clearnook {
namespace {

constexpr const char* kNames[CATEGORY_COUNT] = {
    "Temporary Files",     "Temporary Internet Files", "Help Support Files",
    "Pre-Compiled Header Files", "Recent Documents List", "Thumbnail Cache",
};

constexpr const char* kDescriptions[CATEGORY_COUNT] = {
    "Temporary files are left over by certain programs and are generally safe to delete.",
    "Temporary Internet files are created and used by Internet Explorer while browsing. These "
    "files can be removed as they will be recreated when required.",
    "Help support files are created to aid in faster viewing of help files. These files are "
    "automatically recreated as required.",
    "Pre-compiled header files are created during program compilation and are no longer required "
    "after the program has been compiled. These files generally take up a lot of space and are "
    "safe to delete.",
    "This contains shortcuts to recently opened documents and can be safely deleted.",
    "These files are used for quick display of thumbnails of pictures. These can be deleted and "
    "will be recreated as required.",
};

constexpr const char* kKeys[CATEGORY_COUNT] = {"temp", "internet", "help",
                                                "pch",  "recent",   "thumbs"};

constexpr std::string_view kMarkTemp = "\\temp\\";
constexpr std::string_view kMarkInternetCache = "\\temporary internet files\\content.ie5\\";
constexpr std::string_view kMarkRecent = "\\recent\\";

}  // namespace

const char* CategoryName(int index) {
    assert(index >= 0 && index < CATEGORY_COUNT);
    return kNames[index];
}

const char* CategoryDescription(int index) {
    assert(index >= 0 && index < CATEGORY_COUNT);
    return kDescriptions[index];
}

const char* CategoryKey(int index) {
    assert(index >= 0 && index < CATEGORY_COUNT);
    return kKeys[index];
}

PathMarkers FindPathMarkers(std::string_view lowerPath) {
    PathMarkers m;
    m.temp = lowerPath.find(kMarkTemp) != std::string_view::npos;
    m.internetCache = lowerPath.find(kMarkInternetCache) != std::string_view::npos;
    m.recent = lowerPath.find(kMarkRecent) != std::string_view::npos;
    return m;
}

PathMarkers ExtendPathMarkers(const PathMarkers& parent, std::string_view lowerPath,
                              std::size_t parentLen) {
    // A marker found before parentLen - (longest - 1) lies wholly in the parent's part.
    constexpr std::size_t kOverlap = kMarkInternetCache.size() - 1;
    const std::size_t from = parentLen > kOverlap ? parentLen - kOverlap : 0;
    const PathMarkers tail = FindPathMarkers(lowerPath.substr(from));
    return {parent.temp || tail.temp, parent.internetCache || tail.internetCache,
            parent.recent || tail.recent};
}

std::optional<CleanupCategory> ClassifyWithMarkers(const PathMarkers& markers,
                                                   std::string_view lowerName) {
    const std::size_t dot = lowerName.rfind('.');
    const std::string_view ext =
        dot == std::string_view::npos ? std::string_view{} : lowerName.substr(dot + 1);
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
    if (lowerName == "thumbs.db") {
        return CAT_THUMBNAIL_CACHE;
    }
    return std::nullopt;
}

std::optional<CleanupCategory> ClassifyFile(std::string_view fullPath, std::string_view fileName) {
    return ClassifyWithMarkers(FindPathMarkers(fullPath), fileName);
}

}  // namespace clearnook
