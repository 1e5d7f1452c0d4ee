// The directory stack: the path a walk is on, one listing per level. Every OS implements it; on
// Linux the portable descriptor stack does, over a listing reader of the OS.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/fs_services.h"

namespace clearnook::platform {

// Looks at the names of a listing's files while the listing is read and its directory is surely
// open. The stack reads the size and identity of each file tagged at once, so that afterwards it
// needs the directory's descriptor only to open subdirectories, and a deep walk seldom has to
// climb back into a directory it closed to save descriptors.
class EntryExaminer {
  public:
    virtual ~EntryExaminer() = default;
    // 0 for a file the walk has no use for, which the stack then leaves out of the listing (the
    // examiner is all that sees it), else a tag of the walk's own (1 to 254). Called once for
    // each file of a listing being read, in listing order, on the stack's thread or on a thread
    // it borrowed meanwhile (see SpareThreads), one at a time.
    [[nodiscard]] virtual std::uint8_t TagFile(std::string_view name) = 0;
};

// The directories along the path a walk is on, from its root down to the directory it lists now.
// Each directory's listing is read whole when it is entered, in the order the file system gives
// it. Only the bottom directories keep a descriptor open, so depth is limited by memory alone.
// Children are opened relative to their parent, never through a symbolic link, and never on
// another mount. (On Windows a listing's find handle is closed as soon as it is read, and the
// directory attribute alone decides, so junctions and directory links are walked into; a file
// that is a reparse point, such as a file link, is an Other.) One thread at a time; the
// destructor closes everything.
class DirectoryStack {
  public:
    DirectoryStack();
    ~DirectoryStack();
    DirectoryStack(const DirectoryStack&) = delete;
    DirectoryStack& operator=(const DirectoryStack&) = delete;

    enum class EnterResult {
        Entered,     // the child is now on top, its listing ready
        Unlistable,  // a directory that cannot be opened or listed: it contributes nothing
        Skipped,     // the name is not a directory of the walk's file system (another mount)
    };

    // Puts `examiner` (not owned; null: none) to the files of every listing read from now on.
    // The walk moves it to each directory before the stack reads that directory's listing
    // (before EnterChild, OpenRoot, and StackSharing::AdoptRoot).
    void SetExaminer(EntryExaminer* examiner);

    // Opens the walk's root (a symbolic link naming the root itself is followed) and reads its
    // listing. False when it cannot be listed; the stack stays empty.
    [[nodiscard]] bool OpenRoot(const std::string& path);

    // Opens the directory `name` of the top directory and pushes it.
    [[nodiscard]] EnterResult EnterChild(std::string_view name);

    // Pops the top directory. The directory below becomes the top and resumes where it was.
    void Leave();

    // The next entry of the top directory, dots left out. False when the listing is exhausted.
    [[nodiscard]] bool NextEntry(DirEntry& entry);

    // Size and identity of the file `name` of the top directory, not following links. Empty when
    // the file is gone (on Windows also when it is a reparse point now). For the entry NextEntry
    // returned last, if it was tagged, what was read when the listing was.
    [[nodiscard]] std::optional<FileInfo> StatEntry(std::string_view name);

    [[nodiscard]] std::size_t Depth() const;

    // True when the top directory is shared by every user for temporary files: world-writable
    // with the sticky bit, as /tmp and /var/tmp are. Always false on Windows.
    [[nodiscard]] bool TopIsSharedTemporary() const;

    // The system's error code for the last OpenRoot, AdoptRoot or EnterChild that failed (0
    // where the platform does not tell).
    [[nodiscard]] int LastError() const;

    // Nonzero when the top directory's listing ended early, its later entries never seen: a read
    // failed part way, or the walk lost its place in it and could not find it again. The
    // system's error code then (or EIO's where it had none).
    [[nodiscard]] int ListingError() const;

    // The identity of the directory OpenRoot opened and of its mount (zero before it
    // succeeded). The delete pass checks it, so a root swapped for another directory or another
    // mount after the walk is not mistaken for it. Always zero on Windows.
    [[nodiscard]] platform::RootIdentity RootIdentity() const;

  private:
    // Where the walk runs on several threads, StackSharing hands directories from one stack to
    // another and shares descriptors between them; TestObserver lets the tests count what a stack
    // holds. Both are defined only where they exist.
    friend class StackSharing;
    friend class TestObserver;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace clearnook::platform
