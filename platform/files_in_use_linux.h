// Which files other processes hold open: what the Linux delete pass keeps, as Windows itself
// refuses to delete a file a running program has open. Linux only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace clearnook::platform {

// The regular files that processes other than this one hold open, through a descriptor or a
// memory mapping, as one sweep of /proc finds them: each process's fd directory (every entry
// stat'ed, so a file is known by device and inode whatever name it was opened by) and its maps.
// Processes whose entries cannot be read are skipped: for a user without privileges, those of
// other users; processes of other PID namespaces, or hidden by the mount's hidepid option, are
// never seen. A file opened after the sweep is not in it. Linux.
class FilesInUse {
  public:
    // What one sweep went through.
    struct Counts {
        std::size_t processes = 0;    // processes found in /proc, this one left out
        std::size_t readable = 0;     // of those, the ones whose descriptors could be read
        std::size_t descriptors = 0;  // descriptors looked at
        std::size_t mappedFiles = 0;  // file mappings read from maps
    };

    // Sweeps /proc now. Empty when /proc cannot be read: then no file is known to be in use.
    [[nodiscard]] static FilesInUse Gather();

    // True when some process holds the file with this device and inode open.
    [[nodiscard]] bool Holds(std::uint64_t device, std::uint64_t inode) const;

    // Distinct files found held.
    [[nodiscard]] std::size_t Size() const { return m_files.size(); }
    [[nodiscard]] const Counts& Swept() const { return m_counts; }

  private:
    std::vector<std::pair<std::uint64_t, std::uint64_t>> m_files;  // (device, inode), sorted
    Counts m_counts;
};

}  // namespace clearnook::platform
