#include "engine/categories.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

namespace clearnook {
namespace {

constexpr int kNone = -1;

int Classify(const std::string& path) {
    const std::size_t slash = path.rfind('\\');
    const auto c = ClassifyFile(path, path.substr(slash + 1));
    return c ? static_cast<int>(*c) : kNone;
}

struct Case {
    const char* path;
    int expected;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.path;
}

class ClassifyFileTest : public ::testing::TestWithParam<Case> {};

TEST_P(ClassifyFileTest, FollowsTheRuleChainInOrder) {
    EXPECT_EQ(Classify(GetParam().path), GetParam().expected) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ClassifyFileTest,
    ::testing::Values(
        Case{"c:\\windows\\temp\\setup.log", CAT_TEMP_FILES},
        Case{"c:\\data\\report.tmp", CAT_TEMP_FILES}, Case{"c:\\data\\doc.swp", CAT_TEMP_FILES},
        Case{"c:\\data\\archive.tar.tmp", CAT_TEMP_FILES}, Case{"c:\\data\\.swp", CAT_TEMP_FILES},
        // rule 3 comes before the extension rules 5 to 8
        Case{"c:\\windows\\temp\\x\\app.pch", CAT_TEMP_FILES},
        Case{"c:\\temp\\thumbs.db", CAT_TEMP_FILES},
        Case{"c:\\temp\\r\\recent\\a.lnk", CAT_TEMP_FILES},
        // "\temp\" needs its trailing backslash
        Case{"c:\\temporary\\a.txt", kNone}, Case{"c:\\mytemp\\a.txt", kNone},
        Case{"c:\\temp", kNone},
        Case{"c:\\documents and settings\\u\\local settings\\temporary internet files\\"
             "content.ie5\\ab12\\page.htm",
             CAT_TEMP_INTERNET_FILES},
        Case{"c:\\documents and settings\\u\\local settings\\temporary internet files\\"
             "content.ie5\\ab12\\cache.tmp",
             CAT_TEMP_FILES},
        Case{"c:\\u\\temporary internet files\\content.ie5\\index.dat", CAT_TEMP_INTERNET_FILES},
        // directly in the cache folder, or with a folder between: not rule 4
        Case{"c:\\u\\temporary internet files\\page.htm", kNone},
        Case{"c:\\u\\temporary internet files\\x\\content.ie5\\page.htm", kNone},
        Case{"c:\\windows\\help\\system.gid", CAT_HELP_SUPPORT_FILES},
        Case{"c:\\src\\build\\app.pch", CAT_PRECOMPILED_HEADERS},
        Case{"c:\\documents and settings\\u\\recent\\letter.lnk", CAT_RECENT_DOCUMENTS},
        Case{"c:\\documents and settings\\u\\desktop\\letter.lnk", kNone},
        Case{"c:\\documents and settings\\u\\recent\\index.dat", kNone},
        Case{"c:\\u\\recent\\deeper\\letter.lnk", CAT_RECENT_DOCUMENTS},
        Case{"c:\\u\\recent\\system.gid", CAT_HELP_SUPPORT_FILES},
        Case{"c:\\photos\\thumbs.db", CAT_THUMBNAIL_CACHE},
        Case{"c:\\photos\\thumbs.db.bak", kNone}, Case{"c:\\photos\\xthumbs.db", kNone},
        Case{"c:\\recent\\thumbs.db", CAT_THUMBNAIL_CACHE}, Case{"c:\\data\\tmp", kNone},
        Case{"c:\\data\\readme.", kNone}, Case{"c:\\data\\a.tmp.txt", kNone},
        Case{"c:\\data\\a.tmpx", kNone},
        // the caller lowers; ClassifyFile never does
        Case{"c:\\data\\report.TMP", kNone}, Case{"c:\\Temp\\a.txt", kNone}));

TEST(ClassifyFileTest, MarkersHeldByADirectoryPredictTheWholePath) {
    // The walk computes markers per directory and extends them per level; that must agree with a
    // search of the whole path, also when a marker straddles the parent's part and the child's.
    const std::string parts[] = {
        "c:", "x", "temporary internet files", "content.ie5", "temp", "recent", "te", "mp", "a"};
    for (const std::string& a : parts) {
        for (const std::string& b : parts) {
            for (const std::string& c : parts) {
                const std::string parent = a + "\\" + b + "\\";
                const std::string child = parent + c + "\\";
                const PathMarkers whole = FindPathMarkers(child);
                const PathMarkers extended =
                    ExtendPathMarkers(FindPathMarkers(parent), child, parent.size());
                EXPECT_EQ(whole, extended) << child;
            }
        }
    }
}

TEST(CategoryTablesTest, NamesKeysAndDescriptionsInCategoryOrder) {
    const char* names[] = {"Temporary Files",       "Temporary Internet Files",
                           "Help Support Files",    "Pre-Compiled Header Files",
                           "Recent Documents List", "Thumbnail Cache"};
    const char* keys[] = {"temp", "internet", "help", "pch", "recent", "thumbs"};
    // A category added to the table must be added here too, not read past these arrays' end.
    ASSERT_EQ(std::size(names), static_cast<std::size_t>(CATEGORY_COUNT));
    ASSERT_EQ(std::size(keys), static_cast<std::size_t>(CATEGORY_COUNT));
    for (int i = 0; i < CATEGORY_COUNT; ++i) {
        EXPECT_STREQ(CategoryName(i), names[i]);
        EXPECT_STREQ(CategoryKey(i), keys[i]);
    }
    EXPECT_STREQ(CategoryDescription(CAT_RECENT_DOCUMENTS),
                 "This contains shortcuts to recently opened documents and can be safely deleted.");
    EXPECT_STREQ(CategoryDescription(CAT_PRECOMPILED_HEADERS),
                 "Pre-compiled header files are created during program compilation and are no "
                 "longer required after the program has been compiled. These files generally take "
                 "up a lot of space and are safe to delete.");
}

}  // namespace
}  // namespace clearnook
