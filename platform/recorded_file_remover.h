// Removing the files a walk recorded, and only those. Every OS implements it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/fs_services.h"

namespace clearnook::platform {

// What became of one file the remover was asked to delete.
enum class RemoveResult : std::uint8_t {
    Removed,  // this call deleted it
    Missing,  // the file, or a directory on its way, no longer exists
    Changed,  // something on its way or in its place is not what the walk saw: a symbolic link,
              // another mount, another file, a directory, a root that is now elsewhere
    Unverifiable,  // the walk could not tell this file from one made after it under its name
                   // (FileIdentity::kUnverifiable): kept
    Refused,       // the file is still there but the system would not delete it (immutable,
                   // read-only file system, busy, ...)
    InUse,         // a process other than this one holds the file open, by a descriptor or a memory
                   // mapping: kept, as Windows keeps a file a running program has open (Linux; on
                   // Windows such a file is Refused by the system itself)
};

// Deletes, for good, files that a walk from `root` recorded, and nothing else. Each file's
// directory is reached from the root one component at a time, never through a symbolic link and
// never onto another mount; the entry is removed only when it is still the file recorded (same
// device, inode and birth time) and not a directory. A directory is never removed. The root must
// still be the directory the walk saw, on the mount it saw (`rootIdentity`). Directories stay
// open between calls, so files given in walk order cost one open per directory, within a bounded
// number of descriptors. One thread at a time; the destructor closes everything.
// On Windows, where the file system ignores case and the lists hold lowered paths, the file is
// opened by its recorded path without following a link in its last component, and that very
// handle is marked for deletion only when its identity (there `device` is the volume serial
// number, `inode` the file index, `birthTime` the creation time) is the one recorded and it is
// not a reparse point; a zero identity is never removed. A directory link swapped in on the way
// leads to another file, which is left alone. The root's identity is not looked at there, and
// nothing stays open.
// On Linux, before the first file is removed, the remover gathers once which files processes
// hold open (FilesInUse); a recorded file among them is kept (InUse). A file that a process
// opens after that sweep is not known to be in use.
class RecordedFileRemover {
  public:
    // `root` exactly as the walk was given it; `rootIdentity` as the walk recorded it
    // (zero: nothing is ever removed). Opens nothing yet.
    RecordedFileRemover(std::string root, RootIdentity rootIdentity);
    ~RecordedFileRemover();
    RecordedFileRemover(const RecordedFileRemover&) = delete;
    RecordedFileRemover& operator=(const RecordedFileRemover&) = delete;

    // Deletes the file the walk recorded as `path` (which begins with the root) with `identity`.
    [[nodiscard]] RemoveResult Remove(std::string_view path, const FileIdentity& identity);

  private:
    friend class TestObserver;  // counts what it holds, for the tests; where it exists
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace clearnook::platform
