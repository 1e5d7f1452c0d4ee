// File-system services the engine needs from the operating system. This header is the whole
// seam: it names no OS type, so the engine stays portable; each OS has its own .cpp behind it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Defined where one DirectoryStack can hand an open directory to another (HandedDirectory,
// DirectoryStack::HandOffLaterDirectory, DirectoryStack::AdoptRoot), the way a walk shares a tree
// with other threads; those declarations exist only there. On Windows listings are read by path,
// one find handle at a time: there is no open directory to hand from one walker to another, so a
// walk stays on one thread.
#ifndef _WIN32
#define CLEARNOOK_CAN_HAND_OFF_DIRECTORIES 1
#endif

namespace clearnook::platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
// The file system ignores case, so the lists record the lowered, backslash-separated path that
// classification sees; it names the same file.
inline constexpr bool kRecordLowerCasePaths = true;
// The walk's root is a drive name ("C:"), which holds no path marker: classification sees it as
// given.
inline constexpr bool kClassifyRootText = true;
#else
inline constexpr char kPathSeparator = '/';
// Case matters here: the lists record the path as enumerated, byte for byte.
inline constexpr bool kRecordLowerCasePaths = false;
// A root here can be any directory, spelled any way ("x/temp/..", a mount point under a
// directory called temp): classification sees a neutral prefix in its place, as it sees a drive
// name on Windows, so neither where the root lies nor how it is written changes a category.
inline constexpr bool kClassifyRootText = false;
#endif

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

// Threads a walk can spare for a while. A stack that finds a listing long borrows one to go
// through what it has read (the examiner's look at each file, the sizes of those tagged) while
// it reads on.
class SpareThreads {
  public:
    virtual ~SpareThreads() = default;
    // Starts `work` on another thread that does nothing else until `work` returns, and returns at
    // once; false, `work` not run, when no thread is free.
    [[nodiscard]] virtual bool TryRun(std::function<void()> work) = 0;
};

#ifdef CLEARNOOK_CAN_HAND_OFF_DIRECTORIES
// A directory one DirectoryStack opened for another to adopt as its root: the way a walk shares
// a tree with a second thread. Closed on destruction unless adopted. Move only.
class HandedDirectory {
  public:
    HandedDirectory();
    ~HandedDirectory();
    HandedDirectory(HandedDirectory&&) noexcept;
    HandedDirectory& operator=(HandedDirectory&&) noexcept;

    struct Impl;

  private:
    friend class DirectoryStack;
    std::unique_ptr<Impl> m_impl;
};
#endif

// Descriptors the stacks of one walk share on top of their own budgets: a stack whose own are
// all open takes one more from the pool rather than close a level, and gives what it no longer
// needs back as it leaves levels. So the threads at work get the walk's descriptors, not those
// waiting for work. Any thread.
class DescriptorPool {
  public:
    explicit DescriptorPool(std::size_t count) : m_free(count) {}

    [[nodiscard]] bool Take() {
        std::size_t n = m_free.load(std::memory_order_relaxed);
        while (n != 0) {
            if (m_free.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
                return true;
            }
        }
        return false;
    }
    void Give(std::size_t count) { m_free.fetch_add(count, std::memory_order_relaxed); }
    [[nodiscard]] std::size_t Free() const { return m_free.load(std::memory_order_relaxed); }

  private:
    std::atomic<std::size_t> m_free;
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
    // `descriptorBudget` 0: the process's share (see DescriptorBudget); otherwise at most that
    // many (at least 2), for walks that share the process's share between them.
    explicit DirectoryStack(std::size_t descriptorBudget = 0);
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
    // (before EnterChild, OpenRoot, AdoptRoot). Platforms may ignore it: their entries come back
    // kUnexamined.
    void SetExaminer(EntryExaminer* examiner);

    // Lets the stack borrow threads from `spare` (not owned; null: none) for long listings.
    // Platforms may ignore it.
    void SetSpareThreads(SpareThreads* spare);

    // Lets the stack take descriptors from `pool` (not owned; null: none) beyond its budget. Only
    // while the stack is empty. Platforms that hold no descriptors ignore it.
    void SetDescriptorPool(DescriptorPool* pool);

    // Opens the walk's root (a symbolic link naming the root itself is followed) and reads its
    // listing. False when it cannot be listed; the stack stays empty.
    [[nodiscard]] bool OpenRoot(const std::string& path);

#ifdef CLEARNOOK_CAN_HAND_OFF_DIRECTORIES
    // Adopts a directory another stack handed over as this stack's root and reads its listing.
    // False when it cannot be listed; the stack stays empty.
    [[nodiscard]] bool AdoptRoot(HandedDirectory directory);
#endif

    // Opens the directory `name` of the top directory and pushes it.
    [[nodiscard]] EnterResult EnterChild(std::string_view name);

    // Pops the top directory. The directory below becomes the top and resumes where it was.
    void Leave();

#ifdef CLEARNOOK_CAN_HAND_OFF_DIRECTORIES
    // Gives a subdirectory this walk has not reached yet to another walker: at the shallowest
    // level that still holds a descriptor and has one, the last such subdirectory of its listing.
    // Only the levels above the top give: the top's own subdirectories are the walk's next work,
    // and handing them off would pass a chain of directories back and forth level by level.
    // From then on NextEntry reports that entry as HandedOff, in its place. Those a level hands
    // off lie after every subdirectory it keeps, and later hand-offs of a level lie before
    // earlier ones.
    // Only a directory it could open is handed off; one it cannot open stays in the listing, for
    // the walk to meet in its place.
    struct HandOff {
        std::size_t level = 0;  // the level whose listing holds it (0: the root)
        std::string name;
        HandedDirectory directory;  // opened
    };
    [[nodiscard]] std::optional<HandOff> HandOffLaterDirectory();
    // Whether HandOffLaterDirectory may find a subdirectory to give (false: it surely finds
    // none), without opening anything.
    [[nodiscard]] bool HasLaterDirectory();
#endif

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

    // How many descriptors the stack may hold open at once (at least 2), those it holds from its
    // pool included.
    [[nodiscard]] std::size_t DescriptorBudget() const;

    // The share of descriptors one walk of this process may hold (an eighth of the soft limit,
    // 2 to 128): the default budget of a stack.
    [[nodiscard]] static std::size_t ProcessDescriptorShare();

    // Grows the process's descriptor table, ahead of time, to hold a walk's share on top of
    // what is open. A table grown while other threads share it waits until they all have passed
    // a quiescent point (milliseconds: a deep walk on two threads took 30% longer for it); one
    // grown while the process has a single thread does not. Call it before starting threads;
    // best effort, and cheap once the table is that large.
    static void ReserveDescriptorRoom();

    // Descriptors open right now; never more than DescriptorBudget().
    [[nodiscard]] std::size_t OpenDescriptors() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Under a limit on the process's address space (ulimit -v), has every thread made from now on
// allocate from the C library's main arena: an arena of a thread's own reserves 64 MiB of
// address space (128 MiB while it is made), so a walk on several threads ran out of address
// space where one thread needs a few megabytes. Without a limit, nothing changes. Best effort;
// call before starting a walk's threads.
void ShareAllocatorUnderAddressLimit();

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

// True when the byte at `pos` of `text` begins a character. On Windows the second byte of a
// double-byte character of the ANSI code page can be 0x5C, the backslash, or an ASCII letter, so
// a search for a separator or a path marker counts only the matches that begin a character. On
// Linux every byte that looks like '/' is a separator, whatever the encoding. Any thread.
#ifdef _WIN32
[[nodiscard]] bool StartsCharacter(std::string_view text, std::size_t pos);
#else
[[nodiscard]] inline bool StartsCharacter(std::string_view /*text*/, std::size_t /*pos*/) {
    return true;
}
#endif

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

// ---- Removing the files a walk recorded ----

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

#ifndef _WIN32
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
#endif

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

    // Directories opened so far, the root included: what the reuse of open directories saves.
    [[nodiscard]] std::uint64_t DirectoryOpens() const;

    // Descriptors open right now, the root included; never more than DescriptorBudget().
    [[nodiscard]] std::size_t OpenDescriptors() const;
    [[nodiscard]] std::size_t DescriptorBudget() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace clearnook::platform
