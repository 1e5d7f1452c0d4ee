#include "engine/linux_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tests/support/rule_examples.h"

namespace clearnook {
namespace {

using testing::kNoCategory;
using testing::RuleExample;

// The place of the directory `dir` ("a/b/", lowered) below a walk's root, entered one directory
// at a time as the walk enters it.
LinuxPlace PlaceOf(std::string_view dir) {
    LinuxPlace place;
    for (std::size_t slash = dir.find('/'); slash != std::string_view::npos;
         slash = dir.find('/')) {
        place = EnterLinuxPlace(place, dir.substr(0, slash));
        dir.remove_prefix(slash + 1);
    }
    return place;
}

class ClassifyLinuxTest : public ::testing::TestWithParam<RuleExample> {};

TEST_P(ClassifyLinuxTest, FollowsTheRulesInOrder) {
    const auto [dir, name] = testing::SplitName(GetParam().path, '/');
    const Verdict v = ClassifyLinux(PlaceOf(dir), name);
    EXPECT_EQ(v.matched ? static_cast<int>(v.category) : kNoCategory, GetParam().category);
    EXPECT_EQ(v.olderThanDays, GetParam().days);
}

INSTANTIATE_TEST_SUITE_P(Rules, ClassifyLinuxTest,
                         ::testing::ValuesIn(testing::kLinuxRuleExamples));

// The walk puts to the rules only the names LinuxNameMayHaveCategory lets through, as the disk
// holds them: a name the rules take must get through in any case, or its file is never found.
class LinuxNameMayHaveCategoryTest : public ::testing::TestWithParam<RuleExample> {};

TEST_P(LinuxNameMayHaveCategoryTest, LetsThroughEveryNameTheRulesTake) {
    const auto [dir, name] = testing::SplitName(GetParam().path, '/');
    const LinuxPlace place = PlaceOf(dir);
    for (const std::string& onDisk : testing::CaseVariants(name)) {
        EXPECT_TRUE(LinuxNameMayHaveCategory(place, onDisk)) << dir << onDisk;
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, LinuxNameMayHaveCategoryTest,
                         ::testing::ValuesIn(testing::TakenExamples(testing::kLinuxRuleExamples)));

}  // namespace
}  // namespace clearnook
