#include "engine/categories.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>

#include "tests/support/rule_examples.h"

namespace clearnook {
namespace {

using testing::kNoCategory;
using testing::RuleExample;

int Classify(std::string_view path) {
    const auto [dir, name] = testing::SplitName(path, '\\');
    const auto c = ClassifyFile(path, name);
    return c ? static_cast<int>(*c) : kNoCategory;
}

class ClassifyFileTest : public ::testing::TestWithParam<RuleExample> {};

TEST_P(ClassifyFileTest, FollowsTheRuleChainInOrder) {
    EXPECT_EQ(Classify(GetParam().path), GetParam().category) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(Rules, ClassifyFileTest,
                         ::testing::ValuesIn(testing::kWindowsRuleExamples));

// The walk puts to the rules only the names NameMayHaveCategory lets through, as the disk holds
// them: a name the rules take must get through in any case, or its file is never found.
class NameMayHaveCategoryTest : public ::testing::TestWithParam<RuleExample> {};

TEST_P(NameMayHaveCategoryTest, LetsThroughEveryNameTheRulesTake) {
    const auto [dir, name] = testing::SplitName(GetParam().path, '\\');
    const PathMarkers markers = FindPathMarkers(dir);
    for (const std::string& onDisk : testing::CaseVariants(name)) {
        EXPECT_TRUE(NameMayHaveCategory(markers, onDisk)) << dir << onDisk;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, NameMayHaveCategoryTest,
    ::testing::ValuesIn(testing::TakenExamples(testing::kWindowsRuleExamples)));

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
    static_assert(std::size(names) == std::size(keys));
    // These six keep their places and texts; a category added to the table comes after them.
    ASSERT_GE(CATEGORY_COUNT, static_cast<int>(std::size(names)));
    for (std::size_t i = 0; i < std::size(names); ++i) {
        EXPECT_STREQ(CategoryName(static_cast<int>(i)), names[i]);
        EXPECT_STREQ(CategoryKey(static_cast<int>(i)), keys[i]);
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
