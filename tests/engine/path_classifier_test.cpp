#include "engine/path_classifier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fs_services.h"

namespace clearnook {
namespace {

constexpr int kNone = -1;
constexpr char kSep = platform::kPathSeparator;
// A marker in the root's own text: it counts only where the root is a drive name.
constexpr int kRootTemp = platform::kClassifyRootText ? CAT_TEMP_FILES : kNone;
// A category made by a backslash inside a name: only where the backslash is the separator.
constexpr int IfBackslashSeparates(int category) {
    return kSep == '\\' ? category : kNone;
}

// ClassifyFile on the whole path, the way the walk would have built it, with its own lowering.
int WholePath(const std::string& dir, const std::string& name) {
    std::string path = dir;
    if (path.empty() || path.back() != kSep) {
        path.push_back(kSep);
    }
    path += name;
    std::string lowerName = name;
    for (char* s : {path.data(), lowerName.data()}) {
        for (; *s != '\0'; ++s) {
            if (*s == kSep) {
                *s = '\\';
            } else if (*s == '\\') {
                *s = '/';  // a character of a name where the separator is the slash
            } else if (*s >= 'A' && *s <= 'Z') {
                *s = static_cast<char>(*s - 'A' + 'a');
            }
        }
    }
    const auto c = ClassifyFile(path, lowerName);
    return c ? static_cast<int>(*c) : kNone;
}

// A walk in steps: "+name" enters a directory, "-" leaves one, anything else is a file, which is
// classified and checked against ClassifyFile on its whole path.
struct Walk {
    const char* label;
    std::string root;
    std::vector<std::string> steps;
    std::vector<int> expected;  // the category of each file step, in order
};

void PrintTo(const Walk& w, std::ostream* os) {
    *os << w.label;
}

class PathClassifierTest : public ::testing::TestWithParam<Walk> {};

TEST_P(PathClassifierTest, AgreesWithClassifyFileOnTheWholePath) {
    const Walk& w = GetParam();
    PathClassifier classifier(w.root);
    // What classification sees of the root: its text, or the neutral prefix in its place.
    std::vector<std::string> dirs = {platform::kClassifyRootText ? w.root : std::string()};
    std::vector<int> got;
    for (const std::string& step : w.steps) {
        if (step.starts_with("+")) {
            classifier.EnterDirectory(step.substr(1));
            std::string d = dirs.back();
            if (d.empty() || d.back() != kSep) {
                d.push_back(kSep);
            }
            dirs.push_back(d + step.substr(1));
        } else if (step == "-") {
            classifier.LeaveDirectory();
            if (dirs.size() > 1) {
                dirs.pop_back();
            }
        } else {
            const Verdict v = classifier.Classify(step);
            got.push_back(v.matched ? static_cast<int>(v.category) : kNone);
            EXPECT_EQ(got.back(), WholePath(dirs.back(), step)) << dirs.back() << " | " << step;
        }
        EXPECT_EQ(classifier.Depth(), dirs.size() - 1);
    }
    EXPECT_EQ(got, w.expected);
}

const std::string S(1, kSep);

INSTANTIATE_TEST_SUITE_P(
    Table, PathClassifierTest,
    ::testing::Values(
        Walk{"markers_hold_below_and_end_on_leaving",
             "r",
             {"+Temp", "a.log", "+Sub", "b.PCH", "-", "-", "c.log", "+Recent", "d.LNK", "-",
              "e.lnk"},
             {CAT_TEMP_FILES, CAT_TEMP_FILES, kNone, CAT_RECENT_DOCUMENTS, kNone}},
        Walk{"internet_cache_needs_both_levels",
             "c:",
             {"+Temporary Internet Files", "x.htm", "+Content.IE5", "+AB12", "page.htm",
              "cache.tmp", "-", "-", "+content.ie5x", "y.htm"},
             {kNone, CAT_TEMP_INTERNET_FILES, CAT_TEMP_FILES, kNone}},
        Walk{"root_marker_with_and_without_a_trailing_separator",
             S + "data" + S + "TEMP" + S,
             {"a", "+x", "b.txt", "-", "+Temp", "c"},
             {kRootTemp, kRootTemp, CAT_TEMP_FILES}},
        Walk{"root_ending_in_temp_has_its_backslash_added", S + "TEMP", {"a"}, {kRootTemp}},
        Walk{"root_spelled_through_a_marker",
             "x" + S + "temp" + S + "..",
             {"a", "+recent", "b.lnk"},
             {kRootTemp, platform::kClassifyRootText ? CAT_TEMP_FILES : CAT_RECENT_DOCUMENTS}},
        Walk{"marker_split_across_parent_and_child",
             "r",
             {"+x", "+Temporary Internet Files", "+Content.IE5", "a", "-", "-", "-",
              "+Temporary Internet FilesX", "+Content.IE5", "b"},
             {CAT_TEMP_INTERNET_FILES, kNone}},
        Walk{"backslashes_in_names_complete_markers_only_as_separators",
             "r",
             {"a\\temp\\b", "+x\\", "temp\\c", "-", "\\recent\\s.lnk", "+te", "mp\\d"},
             {IfBackslashSeparates(CAT_TEMP_FILES), IfBackslashSeparates(CAT_TEMP_FILES),
              IfBackslashSeparates(CAT_RECENT_DOCUMENTS), kNone}},
        Walk{"directory_with_backslashes_sets_markers_only_as_separators",
             "r",
             {"+a\\TEMP", "b", "-", "+\\recent", "c.lnk", "-", "d.lnk"},
             {IfBackslashSeparates(CAT_TEMP_FILES), IfBackslashSeparates(CAT_RECENT_DOCUMENTS),
              kNone}},
        Walk{"extensions_and_names",
             "r",
             {"x.TMP", "x.swp", "help.GID", "a.pch", "Thumbs.DB", "thumbs.db.bak", "readme.", "tmp",
              ".swp"},
             {CAT_TEMP_FILES, CAT_TEMP_FILES, CAT_HELP_SUPPORT_FILES, CAT_PRECOMPILED_HEADERS,
              CAT_THUMBNAIL_CACHE, kNone, kNone, kNone, CAT_TEMP_FILES}},
        Walk{"leaving_at_the_root_stays_there",
             "r",
             {"-", "-", "+temp", "a", "-", "-", "b"},
             {CAT_TEMP_FILES, kNone}},
        Walk{"odd_bytes_keep_their_place",
             "r",
             {"+\xc3\x89t\xe9", "+Temp", "\xff\xfe", "-", "-", "\x01\n.TMP"},
             {CAT_TEMP_FILES, CAT_TEMP_FILES}}),
    [](const auto& p) { return std::string(p.param.label); });

}  // namespace
}  // namespace clearnook
