// Where Linux keeps each kind of disposable file. The categories are the same as on Windows;
// the places differ, and so do a few names: on Linux a folder named temp is the user's own, and a
// .swp file is the recovery file of an editor that may still be running.
//
// The conventions, each from its own source:
// - Thumbnail cache: the freedesktop.org Thumbnail Managing Standard (0.9): thumbnails below
//   $XDG_CACHE_HOME/thumbnails ("~/.cache/thumbnails"), earlier "~/.thumbnails".
// - Browser caches: freedesktop.org's XDG base directories (0.8): $XDG_CACHE_HOME, "~/.cache" by
//   default, is for non-essential data. Firefox keeps its HTTP cache there as
//   "mozilla/firefox/PROFILE/cache2" (and "startupCache"); the Chromium family as
//   "BROWSER/PROFILE/Cache", "Code Cache" and "GPUCache". Flatpak gives each app
//   "~/.var/app/APP-ID/cache" as its XDG_CACHE_HOME; Snap "~/snap/NAME/common/.cache".
// - Recent documents: freedesktop.org's desktop bookmarks: "recently-used.xbel" in
//   $XDG_DATA_HOME ("~/.local/share"); KDE keeps one .desktop file per document in
//   "~/.local/share/RecentDocuments".
// - Temporary files: systemd's tmpfiles.d/tmp.conf removes what lies in /tmp for 10 days and in
//   /var/tmp for 30, judging a file by its access, modification, change and birth times; both
//   are shared directories, world-writable with the sticky bit.
// - Vim's swap files (".name.swp", then .swo, .swn... for more sessions; Neovim's below its state
//   directory, named after the whole path with '%' for '/') hold an editing session's unsaved
//   work: only an old one that no process holds is disposable.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/categories.h"

namespace clearnook {

// What the Linux rules know of one directory of a walk: worked out once when the walk enters
// it, from its parent's and its own lowered name. Small and copied per level.
struct LinuxPlace {
    // What the directory itself is, where that matters to what lies below it.
    enum class Kind : std::uint8_t {
        Other,
        Var,              // "var": its "tmp" keeps files 30 days
        DotLocal,         // ".local"
        LocalShare,       // ".local/share": recently-used.xbel
        RecentDocuments,  // ".local/share/RecentDocuments": KDE's recent documents
        DotVar,           // ".var": Flatpak's per-app homes below "app"
        VarApp,           // ".var/app"
        FlatpakApp,       // ".var/app/APP-ID"
        CacheRoot,        // ".cache", or a Flatpak app's "cache"
        Mozilla,          // CACHE/mozilla
        Firefox,          // CACHE/mozilla/firefox
        FirefoxProfile,   // CACHE/mozilla/firefox/PROFILE
        Brave,            // CACHE/BraveSoftware
        Chromium,         // CACHE/BROWSER of the Chromium family
        ChromiumProfile,  // CACHE/BROWSER/PROFILE
    };
    Kind kind = Kind::Other;
    bool browserCache = false;  // in a web browser's HTTP cache
    bool thumbnails = false;    // in a freedesktop thumbnail cache
    // In a shared temporary directory: the days after which its files are disposable; 0 when
    // not. A directory named tmp is taken for one until the walk has looked at its mode
    // (`unconfirmed`), and stays one only when it is world-writable with the sticky bit.
    std::uint8_t temporaryDays = 0;
    bool unconfirmed = false;
    friend bool operator==(const LinuxPlace&, const LinuxPlace&) = default;
};

// The place of the directory `lowerName` (lowered, one component) entered from `parent`.
[[nodiscard]] LinuxPlace EnterLinuxPlace(const LinuxPlace& parent, std::string_view lowerName);

// What the rules say of one file.
struct Verdict {
    bool matched = false;
    CleanupCategory category = CAT_TEMP_FILES;
    // Nonzero: the file is of `category` only once every one of its times (access,
    // modification, change, birth) is at least this many days old.
    std::uint8_t olderThanDays = 0;
};

// The Linux rules applied to the file `lowerName` of a directory at `place`. The order decides:
// the first that holds gives the category.
[[nodiscard]] Verdict ClassifyLinux(const LinuxPlace& place, std::string_view lowerName);

// False when ClassifyLinux gives the file `name` (as read, not lowered) none, known without
// lowering it. True says nothing. In a place other than LinuxPlace{} every name gets through;
// elsewhere the rules are asked about the name's three-letter extension alone, and a name as long
// as one they compare whole (kWholeNames, linux_rules.cpp) gets through. A rule that reads a name
// some other way needs a word here; the rule examples' filter test fails until then.
[[nodiscard]] bool LinuxNameMayHaveCategory(const LinuxPlace& place, std::string_view name);

// The ages of systemd-tmpfiles' defaults, in days.
inline constexpr std::uint8_t kTmpDays = 10;
inline constexpr std::uint8_t kVarTmpDays = 30;

}  // namespace clearnook
