// The drives a scan can start from, as the operating system names them. Two forms: Windows has
// lettered logical drives with volume labels; Linux has the user's home folder and the mounted
// filesystems of the mount table with the labels of their devices. This header holds what both
// forms share with the layer above: the drive box text is composed there (ui/drive_list), so
// each form's rules can be tested on any platform with a fake. What only one system can answer
// is declared in drives_linux.h and drives_win32.h, which only that system's files include.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace clearnook::platform {

// Lettered logical drives. Implemented over GetLogicalDrives and GetVolumeInformationA on
// Windows, and by fakes in tests. Called on the UI thread.
class LogicalDrives {
  public:
    virtual ~LogicalDrives() = default;

    // Bit i is set when the drive with letter A + i exists.
    [[nodiscard]] virtual std::uint32_t DriveMask() = 0;

    // Queries the volume label of `driveName` (two characters, a letter and a colon, no trailing
    // backslash) into `labelBuffer` as a NUL-terminated string. False when the query fails (no
    // medium, drive not ready); the buffer's contents are then meaningless.
    [[nodiscard]] virtual bool VolumeLabel(const std::string& driveName,
                                           std::span<char> labelBuffer) = 0;
};

// One mounted filesystem that holds files.
struct MountedVolume {
    std::string mountPath;  // where it is mounted, escapes of the table decoded (\040 -> blank)
    std::string label;      // its filesystem label; empty when it has none or it cannot be read
};

}  // namespace clearnook::platform
