// What the directory stack asks of the operating system: a directory's listing, read whole and
// decoded into the entries a walk keeps, and the few calls it makes on directories (open a root,
// a child, a parent; tell an open directory's identity; close). The stack itself is portable;
// a port to another POSIX system implements this header, as listing_reader_linux.cpp does for
// Linux. Internal to the platform layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/fs_services.h"

namespace clearnook::platform {

class EntryExaminer;
class SpareThreads;

// ---- Directories ----

// The file system and mount a tree is confined to: its root's device and, where the kernel
// tells, its mount id. Each walker and remover holds its own, with what it learnt of the
// kernel's calls.
struct RootMount {
    std::uint64_t device = 0;
    std::uint64_t mountId = 0;
    // Linux: openat2 refuses mount crossings and links in one call; where the kernel (or a
    // seccomp filter) lacks it, the first refusal turns this off and children are opened with
    // openat, their mounts compared by hand.
    bool tryOpenat2 = true;
};

// Opens the root of a tree (a symbolic link naming the root itself is followed, as the user gave
// it) and tells its identity and mount (device and mount id; what was learnt of the kernel's
// calls is left as it is). -1 when it is not an openable directory.
int OpenRootDirectory(const char* path, FileIdentity& identity, RootMount& mount);

// Opens the subdirectory `name` of `parent` without following links and without leaving the
// root's mount. -1 with `otherMount` set for a mount point, -1 alone (errno set) for any other
// failure. Both the walk and the delete pass come down through here, so they agree on what lies
// inside a tree.
int OpenSubdirectory(int parent, const char* name, RootMount& root, bool& otherMount);

// Opens the directory that holds the open directory `fd` (its ".."), as it is now: -1 (errno
// set) when it cannot. Nothing is checked: the caller compares identities.
int OpenParentDirectory(int fd);

// The identity (device and inode) of the open directory `fd`. False, errno set, when the system
// cannot tell.
bool IdentityOfOpen(int fd, FileIdentity& identity);

// Closes `fd` and leaves errno as it was, for the paths that report an earlier failure.
int CloseKeepErrno(int fd);

// What the entry `name` of `dirFd` is now, not following a link: Directory, File (a regular file
// or a symbolic link), or Other for anything else and for an entry that is gone.
EntryType TypeAt(int dirFd, const char* name);

// The size and identity of the file `name` of `dirFd`, not following a link. Empty when it is
// gone or is no longer a file (a directory, a device...).
std::optional<FileInfo> ReadFileInfo(int dirFd, const char* name);

// Whether the open directory `fd` is world-writable with the sticky bit: shared by every user for
// temporary files.
bool IsSharedTemporary(int fd);

// How many directory descriptors one walker may keep open: an eighth of the soft limit, between
// 2 and 128, so the rest of the process keeps room.
std::size_t DirectoryDescriptorBudget();

// Grows the process's descriptor table to hold `room` more descriptors than are open now, where
// the system lets it. Best effort.
void ReserveDescriptorTable(std::size_t room);

// ---- Listings ----

// What a kept entry of a listing is.
enum class ListedType : std::uint8_t {
    Directory,
    File,     // a regular file or a symbolic link
    Unknown,  // the file system did not say (some network and FUSE file systems): see TypeAt
};

// One entry of a listing as the reader hands it on. Dots, devices, FIFOs, sockets, files the
// examiner did not tag and names the system could not be given (empty, too long, holding a NUL)
// never become one.
struct ListedEntry {
    std::string_view name;  // 1 to 255 bytes; a NUL follows it
    ListedType type = ListedType::File;
    std::uint8_t tag = 0;  // a File's tag from the examiner (0: no examiner)
    // For a tagged file: its size and identity, read as the listing was (empty when it was gone
    // by then, or no longer a file).
    std::optional<FileInfo> info;
};

// Takes the entries of listings, in the order the file system gives them. Called on the thread
// that reads the listing or on a spare thread it borrowed meanwhile, never on two at once, and
// never after Read has returned.
class ListingSink {
  public:
    virtual ~ListingSink() = default;
    // May throw std::bad_alloc, which ends the listing and leaves Read with it.
    virtual void Add(const ListedEntry& entry) = 0;
};

// How reading a listing went.
struct ListingOutcome {
    bool listed = false;  // false: not even the first read succeeded (nothing was added)
    int partError = 0;    // nonzero: the listing ended early, after what was added, for this
                          // reason
};

// Reads whole listings, one directory at a time, for one stack. One thread at a time.
class ListingReader {
  public:
    ListingReader();

    // Puts `examiner` (not owned; null: none) to the files of every listing read from now on.
    void SetExaminer(EntryExaminer* examiner) { m_examiner = examiner; }

    // Lets the reader borrow a thread from `spare` (not owned; null: none) to go through a long
    // listing while it reads on.
    void SetSpareThreads(SpareThreads* spare) { m_spare = spare; }

    // Reads the listing of the open directory `fd` and gives each entry a walk keeps to `sink`,
    // in listing order. Memory that runs out, here or on a borrowed thread, leaves with
    // std::bad_alloc once every thread is done with `sink` and `fd`.
    [[nodiscard]] ListingOutcome Read(int fd, ListingSink& sink);

  private:
    std::vector<char> m_buffer;  // the reads go here while no thread is borrowed
    EntryExaminer* m_examiner = nullptr;
    SpareThreads* m_spare = nullptr;
};

}  // namespace clearnook::platform
