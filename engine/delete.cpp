#include "engine/delete.h"

#include <cassert>
#include <limits>

#include "platform/recorded_file_remover.h"

namespace clearnook {
namespace {

class PlatformDeleter final : public FileDeleter {
  public:
    PlatformDeleter(const std::string& root, const platform::RootIdentity& rootIdentity)
        : m_remover(root, rootIdentity) {}

    bool Delete(const std::string& path, const platform::FileIdentity& identity) override {
        return m_remover.Remove(path, identity) == platform::RemoveResult::Removed;
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

DeleteReport RunDeletePass(std::span<const int> ticked, const CategoryResults& results,
                           FileDeleter& deleter) {
    DeleteReport report;
    std::string path;
    for (const int c : ticked) {
        assert(c >= 0 && c < CATEGORY_COUNT);
        if (c < 0 || c >= CATEGORY_COUNT) {
            continue;
        }
        for (const FoundFile& file : results.lists[static_cast<std::size_t>(c)]) {
            results.PathOf(file, path);
            if (!deleter.Delete(path, file.identity)) {
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
    return RunDeletePass(ticked, results, deleter);
}

}  // namespace clearnook
