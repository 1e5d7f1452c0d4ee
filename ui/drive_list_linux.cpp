// The drive box of Linux: the user's home folder, then the mounted filesystems.
#include <optional>
#include <vector>

#include "platform/drives_linux.h"
#include "ui/drive_list.h"

namespace clearnook {

std::vector<DriveEntry> ListDriveEntries() {
    const std::optional<std::vector<platform::MountedVolume>> volumes =
        platform::ListMountedVolumes();
    return ListHomeAndMountEntries(platform::HomeDirectory(),
                                   volumes.value_or(std::vector<platform::MountedVolume>{}));
}

}  // namespace clearnook
