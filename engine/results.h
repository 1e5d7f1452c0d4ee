// What a scan found, and how its totals become the rows of the result list.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/categories.h"
#include "platform/fs_services.h"

namespace clearnook {

// The directories that hold recorded files, each kept once as its parent and its name, so that
// a deep tree costs a name per directory, not a whole path per file. Directory 0 is the root,
// whose name is the root's text. Written by the walk only; read once the walk is over.
class RecordedDirectories {
  public:
    static constexpr std::uint32_t kRoot = 0;

    // Starts over with the root `text` alone.
    void SetRoot(std::string_view text);

    // Adds the directory `name` (one component) of `parent` and returns its index.
    [[nodiscard]] std::uint32_t Add(std::uint32_t parent, std::string_view name);

    // Appends the path of `directory` to `out`: the root's text, then each name down to it, a
    // separator before each name unless the text already ends with one.
    void AppendPath(std::uint32_t directory, std::string& out) const;

    [[nodiscard]] std::size_t Count() const { return m_nodes.size(); }

  private:
    struct Node {
        std::size_t nameAt;
        std::uint32_t parent;
        std::uint32_t nameLen;
    };
    std::vector<Node> m_nodes;
    std::string m_names;
};

// One file the walk recorded: the directory it lies in and its name as enumerated (on Windows
// both lower-cased, which names the same file there), and its identity when it was seen. Its path
// is CategoryResults::PathOf: what the lists show and the delete pass removes.
struct FoundFile {
    std::uint32_t directory = RecordedDirectories::kRoot;
    std::string name;
    platform::FileIdentity identity;
};

// Byte totals per category, 64-bit: a single file of 4 GiB must not vanish from its row.
using CategoryTotals = std::array<std::uint64_t, CATEGORY_COUNT>;

// A path list and a byte total per category, indexed by category. The scan worker is the only
// writer. Totals may be read by any thread at any time; the lists only after the completion flag
// has been seen (ScanState::m_bScanDone).
struct CategoryResults {
    std::array<std::vector<FoundFile>, CATEGORY_COUNT> lists;
    RecordedDirectories directories;  // of the files in `lists`
    std::array<std::atomic<std::uint64_t>, CATEGORY_COUNT> totals{};
    // The identity of the directory the walk started from and of its mount (zero when it could
    // not be opened). The recorded paths mean something only under that very directory on that
    // very mount; published like the lists.
    platform::RootIdentity rootIdentity;
    // The rules that classified the tree (at its root; a Wine prefix's drive_c below a Linux
    // root has the Windows rules). Set before the walk begins.
    RuleSet rules = RuleSet::Windows;
    // Directories the walk could not open or could not list to the end: what lies in them is
    // missing from the lists. The first one's path (as enumerated) and the system's reason are
    // kept for a report. Published like the lists.
    std::uint64_t unreadableDirectories = 0;
    std::string firstUnreadable;
    std::string firstUnreadableReason;

    [[nodiscard]] CategoryTotals SnapshotTotals() const;

    // The path of a recorded file: the root as the walk was given it (on Windows lower-cased),
    // the directories below it, the name.
    [[nodiscard]] std::string PathOf(const FoundFile& file) const;
    // The same, into `out` (emptied first): for a caller going through many files.
    void PathOf(const FoundFile& file, std::string& out) const;
};

// One row of the result list.
struct ResultRow {
    int row = 0;       // consecutive from 0
    std::string name;  // column 0: the category name
    int image = 0;     // image-list position: the category index
    std::string size;  // column 1: FormatSize of the total
    int category = 0;  // item data: the category index
};

// The size text of a byte total: "N bytes" up to 1,024, then KB, MB, GB chosen by decimal
// thresholds (1,000,000 and 1,000,000,000) but divided by powers of 1,024, two decimals.
[[nodiscard]] std::string FormatSize(std::uint64_t total);

// The rows for `totals`, in category order, categories with a zero total left out.
[[nodiscard]] std::vector<ResultRow> BuildResultRows(const CategoryTotals& totals);

// The operations of the window's result list that the engine uses. Implemented by each front
// end; called on the UI thread.
class ResultListView {
  public:
    virtual ~ResultListView() = default;
    virtual void DeleteAllItems() = 0;
    virtual void InsertItem(int row, std::string_view text, int image) = 0;
    virtual void SetItemText(int row, int column, std::string_view text) = 0;
    virtual void SetItemData(int row, int data) = 0;
};

// Empties `list` and fills it with BuildResultRows(totals): for each row, insert it with text and
// image, set column 1, set the item data.
void RebuildResultList(ResultListView& list, const CategoryTotals& totals);

}  // namespace clearnook
