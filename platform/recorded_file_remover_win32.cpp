// The Windows remover of recorded files: each file opened by its recorded path without following
// a link in its last component, and that very handle marked for deletion only while it is the
// file the walk saw.
#include <string>

#include "platform/recorded_file_remover.h"
#include "platform/win32_files.h"

namespace clearnook::platform {

using winfs::AttributesOf;
using winfs::LastComponent;
using winfs::TypeOf;
using winfs::OpenItself;
using winfs::IdentityOf;

struct RecordedFileRemover::Impl {};

RecordedFileRemover::RecordedFileRemover(std::string, RootIdentity) {}
RecordedFileRemover::~RecordedFileRemover() = default;

// Deleting by path would remove whatever the path names at that moment, through a junction
// swapped in since the scan too. The file is opened, checked and deleted through one handle.
RemoveResult RecordedFileRemover::Remove(std::string_view path, const FileIdentity& identity) {
    if (identity == FileIdentity{}) {
        return RemoveResult::Changed;  // the scan could not tell which file this was
    }
    const HANDLE h = OpenItself(std::string(path), DELETE);
    if (h == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
                return RemoveResult::Missing;
            default:
                return RemoveResult::Refused;  // in use, access denied, a directory now, ...
        }
    }
    FileIdentity now;
    DWORD attributes = 0;
    RemoveResult result = RemoveResult::Changed;
    if (!IdentityOf(h, now, attributes)) {
        result = RemoveResult::Refused;
    } else if (TypeOf(AttributesOf(attributes, LastComponent(path))) == EntryType::File &&
               now == identity) {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        // Refused for a read-only file, as deleting by path was.
        result = SetFileInformationByHandle(h, FileDispositionInfo, &disposition,
                                            sizeof disposition) != 0
                     ? RemoveResult::Removed
                     : RemoveResult::Refused;
    }
    CloseHandle(h);  // the file goes with its last handle
    return result;
}

}  // namespace clearnook::platform
