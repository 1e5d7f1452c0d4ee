#include "engine/results.h"

#include <cassert>
#include <cinttypes>
#include <cstdio>

namespace clearnook {

namespace {
constexpr char kSep = platform::kPathSeparator;
}  // namespace

void RecordedDirectories::SetRoot(std::string_view text) {
    m_nodes.clear();
    m_names.assign(text);
    m_nodes.push_back({0, kRoot, static_cast<std::uint32_t>(text.size())});
}

std::uint32_t RecordedDirectories::Add(std::uint32_t parent, std::string_view name) {
    assert(parent < m_nodes.size());
    const auto index = static_cast<std::uint32_t>(m_nodes.size());
    m_nodes.push_back({m_names.size(), parent, static_cast<std::uint32_t>(name.size())});
    m_names.append(name);
    return index;
}

void RecordedDirectories::AppendPath(std::uint32_t directory, std::string& out) const {
    if (m_nodes.empty()) {
        return;
    }
    const Node& root = m_nodes[kRoot];
    out.append(m_names, root.nameAt, root.nameLen);
    const std::size_t from = out.size();
    // Reserve each level's room from the bottom up, then fill it in.
    std::size_t length = 0;
    for (std::uint32_t d = directory; d != kRoot; d = m_nodes[d].parent) {
        length += 1 + m_nodes[d].nameLen;
    }
    out.resize(from + length);
    std::size_t end = out.size();
    for (std::uint32_t d = directory; d != kRoot; d = m_nodes[d].parent) {
        const Node& n = m_nodes[d];
        end -= n.nameLen;
        m_names.copy(out.data() + end, n.nameLen, n.nameAt);
        out[--end] = kSep;
    }
    // A root that ends with a separator ("/", "x/") takes no second one.
    if (length > 0 && platform::EndsWithPathSeparator(std::string_view(out).substr(0, from))) {
        out.erase(from, 1);
    }
}

void CategoryResults::PathOf(const FoundFile& file, std::string& out) const {
    out.clear();
    directories.AppendPath(file.directory, out);
    platform::AppendPathComponent(out, file.name);
}

std::string CategoryResults::PathOf(const FoundFile& file) const {
    std::string out;
    PathOf(file, out);
    return out;
}

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
