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
    if (place.thumbnails || n == "thumbs.db") {
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
    if (place.browserCache || place.thumbnails || place.temporaryDays != 0 ||
        place.kind == Kind::LocalShare || place.kind == Kind::RecentDocuments ||
        name.size() == 9) {  // "thumbs.db"
        return true;
    }
    const std::string_view ext = Extension3(name);
    if (ext.empty()) {
        return false;
    }
    char lower[3];
    for (std::size_t i = 0; i < 3; ++i) {
        const char c = ext[i];
        lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    }
    const std::string_view e(lower, 3);
    return e == "tmp" || e == "pch" || e == "gch" ||
           (e[0] == 's' && e[1] == 'w' && e[2] >= 'a' && e[2] <= 'p');
}

}  // namespace clearnook
