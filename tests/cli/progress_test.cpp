#include "cli/progress.h"

#include <gtest/gtest.h>

namespace clearnook::cli {
namespace {

struct ProgressCase {
    const char* label;
    WalkCounts counts;
    std::optional<std::uint64_t> usedInodes;
    std::size_t width;
    std::string line;
};

void PrintTo(const ProgressCase& c, std::ostream* os) {
    *os << c.label;
}

class ProgressLineTest : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(ProgressLineTest, ShowsCountsRateAndAnHonestPercentage) {
    const ProgressCase& c = GetParam();
    EXPECT_EQ(ProgressLine(c.counts, c.usedInodes, "/home/a\x1b", c.width), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressLineTest,
    ::testing::Values(ProgressCase{"no_filesystem_count",
                                   {1234567, 1000, 2.0},
                                   std::nullopt,
                                   200,
                                   "1,234,567 entries, 1,000 directories, 617,283/s  /home/a?"},
                      ProgressCase{"part_of_the_filesystem",
                                   {250, 3, 1.0},
                                   1000,
                                   200,
                                   "[25%] 250 entries, 3 directories, 250/s  /home/a?"},
                      // hard links give more names than inodes: never 100% before the end
                      ProgressCase{"more_names_than_inodes",
                                   {1500, 3, 1.0},
                                   1000,
                                   200,
                                   "[99%] 1,500 entries, 3 directories, 1,500/s  /home/a?"},
                      ProgressCase{"no_rate_at_the_start",
                                   {5, 1, 0.01},
                                   std::nullopt,
                                   200,
                                   "5 entries, 1 directory  /home/a?"},
                      ProgressCase{
                          "cut_to_the_terminal", {5, 1, 0.01}, std::nullopt, 11, "5 entries,"}),
    [](const auto& p) { return std::string(p.param.label); });

// A path too long for the line loses its start: the end is the part that changes.
TEST(ProgressTest, KeepsTheEndOfALongPath) {
    EXPECT_EQ(
        ProgressLine({5, 1, 0.01}, std::nullopt, "/home/" + std::string(99, 'a') + "/last", 40),
        "5 entries, 1 directory  ...aaaaaaa/last");
}

TEST(ProgressTest, SummarySaysWhatWasWalkedAndHowLong) {
    EXPECT_EQ(SummaryLine({1234, 56, 1.244}),
              "clearnook-cli: 1,234 entries in 56 directories walked in 1.24 s");
    EXPECT_EQ(SummaryLine({0, 1, 75.04}),
              "clearnook-cli: 0 entries in 1 directory walked in 75.0 s");
    EXPECT_EQ(Thousands(0), "0");
    EXPECT_EQ(Thousands(999), "999");
    EXPECT_EQ(Thousands(1000), "1,000");
}

}  // namespace
}  // namespace clearnook::cli
