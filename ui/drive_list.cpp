#include "ui/drive_list.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>

namespace clearnook {
namespace {

// Drive letters run from A to Z: mask bits past Z name no drive.
constexpr int kDriveLetters = 26;

// "%s [%s]": the name, a blank, the label in square brackets.
std::string LabelledText(const std::string& name, const std::string& label) {
    return name + " [" + label + "]";
}

}  // namespace

std::vector<DriveEntry> ListDriveEntries(platform::LogicalDrives& drives) {
    std::vector<DriveEntry> entries;
    std::uint32_t mask = drives.DriveMask();
    std::array<char, kVolumeLabelBufferSize> label{};
    for (int i = 0; i < kDriveLetters && mask != 0; ++i, mask >>= 1) {
        if ((mask & 1u) == 0) {
            continue;
        }
        const std::string name{static_cast<char>('A' + i), ':'};
        label.fill('\0');
        DriveEntry entry;
        entry.scanRoot = name;
        entry.text = name;
        if (drives.VolumeLabel(name, label) && label[0] != '\0') {
            // A label that fills the buffer without its NUL is cut at the buffer's end.
            auto* const end = std::find(label.begin(), label.end(), '\0');
            entry.text = LabelledText(name, std::string(label.begin(), end));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<DriveEntry> ListMountEntries(const std::vector<platform::MountedVolume>& volumes) {
    std::vector<DriveEntry> entries;
    entries.reserve(volumes.size());
    for (const platform::MountedVolume& volume : volumes) {
        DriveEntry entry;
        entry.scanRoot = volume.mountPath;
        entry.text =
            volume.label.empty() ? volume.mountPath : LabelledText(volume.mountPath, volume.label);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<DriveEntry> ListHomeAndMountEntries(
    const std::optional<std::string>& home, const std::vector<platform::MountedVolume>& volumes) {
    std::vector<DriveEntry> entries;
    if (home) {
        entries.push_back({std::string(kHomeEntryText), *home});
    }
    std::vector<DriveEntry> mounts = ListMountEntries(volumes);
    entries.insert(entries.end(), std::make_move_iterator(mounts.begin()),
                   std::make_move_iterator(mounts.end()));
    return entries;
}

const std::string& ScanRootOf(const DriveEntry& entry) {
    return entry.scanRoot;
}

void FillDriveList(DriveBox& box, const std::vector<DriveEntry>& entries) {
    for (const DriveEntry& entry : entries) {
        box.AddDriveText(entry.text);
    }
    if (!entries.empty()) {
        box.SelectDriveEntry(0);
    }
}

}  // namespace clearnook
