// The types the walk and the delete pass share across the platform seam, the path helpers, and
// the small file-system services. This header names no OS type, so the engine stays portable;
// each capability has a header of its own (directory_stack.h, recorded_file_remover.h, and where
// the walk runs on several threads read_ahead_support.h), each OS its .cpp files behind them, and
// os_traits.h (one per OS, picked by CMake) the constants that differ.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "os_traits.h"

namespace clearnook::platform {

// What a directory entry is, as far as the walk cares.
enum class EntryType : std::uint8_t {
    Directory,  // descended into, never classified
    File,       // regular file or symbolic link: classified
    Other,      // device, FIFO, socket: ignored
    HandedOff,  // a directory handed to another walker (DirectoryStack::HandOffLaterDirectory)
};

// The identity of a file on its file system. The delete pass compares it with what is on disk
// just before removing, so that it never removes a file the scan did not see. Zero where the
// platform does not give one.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // For a file the walk recorded: when it was born, in nanoseconds since the epoch, or when it
    // last changed where the file system keeps no birth time (on Windows its creation time, in
    // the system's 100-nanosecond units since 1601). A file system hands the inode number of a
    // deleted file to the next file it creates, so device and inode alone could name a file made
    // after the scan. Zero for directories, whose identity is checked while the walk or the
    // delete pass holds them.
    std::uint64_t birthTime = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;

    // The birth time of a file the walk cannot tell from one made after it under its name: a
    // file system with neither birth time nor a change time before the second the walk read it
    // (ext2, ext3, ext4 with 128-byte inodes count in whole seconds and hand a freed inode to the
    // next file). Such a file is never removed.
    static constexpr std::uint64_t kUnverifiable = ~std::uint64_t{0};
};

// The identity of the directory a walk started from and of the mount it was opened on. The
// delete pass removes nothing unless the root is still that directory on that very mount: a
// block-level copy of the file system mounted in its place has the same device, inodes and
// birth times, but not the same mount.
struct RootIdentity {
    FileIdentity directory;
    // Where the kernel tells (Linux 6.8): the mount's id, unique while the machine runs; else
    // its id among the mounts of the moment; zero where there is none (Windows).
    std::uint64_t mount = 0;
    friend bool operator==(const RootIdentity&, const RootIdentity&) = default;
};

struct FileInfo {
    std::uint64_t size = 0;  // bytes; a symbolic link's own size, never its target's
    FileIdentity identity;
    // The latest of its access, modification, change and birth times, in nanoseconds since the
    // epoch: how long the file has been left alone. Zero where the platform does not tell.
    std::uint64_t newestTime = 0;
};

// The tag of a file the stack did not put to its EntryExaminer (no examiner, a type learnt only
// later, a platform that does not examine): the walk decides about it itself.
inline constexpr std::uint8_t kUnexamined = 0xFF;

// One entry of the directory on top of a DirectoryStack. `name` stays valid until the next call
// that changes the stack (EnterChild, Leave).
struct DirEntry {
    std::string_view name;
    EntryType type = EntryType::Other;
    // For a file: the tag the stack's examiner gave it when the listing was read, or
    // kUnexamined. (A file the examiner did not tag is never an entry.)
    std::uint8_t tag = kUnexamined;
};

// True when the directory `root` lies on a file system Windows owns (NTFS, FAT, exFAT), whose
// tree the Windows rules classify. Always true on Windows.
[[nodiscard]] bool IsWindowsFileSystem(const std::string& root);

// True when `path` names a directory this process can list. On Windows, as for a walk, a path
// of 256 characters or more cannot be listed (its pattern path + "\\*.*" exceeds MAX_PATH).
[[nodiscard]] bool IsListableDirectory(const std::string& path);

// The size of the file `path` now, in bytes, not following a link in its last component (a
// symbolic link's own size, as the walk counts it). Empty when there is no such file. For showing
// recorded files long after the walk read them. Any thread.
[[nodiscard]] std::optional<std::uint64_t> FileSizeNow(const std::string& path);

// Appends `name` in the form classification compares, every byte in its place: on Linux ASCII
// A-Z lowered; on Windows the ANSI code page's lowering, where a double-byte character's two
// bytes are kept as they are. Any thread.
void AppendLowered(std::string& out, std::string_view name);

// The system's text for an error code of DirectoryStack::LastError or ListingError. Any thread.
[[nodiscard]] std::string ErrorText(int error);

// True when the last character of `path`, not merely its last byte, is the separator.
[[nodiscard]] inline bool EndsWithPathSeparator(std::string_view path) {
    return !path.empty() && path.back() == kPathSeparator && StartsCharacter(path, path.size() - 1);
}

// Appends the component `name` to `path`, with a separator between them unless `path` ends with
// one already (a root such as "/" or "C:\").
inline void AppendPathComponent(std::string& path, std::string_view name) {
    if (!EndsWithPathSeparator(path)) {
        path.push_back(kPathSeparator);
    }
    path.append(name);
}

}  // namespace clearnook::platform
