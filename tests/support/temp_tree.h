// Real directory trees in a temporary folder, for tests that walk and delete on disk.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fs_services.h"

namespace clearnook::testing {

// A fresh directory under $TMPDIR (or /tmp; on Windows the temporary folder), removed with
// everything below it on destruction, however deep, whatever the permissions.
class TempDir {
  public:
    enum class Where { Disk, Memory };
    // Memory puts the directory on /dev/shm where there is one: for trees of hundreds of thousands
    // of directories, whose creation on a busy disk would take minutes of journal writes.
    explicit TempDir(Where where = Where::Disk);
#ifdef _WIN32
    // A fresh folder in the folder `base`, such as another drive's; path() is empty when none
    // can be made there.
    explicit TempDir(const std::string& base);
#endif
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::string& path() const {
        return m_path;
    }
    // path() + "/" + relative; on Windows with backslashes, every "/" of `relative` included
    [[nodiscard]] std::string operator/(std::string_view relative) const;

    // Creates the file `relative` (and its missing directories) holding `size` bytes; sizes of
    // 64 KiB or more are sparse.
    void File(std::string_view relative, std::uint64_t size = 0) const;
    // Creates the directory `relative` and its missing parents.
    void Dir(std::string_view relative) const;

  private:
    std::string m_path;
};

// Removes `path` and everything below it, without recursion and with a few descriptors, so a
// chain of 100,000 nested directories goes too. Makes unreadable directories readable first.
void RemoveTree(const std::string& path);

// Creates a chain of `depth` nested directories named `name` below `base`, each opened from its
// parent (no path length limit); the bottom directory gets the empty file `leaf` when not empty.
void MakeChain(const std::string& base, std::size_t depth, std::string_view name,
               std::string_view leaf);

#ifdef _WIN32
// Makes `link` a link to the directory `target` that path lookups go through, as they go
// through a junction. Under Wine, which makes no junctions, a link of the host's, which Wine
// shows as a directory link and follows. False when none can be made. RemoveTree removes such a
// link as itself while its target is there.
[[nodiscard]] bool MakeDirectoryLink(const std::string& link, const std::string& target);
// Makes `link` a link to the file `target`: under Wine a link of the host's, which Wine shows as
// the file it names, opened through even when the link itself is asked for. False when none can
// be made.
[[nodiscard]] bool MakeFileLink(const std::string& link, const std::string& target);
// The volume serial number, file index and creation time of what is at `path` (a link followed
// where the system follows it); zero when it cannot be opened.
[[nodiscard]] platform::FileIdentity FileIdentityAt(const std::string& path);
#endif

// True when something exists at `path` (a link is not followed).
[[nodiscard]] bool Exists(const std::string& path);

// The identity the walk records for what is at `path` (device, inode, and for a file its birth
// time or else its change time), not following a link; zero when nothing is there.
[[nodiscard]] platform::FileIdentity IdentityAt(const std::string& path);
// The same for the entry `name` of the directory `dirFd`.
[[nodiscard]] platform::FileIdentity IdentityAt(int dirFd, const char* name);
// The identity a walk from `root` records for its root: the directory and its mount.
[[nodiscard]] platform::RootIdentity RootIdentityAt(const std::string& root);

// Sets or clears the immutable attribute (chattr +i), which keeps even root from deleting the
// file or, on a directory, its entries. False where the file system has no such attribute.
[[nodiscard]] bool SetImmutable(const std::string& path, bool on);

}  // namespace clearnook::testing
