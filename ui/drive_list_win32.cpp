// The drive box of Windows: the lettered drives.
#include <memory>
#include <vector>

#include "platform/drives_win32.h"
#include "ui/drive_list.h"

namespace clearnook {

std::vector<DriveEntry> ListDriveEntries() {
    const std::unique_ptr<platform::LogicalDrives> drives = platform::MakeSystemLogicalDrives();
    return drives ? ListDriveEntries(*drives) : std::vector<DriveEntry>{};
}

}  // namespace clearnook
