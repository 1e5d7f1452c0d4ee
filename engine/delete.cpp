#include "engine/delete.h"

#include <cassert>
#include <limits>

#include "platform/fs_services.h"

namespace clearnook {
namespace {

class PlatformDeleter final : public FileDeleter {
public:
    PlatformDeleter(const std::string& root, const platform::FileIdentity& rootIdentity)
        : m_remover(root, rootIdentity) {}

    bool Delete(const FoundFile& file) override {
        return m_remover.Remove(file.path, file.identity) == platform::RemoveResult::Removed;
    }

private:
    platform::RecordedFileRemover m_remover;
};

}  // namespace

std::string ComposeDeleteReport(std::int32_t removed, bool anyFailed) {
    std::string text(kDeleteReportFormat);
    text.replace(text.find("%d"), 2, std::to_string(removed));
    if (anyFailed) {
        text += kDeleteFailureNote;
    }
    return text;
}

DeleteReport RunDeletePass(std::span<const int> ticked,
                           const std::array<std::vector<FoundFile>, CATEGORY_COUNT>& lists,
                           FileDeleter& deleter) {
    DeleteReport report;
    for (const int c : ticked) {
        assert(c >= 0 && c < CATEGORY_COUNT);
        if (c < 0 || c >= CATEGORY_COUNT) {
            continue;
        }
        for (const FoundFile& file : lists[static_cast<std::size_t>(c)]) {
            if (!deleter.Delete(file)) {
                report.anyFailed = true;
            } else if (report.removed < std::numeric_limits<std::int32_t>::max()) {
                // The report counts in 32 bits; past two billion files it stops counting.
                ++report.removed;
            }
        }
    }
    report.text = ComposeDeleteReport(report.removed, report.anyFailed);
    return report;
}

DeleteReport RunDeletePass(std::span<const int> ticked, const CategoryResults& results,
                           const std::string& root) {
    PlatformDeleter deleter(root, results.rootIdentity);
    return RunDeletePass(ticked, results.lists, deleter);
}

}  // namespace clearnook
