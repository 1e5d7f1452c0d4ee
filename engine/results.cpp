#include "engine/results.h"

#include <cinttypes>
#include <cstdio>

namespace clearnook {

CategoryTotals CategoryResults::SnapshotTotals() const {
    CategoryTotals out{};
    for (int c = 0; c < CATEGORY_COUNT; ++c) {
        out[static_cast<std::size_t>(c)] =
            totals[static_cast<std::size_t>(c)].load(std::memory_order_relaxed);
    }
    return out;
}

std::string FormatSize(std::uint64_t total) {
    char buf[64];
    if (total <= 1024) {
        std::snprintf(buf, sizeof buf, "%" PRIu64 " bytes", total);
    } else if (total <= 1000000) {
        std::snprintf(buf, sizeof buf, "%.2f KB", static_cast<double>(total) / 1024.0);
    } else if (total <= 1000000000) {
        std::snprintf(buf, sizeof buf, "%.2f MB", static_cast<double>(total) / 1048576.0);
    } else {
        std::snprintf(buf, sizeof buf, "%.2f GB", static_cast<double>(total) / 1073741824.0);
    }
    return buf;
}

std::vector<ResultRow> BuildResultRows(const CategoryTotals& totals) {
    std::vector<ResultRow> rows;
    for (int c = 0; c < CATEGORY_COUNT; ++c) {
        const std::uint64_t total = totals[static_cast<std::size_t>(c)];
        if (total == 0) {
            continue;
        }
        rows.push_back({static_cast<int>(rows.size()), CategoryName(c), c, FormatSize(total), c});
    }
    return rows;
}

void RebuildResultList(ResultListView& list, const CategoryTotals& totals) {
    list.DeleteAllItems();
    for (const ResultRow& row : BuildResultRows(totals)) {
        list.InsertItem(row.row, row.name, row.image);
        list.SetItemText(row.row, 1, row.size);
        list.SetItemData(row.row, row.category);
    }
}

}  // namespace clearnook
