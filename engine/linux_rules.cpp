#include "engine/linux_rules.h"

#include <algorithm>
#include <array>

namespace clearnook {
namespace {

using Kind = LinuxPlace::Kind;

// The cache directories of the Chromium family below XDG_CACHE_HOME, lowered. Brave's lies one
// level further down, below "BraveSoftware".
constexpr std::array<std::string_view, 11> kChromiumBrowsers = {
    "chromium",           "google-chrome",
    "google-chrome-beta", "google-chrome-unstable",
    "microsoft-edge",     "microsoft-edge-beta",
    "microsoft-edge-dev", "vivaldi",
    "vivaldi-snapshot",   "opera",
    "opera-beta"};

bool IsChromiumBrowser(std::string_view lowerName) {
    return std::find(kChromiumBrowsers.begin(), kChromiumBrowsers.end(), lowerName) !=
           kChromiumBrowsers.end();
}

constexpr std::string_view kThumbsDbName = "thumbs.db";  // a Windows thumbnail cache, copied over

// Every name a rule compares the whole of a file's name with wherever the file lies. Any other
// name the rules could take in a directory that is nothing to them (a LinuxPlace as made), they
// take by its extension (LinuxNameMayHaveCategory counts on it).
constexpr std::string_view kWholeNames[] = {kThumbsDbName};

constexpr bool IsWholeNameLength(std::size_t size) {
    return std::ranges::any_of(kWholeNames,
                               [size](std::string_view n) { return n.size() == size; });
}

// The three bytes after a name's last dot, when it has exactly three.
std::string_view Extension3(std::string_view name) {
    const std::size_t n = name.size();
    return n > 4 && name[n - 4] == '.' ? name.substr(n - 3) : std::string_view{};
}

// Vim's swap files: ".swp", then ".swo" down to ".swa" as more sessions edit one file, named
// ".NAME.swp" beside the file or "%path%to%NAME.swp" in a swap directory.
bool IsVimSwap(std::string_view lowerName, std::string_view ext) {
    return ext.size() == 3 && ext[0] == 's' && ext[1] == 'w' && ext[2] >= 'a' && ext[2] <= 'p' &&
           (lowerName.front() == '.' || lowerName.find('%') != std::string_view::npos);
}

// An X server's lock file in /tmp (".X0-lock"), which the server needs as long as it runs and
// systemd's own x11.conf exempts from ageing.
bool IsXServerLock(std::string_view lowerName) {
    return lowerName.size() > 7 && lowerName.starts_with(".x") && lowerName[2] >= '0' &&
           lowerName[2] <= '9' && lowerName.ends_with("-lock");
}

}  // namespace

LinuxPlace EnterLinuxPlace(const LinuxPlace& parent, std::string_view lowerName) {
    const std::string_view n = lowerName;
    LinuxPlace p;
    p.browserCache = parent.browserCache;
    p.thumbnails = parent.thumbnails;
    p.temporaryDays = parent.temporaryDays;
    if (p.browserCache || p.thumbnails) {
        return p;  // everything below is of the category already
    }
    switch (parent.kind) {
        case Kind::DotLocal:
            p.kind = n == "share" ? Kind::LocalShare : Kind::Other;
            break;
        case Kind::LocalShare:
            p.kind = n == "recentdocuments" ? Kind::RecentDocuments : Kind::Other;
            break;
        case Kind::DotVar:
            p.kind = n == "app" ? Kind::VarApp : Kind::Other;
            break;
        case Kind::VarApp:
            p.kind = Kind::FlatpakApp;
            break;
        case Kind::FlatpakApp:
            p.kind = n == "cache" ? Kind::CacheRoot : Kind::Other;
            break;
        case Kind::CacheRoot:
            if (n == "thumbnails") {
                p.thumbnails = true;
            } else if (n == "mozilla") {
                p.kind = Kind::Mozilla;
            } else if (n == "bravesoftware") {
                p.kind = Kind::Brave;
            } else if (IsChromiumBrowser(n)) {
                p.kind = Kind::Chromium;
            }
            break;
        case Kind::Mozilla:
            p.kind = n == "firefox" ? Kind::Firefox : Kind::Other;
            break;
        case Kind::Firefox:
            p.kind = Kind::FirefoxProfile;
            break;
        case Kind::FirefoxProfile:
            p.browserCache = n == "cache2" || n == "startupcache";
            break;
        case Kind::Brave:
            p.kind = n.starts_with("brave-browser") ? Kind::Chromium : Kind::Other;
            break;
        case Kind::Chromium:
            p.kind = Kind::ChromiumProfile;
            break;
        case Kind::ChromiumProfile:
            p.browserCache = n == "cache" || n == "code cache" || n == "gpucache";
            break;
        case Kind::Other:
        case Kind::Var:
        case Kind::RecentDocuments:
            break;
    }
    if (p.kind == Kind::Other && !p.browserCache && !p.thumbnails) {
        if (n == ".cache") {
            p.kind = Kind::CacheRoot;
        } else if (n == ".local") {
            p.kind = Kind::DotLocal;
        } else if (n == ".var") {
            p.kind = Kind::DotVar;
        } else if (n == "var") {
            p.kind = Kind::Var;
        } else if (n == ".thumbnails") {
            p.thumbnails = true;
        } else if (n == "tmp" && p.temporaryDays == 0) {
            p.temporaryDays = parent.kind == Kind::Var ? kVarTmpDays : kTmpDays;
            p.unconfirmed = true;
        }
    }
    return p;
}

Verdict ClassifyLinux(const LinuxPlace& place, std::string_view lowerName) {
    const std::string_view n = lowerName;
    const std::string_view ext = Extension3(n);
    if (ext == "tmp") {
        return {true, CAT_TEMP_FILES, 0};
    }
    if (place.browserCache) {
        return {true, CAT_TEMP_INTERNET_FILES, 0};
    }
    if (ext == "pch" || ext == "gch") {
        return {true, CAT_PRECOMPILED_HEADERS, 0};
    }
    if ((place.kind == Kind::LocalShare && n == "recently-used.xbel") ||
        (place.kind == Kind::RecentDocuments && n.size() > 8 && n.ends_with(".desktop"))) {
        return {true, CAT_RECENT_DOCUMENTS, 0};
    }
    if (place.thumbnails || n == kThumbsDbName) {
        return {true, CAT_THUMBNAIL_CACHE, 0};
    }
    if (place.temporaryDays != 0 && !IsXServerLock(n)) {
        return {true, CAT_TEMP_FILES, place.temporaryDays};
    }
    if (IsVimSwap(n, ext)) {
        return {true, CAT_TEMP_FILES, kTmpDays};
    }
    return {};
}

bool LinuxNameMayHaveCategory(const LinuxPlace& place, std::string_view name) {
    // In a directory that is something to the rules they may take any name. Elsewhere they read a
    // name's extension, or compare the whole of it with one of kWholeNames.
    if (place != LinuxPlace{} || IsWholeNameLength(name.size())) {
        return true;
    }
    const std::string_view ext = Extension3(name);
    if (ext.empty()) {
        return false;
    }
    // The rules then look at the extension alone: put it to them as the name of a hidden file
    // that is nothing but the extension. Hidden is the widest such a name can be, as vim's swap
    // files are hidden (or named after a path).
    char hidden[] = {'.', '.', 0, 0, 0};
    static_assert(sizeof hidden == 2 + 3);
    for (std::size_t i = 0; i < 3; ++i) {
        const char c = ext[i];
        hidden[2 + i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    return ClassifyLinux(LinuxPlace{}, std::string_view(hidden, sizeof hidden)).matched;
}

}  // namespace clearnook
