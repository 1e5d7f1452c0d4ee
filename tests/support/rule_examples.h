// Example files of each rule set with the category its rules give them: one table per rule set,
// read by the tests of the rules, of the name filter in front of each set, and of the walks. A new
// rule brings its examples here, the files it takes and those it must leave alone.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/categories.h"
#include "engine/linux_rules.h"

namespace clearnook::testing {

inline constexpr int kNoCategory = -1;

struct RuleExample {
    const char* path;
    int category;  // kNoCategory: the rules take the file into none
    // Under the Linux rules, the age in days all of the file's times must reach first (the
    // verdict's olderThanDays); 0 under the Windows rules.
    std::uint8_t days = 0;
};

inline void PrintTo(const RuleExample& e, std::ostream* os) {
    *os << e.path;
}

// The Windows rules: whole paths, lowered and separated by backslashes, as ClassifyFile takes them.
inline constexpr RuleExample kWindowsRuleExamples[] = {
    {"c:\\windows\\temp\\setup.log", CAT_TEMP_FILES},
    {"c:\\windows\\temp\\report.html", CAT_TEMP_FILES},  // below the marker, any name
    {"c:\\data\\report.tmp", CAT_TEMP_FILES},
    {"c:\\data\\doc.swp", CAT_TEMP_FILES},
    {"c:\\data\\archive.tar.tmp", CAT_TEMP_FILES},
    {"c:\\data\\.swp", CAT_TEMP_FILES},
    // rule 3 comes before the extension rules 5 to 8
    {"c:\\windows\\temp\\x\\app.pch", CAT_TEMP_FILES},
    {"c:\\temp\\thumbs.db", CAT_TEMP_FILES},
    {"c:\\temp\\r\\recent\\a.lnk", CAT_TEMP_FILES},
    // "\temp\" needs its trailing backslash
    {"c:\\temporary\\a.txt", kNoCategory},
    {"c:\\mytemp\\a.txt", kNoCategory},
    {"c:\\temp", kNoCategory},
    {"c:\\documents and settings\\u\\local settings\\temporary internet files\\content.ie5\\"
     "ab12\\page.htm",
     CAT_TEMP_INTERNET_FILES},
    {"c:\\documents and settings\\u\\local settings\\temporary internet files\\content.ie5\\"
     "ab12\\cache.tmp",
     CAT_TEMP_FILES},
    {"c:\\u\\temporary internet files\\content.ie5\\index.dat", CAT_TEMP_INTERNET_FILES},
    {"c:\\u\\temporary internet files\\content.ie5\\ab12\\favicon", CAT_TEMP_INTERNET_FILES},
    // directly in the cache folder, or with a folder between: not rule 4
    {"c:\\u\\temporary internet files\\page.htm", kNoCategory},
    {"c:\\u\\temporary internet files\\x\\content.ie5\\page.htm", kNoCategory},
    {"c:\\windows\\help\\system.gid", CAT_HELP_SUPPORT_FILES},
    {"c:\\src\\build\\app.pch", CAT_PRECOMPILED_HEADERS},
    {"c:\\documents and settings\\u\\recent\\letter.lnk", CAT_RECENT_DOCUMENTS},
    {"c:\\documents and settings\\u\\desktop\\letter.lnk", kNoCategory},
    {"c:\\documents and settings\\u\\recent\\index.dat", kNoCategory},
    {"c:\\u\\recent\\deeper\\letter.lnk", CAT_RECENT_DOCUMENTS},
    {"c:\\u\\recent\\system.gid", CAT_HELP_SUPPORT_FILES},
    {"c:\\photos\\thumbs.db", CAT_THUMBNAIL_CACHE},
    {"c:\\photos\\thumbs.db.bak", kNoCategory},
    {"c:\\photos\\xthumbs.db", kNoCategory},
    {"c:\\recent\\thumbs.db", CAT_THUMBNAIL_CACHE},
    {"c:\\data\\tmp", kNoCategory},
    {"c:\\data\\readme.", kNoCategory},
    {"c:\\data\\a.tmp.txt", kNoCategory},
    {"c:\\data\\a.tmpx", kNoCategory},
    // the caller lowers; ClassifyFile never does
    {"c:\\data\\report.TMP", kNoCategory},
    {"c:\\Temp\\a.txt", kNoCategory},
};

// The Linux rules: paths below a walk's root, lowered, separated by slashes. Every directory named
// tmp on the way is taken for a shared temporary directory (the walk would have found it one).
inline constexpr RuleExample kLinuxRuleExamples[] = {
    {"home/me/downloads/installer.tmp", CAT_TEMP_FILES},
    {"tmp/build-1234/old.log", CAT_TEMP_FILES, kTmpDays},
    {"var/tmp/older.dat", CAT_TEMP_FILES, kVarTmpDays},
    {"var/tmp/cache.tmp", CAT_TEMP_FILES},  // the extension first, at no age
    {"tmp/thumbs.db", CAT_THUMBNAIL_CACHE},
    {"tmp/.x0-lock", kNoCategory},
    {"home/me/.old.txt.swp", CAT_TEMP_FILES, kTmpDays},
    {"home/me/.old.txt.swa", CAT_TEMP_FILES, kTmpDays},
    {"home/me/.local/state/nvim/swap/%home%me%notes.txt.swp", CAT_TEMP_FILES, kTmpDays},
    {"home/me/.old.txt.swq", kNoCategory},
    {"home/me/notes.swp", kNoCategory},  // neither hidden nor named after a path
    {"home/me/movie.swf", kNoCategory},
    {"home/me/temp/thesis.odt", kNoCategory},
    {"home/me/.cache/mozilla/firefox/ab12.default-release/cache2/entries/e1",
     CAT_TEMP_INTERNET_FILES},
    {"home/me/.cache/mozilla/firefox/ab12.default-release/startupcache/s.bin",
     CAT_TEMP_INTERNET_FILES},
    {"home/me/.cache/mozilla/firefox/ab12.default-release/sessionstore.jsonlz4", kNoCategory},
    {"home/me/.cache/google-chrome/default/cache/cache_data/f_000001", CAT_TEMP_INTERNET_FILES},
    {"home/me/.cache/chromium/profile 1/code cache/js/index", CAT_TEMP_INTERNET_FILES},
    {"home/me/.cache/bravesoftware/brave-browser/default/gpucache/data_0", CAT_TEMP_INTERNET_FILES},
    {"home/me/.var/app/org.mozilla.firefox/cache/mozilla/firefox/p.default/cache2/e",
     CAT_TEMP_INTERNET_FILES},
    {"home/me/.cache/google-chrome/default/cache/stdafx.pch", CAT_TEMP_INTERNET_FILES},
    {"home/me/.cache/other-app/cache/data.bin", kNoCategory},
    {"home/me/.config/google-chrome/default/cookies", kNoCategory},
    {"home/me/src/parser.h.gch", CAT_PRECOMPILED_HEADERS},
    {"home/me/src/stdafx.pch", CAT_PRECOMPILED_HEADERS},
    {"home/me/src/winhelp.gid", kNoCategory},
    {"home/me/.local/share/recently-used.xbel", CAT_RECENT_DOCUMENTS},
    {"home/me/.local/share/recentdocuments/letter.odt.desktop", CAT_RECENT_DOCUMENTS},
    {"home/me/.local/share/recentdocuments/.desktop", kNoCategory},
    {"home/me/.local/share/trash/files/recently-used.xbel", kNoCategory},
    {"home/me/recently-used.xbel", kNoCategory},
    {"home/me/.cache/thumbnails/normal/0a1b.png", CAT_THUMBNAIL_CACHE},
    {"home/me/.cache/thumbnails/fail/x.tmp", CAT_TEMP_FILES},
    {"home/me/.thumbnails/large/2c3d.png", CAT_THUMBNAIL_CACHE},
    {"home/me/pictures/thumbs.db", CAT_THUMBNAIL_CACHE},
    {"home/me/pictures/thumbs.db.bak", kNoCategory},
};

// The examples of `examples` that the rules take into a category.
inline std::vector<RuleExample> TakenExamples(std::span<const RuleExample> examples) {
    std::vector<RuleExample> out;
    for (const RuleExample& e : examples) {
        if (e.category != kNoCategory) {
            out.push_back(e);
        }
    }
    return out;
}

// The directory part of `path`, up to and with its last `separator`, and the name after it.
inline std::pair<std::string_view, std::string_view> SplitName(std::string_view path,
                                                               char separator) {
    const std::size_t at = path.rfind(separator) + 1;  // 0 without a separator
    return {path.substr(0, at), path.substr(at)};
}

// `lowerName` in the cases a disk may hold it: as it is, in capitals, and with every other letter
// a capital.
inline std::vector<std::string> CaseVariants(std::string_view lowerName) {
    std::vector<std::string> out(3, std::string(lowerName));
    bool raise = true;
    for (std::size_t i = 0; i < lowerName.size(); ++i) {
        const char c = lowerName[i];
        if (c >= 'a' && c <= 'z') {
            const char upper = static_cast<char>(c - 'a' + 'A');
            out[1][i] = upper;
            out[2][i] = raise ? upper : c;
            raise = !raise;
        }
    }
    return out;
}

}  // namespace clearnook::testing
