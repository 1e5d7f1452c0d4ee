// The drive box: one entry per drive a scan can start from, named by drive letter or mount path
// and, where there is one, the volume label; on Linux the user's home folder comes first.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/drives.h"

namespace clearnook {

// One entry of the drive box. The entry carries its scan root itself: a mount path may contain
// " [", so the root cannot be cut back out of the text.
struct DriveEntry {
    std::string text;      // shown in the drive box: "C:", "C: [SYSTEM]", "~ [Home]", "/",
                           // "/home [DATA]"
    std::string scanRoot;  // what the scan walks: "C:", "/home/me", "/home"
    friend bool operator==(const DriveEntry&, const DriveEntry&) = default;
};

// Size of the buffer every volume label is queried into, terminating NUL included.
inline constexpr std::size_t kVolumeLabelBufferSize = 256;

// The lettered drives of `drives`, in letter order A to Z: each present drive's label is queried
// with a 256-byte buffer, and the entry is "%s [%s]" of name and label when the query succeeds
// with a label that is not empty, else the bare two-character name. Bits past Z are ignored.
[[nodiscard]] std::vector<DriveEntry> ListDriveEntries(platform::LogicalDrives& drives);

// The entries of mounted volumes, in the order given: "PATH [LABEL]", or "PATH" when the label is
// empty; the scan root is the mount path.
[[nodiscard]] std::vector<DriveEntry> ListMountEntries(
    const std::vector<platform::MountedVolume>& volumes);

// The text of the home folder's entry. A mount path always begins with '/', so no mount's entry
// reads the same.
inline constexpr std::string_view kHomeEntryText = "~ [Home]";

// The entries of a machine with a home folder and mounts: the home folder's first, when there is
// one (`home`, its path), then those of `volumes` as ListMountEntries gives them. A home that is
// itself a mount point is listed twice: as the home folder, and as the mount.
[[nodiscard]] std::vector<DriveEntry> ListHomeAndMountEntries(
    const std::optional<std::string>& home, const std::vector<platform::MountedVolume>& volumes);

// The drives of this machine: lettered drives on Windows; on Linux the user's home folder, then
// the mounted filesystems. Each system defines it in a file of its own (drive_list_linux.cpp,
// drive_list_win32.cpp) over its platform calls. Empty when none can be found. UI thread.
[[nodiscard]] std::vector<DriveEntry> ListDriveEntries();

// Where a window takes its drive box's entries from when it starts: ListDriveEntries, or a
// test's own list. Called once, on the UI thread.
using DriveSource = std::function<std::vector<DriveEntry>()>;

// The scan root of an entry: the drive name for a lettered drive, the mount path for a mount,
// the home directory for the home folder.
[[nodiscard]] const std::string& ScanRootOf(const DriveEntry& entry);

// The drive box control, as the window supplies it: a list of texts, by index, one of them
// selected. The box holds only what it shows; whoever fills it keeps the entries behind the
// texts and maps an index back to its entry. UI thread.
class DriveBox {
  public:
    virtual ~DriveBox() = default;
    // Appends an entry showing `text` at the end (the box does not sort).
    virtual void AddDriveText(std::string_view text) = 0;
    // Selects entry `index`, which exists.
    virtual void SelectDriveEntry(int index) = 0;
    // The index of the entry selected now; none when nothing is selected.
    [[nodiscard]] virtual std::optional<int> SelectedDriveIndex() = 0;
};

// Adds the texts of `entries` to `box` in order and selects the first, if there is one, so that
// index i of the box is entries[i].
void FillDriveList(DriveBox& box, const std::vector<DriveEntry>& entries);

}  // namespace clearnook
