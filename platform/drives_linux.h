// The drives of Linux: the user's home folder and the mounted filesystems of the mount table
// (libmount), labelled through libblkid, and what else the mount table tells about a tree to
// scan. Linux files only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/drives.h"

namespace clearnook::platform {

// Reads the filesystem label of the device or image file `source` (a path). Empty when there is
// no label or it cannot be read. Any thread.
using VolumeLabelReader = std::function<std::optional<std::string>(const std::string& source)>;

// The filesystem label of `source` through libblkid, for block devices and image files only
// (other kinds of file are never opened). Empty when there is none or it cannot be read, which
// for a user without read access to the device is the usual case. Any thread.
[[nodiscard]] std::optional<std::string> ReadVolumeLabel(const std::string& source);

// The mounted filesystems of the mount table in `tableFile` (mountinfo or fstab format, as
// libmount reads them): pseudo and memory filesystems left out, one entry per mount path (the
// mount made last at a path is the one seen there), in path order, so "/" comes first. Path
// order compares component by component: "/a" and "/a/x" come before "/a b". Each entry's label
// comes from `labelOf`, asked only for sources that are paths. Empty when the table cannot be
// read; lines libmount cannot parse are skipped.
[[nodiscard]] std::optional<std::vector<MountedVolume>> ListMountedVolumes(
    const std::string& tableFile, const VolumeLabelReader& labelOf);

// The mounted filesystems of this process's mount namespace, labels through ReadVolumeLabel.
[[nodiscard]] std::optional<std::vector<MountedVolume>> ListMountedVolumes();

// The type the mount table gives the file system `path` lies on ("ext4", "fuseblk"), as a walk
// of `path` sees it; empty when it cannot be told. Any thread.
[[nodiscard]] std::string MountTypeOf(const std::string& path);

// The inodes in use on the filesystem mounted at `path` (statvfs: files less free files), when
// `path` is where a whole filesystem is mounted (not a bind mount of a directory inside one) of
// a type whose inode counts describe its own tree (not an overlay or FUSE). None otherwise, or
// when the filesystem keeps no inode count. For a progress estimate. Any thread.
[[nodiscard]] std::optional<std::uint64_t> UsedInodesOfMountRoot(const std::string& path);

// The user's home folder, which the drive list offers before the mounts: on a machine with one
// partition "/" holds every user's files and the system's. $HOME when it is set and not empty,
// else the home directory of this user's entry in the user database. None when that is not an
// absolute path of a directory this process can list (a $HOME that is set but unusable is not
// second-guessed). Trailing slashes are dropped. UI thread: it reads the environment.
[[nodiscard]] std::optional<std::string> HomeDirectory();

// True for the filesystem types that hold no files of the user's (proc, sysfs, tmpfs...): they
// never appear in the drive list.
[[nodiscard]] bool IsPseudoFilesystem(const std::string& fsType);

}  // namespace clearnook::platform
