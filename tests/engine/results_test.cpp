#include "engine/results.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace clearnook {
namespace {

struct SizeCase {
    std::uint64_t total;
    const char* text;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.text;
}

class FormatSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FormatSizeTest, PicksTheTierByDecimalThresholdsAndDividesByPowersOf1024) {
    EXPECT_EQ(FormatSize(GetParam().total), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Tiers, FormatSizeTest,
    ::testing::Values(SizeCase{0, "0 bytes"}, SizeCase{1, "1 bytes"}, SizeCase{1024, "1024 bytes"},
                      SizeCase{1025, "1.00 KB"}, SizeCase{1500, "1.46 KB"},
                      SizeCase{1000000, "976.56 KB"}, SizeCase{1000001, "0.95 MB"},
                      SizeCase{1048576, "1.00 MB"}, SizeCase{1000000000, "953.67 MB"},
                      SizeCase{1000000001, "0.93 GB"}, SizeCase{2147483648u, "2.00 GB"},
                      SizeCase{4294967295u, "4.00 GB"},
                      // past 32 bits a total keeps counting instead of wrapping
                      SizeCase{4294967296u, "4.00 GB"}, SizeCase{5368709120u, "5.00 GB"},
                      SizeCase{1099511627776u, "1024.00 GB"}));

// Records the list operations in the order they arrive.
class RecordingList : public ResultListView {
  public:
    std::vector<std::string> ops;
    void DeleteAllItems() override { ops.push_back("clear"); }
    void InsertItem(int row, std::string_view text, int image) override {
        ops.push_back("insert " + std::to_string(row) + " " + std::string(text) + " image " +
                      std::to_string(image));
    }
    void SetItemText(int row, int column, std::string_view text) override {
        ops.push_back("text " + std::to_string(row) + "," + std::to_string(column) + " " +
                      std::string(text));
    }
    void SetItemData(int row, int data) override {
        ops.push_back("data " + std::to_string(row) + " " + std::to_string(data));
    }
};

TEST(ResultRowsTest, ZeroTotalsHaveNoRowAndGapsCloseUp) {
    RecordingList list;
    RebuildResultList(list, {0, 5000, 0, 0, 0, 20480});
    const std::vector<std::string> expected = {
        "clear",    "insert 0 Temporary Internet Files image 1", "text 0,1 4.88 KB",
        "data 0 1", "insert 1 Thumbnail Cache image 5",          "text 1,1 20.00 KB",
        "data 1 5",
    };
    EXPECT_EQ(list.ops, expected);
}

TEST(ResultRowsTest, AllZeroEmptiesTheList) {
    RecordingList list;
    RebuildResultList(list, {});
    EXPECT_EQ(list.ops, std::vector<std::string>{"clear"});
    EXPECT_TRUE(BuildResultRows({}).empty());
}

TEST(ResultRowsTest, EveryCategoryInOrder) {
    CategoryTotals totals{};
    for (std::size_t c = 0; c < totals.size(); ++c) {
        totals[c] = c + 1;
    }
    const std::vector<ResultRow> rows = BuildResultRows(totals);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(CATEGORY_COUNT));
    for (int i = 0; i < CATEGORY_COUNT; ++i) {
        const ResultRow& r = rows[static_cast<std::size_t>(i)];
        EXPECT_EQ(r.row, i);
        EXPECT_EQ(r.category, i);
        EXPECT_EQ(r.image, i);
        EXPECT_EQ(r.name, CategoryName(i));
        EXPECT_EQ(r.size, std::to_string(i + 1) + " bytes");
    }
}

}  // namespace
}  // namespace clearnook
