#include "ui/recorded_files.h"

#include "platform/fs_services.h"

namespace clearnook {

std::vector<RecordedFile> ListRecordedFiles(const CategoryResults& results, int category) {
    std::vector<RecordedFile> files;
    if (category < 0 || category >= CATEGORY_COUNT) {
        return files;
    }
    const std::vector<FoundFile>& list = results.lists[static_cast<std::size_t>(category)];
    files.reserve(list.size());
    for (const FoundFile& found : list) {
        std::string path = results.PathOf(found);
        std::optional<std::uint64_t> size = platform::FileSizeNow(path);
        files.push_back({std::move(path), size});
    }
    return files;
}

}  // namespace clearnook
