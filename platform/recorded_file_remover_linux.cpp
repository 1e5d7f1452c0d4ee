// The Linux remover of recorded files: each file's directory reached from the walk's root one
// component at a time as the walk reached it, the file compared with what statx says of it now,
// and removed with unlinkat unless some process holds it open.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/files_in_use_linux.h"
#include "platform/linux_open.h"
#include "platform/linux_syscalls.h"
#include "platform/linux_testing.h"
#include "platform/recorded_file_remover.h"

namespace clearnook::platform {
namespace {

// The parts of a recorded path below the walk's root: the directories on the way, then the file
// name. False for a path that does not lie below `root` the way the walk builds paths, or that
// holds an empty, "." or ".." component, which the walk never records.
bool SplitRecordedPath(std::string_view root, std::string_view path,
                       std::vector<std::string_view>& parts) {
    parts.clear();
    if (root.empty() || path.size() <= root.size() || path.substr(0, root.size()) != root) {
        return false;
    }
    std::string_view rest = path.substr(root.size());
    if (root.back() != '/') {
        if (rest.front() != '/') {
            return false;  // "/data/tmp" is not below "/data/t"
        }
        rest.remove_prefix(1);
    }
    for (;;) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        parts.push_back(part);
        if (slash == std::string_view::npos) {
            return true;
        }
        rest.remove_prefix(slash + 1);
    }
}

RemoveResult ResultOfErrno(int err) {
    switch (err) {
        case ENOENT:
            return RemoveResult::Missing;
        case ELOOP:    // a symbolic link where a directory was
        case ENOTDIR:  // a file where a directory was
        case EXDEV:    // another mount
        case EISDIR:   // a directory where the file was
            return RemoveResult::Changed;
        default:
            return RemoveResult::Refused;
    }
}

}  // namespace

struct RecordedFileRemover::Impl {
    enum class RootState : std::uint8_t { NotOpened, Open, Missing, Changed };

    // One directory on the way from the root to the last file's directory. `fd` is -1 once it
    // has been closed to save descriptors; it is opened again by name from its parent if needed.
    struct Level {
        std::string name;
        int fd = -1;
    };

    std::string root;
    RootIdentity rootIdentity;
    RootState rootState = RootState::NotOpened;
    int rootFd = -1;
    RootMount rootMount;
    std::vector<Level> chain;
    std::size_t open = 0;            // open descriptors in `chain`
    std::size_t firstMaybeOpen = 0;  // every level above this index is closed
    std::size_t budget;
    std::uint64_t opens = 0;
    std::vector<std::string_view> parts;
    std::string nameBuf;
    // The files other processes hold open, gathered when the first file is to be removed.
    std::optional<FilesInUse> inUse;

    Impl(std::string rootPath, RootIdentity identity)
        : root(std::move(rootPath)), rootIdentity(identity), budget(DirectoryDescriptorBudget()) {}

    ~Impl() {
        Truncate(0);
        if (rootFd >= 0) {
            CloseKeepErrno(rootFd);
        }
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // Drops the levels from `depth` down, closing their descriptors.
    void Truncate(std::size_t depth) {
        while (chain.size() > depth) {
            if (chain.back().fd >= 0) {
                CloseKeepErrno(chain.back().fd);
                --open;
            }
            chain.pop_back();
        }
        firstMaybeOpen = std::min(firstMaybeOpen, chain.size());
    }

    // Descriptors held: the open levels and the root's.
    [[nodiscard]] std::size_t Held() const { return open + (rootFd >= 0 ? 1 : 0); }

    // Closes the root's descriptor, then the shallowest open levels, until the budget holds. The
    // deepest level stays: it is the one the next files of the same directory need. The root is
    // opened again, and checked again, when a file needs it.
    void MakeRoom() {
        if (Held() > budget && rootFd >= 0 && open > 0) {
            CloseKeepErrno(rootFd);
            rootFd = -1;
        }
        while (Held() > budget && firstMaybeOpen + 1 < chain.size()) {
            Level& level = chain[firstMaybeOpen++];
            if (level.fd >= 0) {
                CloseKeepErrno(level.fd);
                level.fd = -1;
                --open;
            }
        }
    }

    // When the process has no descriptor left (other parts of it hold more than the budget
    // allows for), closes every descriptor but `keep` and lowers the budget to what was held
    // but those closed, so the pass goes on with what it can have. False when there was nothing
    // to close.
    bool GiveBackAllBut(int keep) {
        const std::size_t held = Held();
        bool closed = false;
        if (rootFd >= 0 && rootFd != keep) {
            CloseKeepErrno(rootFd);
            rootFd = -1;
            closed = true;
        }
        for (Level& level : chain) {
            if (level.fd >= 0 && level.fd != keep) {
                CloseKeepErrno(level.fd);
                level.fd = -1;
                --open;
                closed = true;
            }
        }
        budget = std::max<std::size_t>(2, std::min(budget, held));
        return closed;
    }

    // Opens the root (again) and checks it is the directory the walk started from, on the mount
    // it was on. On failure, `failure` says why, for this and every later file.
    bool EnsureRoot(RemoveResult& failure) {
        if (rootState == RootState::NotOpened || (rootState == RootState::Open && rootFd < 0)) {
            rootState = RootState::Changed;
            if (rootIdentity.directory != FileIdentity{}) {
                FileIdentity seen;
                rootFd = OpenRootDirectory(root.c_str(), seen, rootMount);
                if (rootFd < 0 && (errno == EMFILE || errno == ENFILE) && GiveBackAllBut(-1)) {
                    rootFd = OpenRootDirectory(root.c_str(), seen, rootMount);
                }
                if (rootFd < 0) {
                    if (errno == ENOENT) {
                        rootState = RootState::Missing;
                    }
                } else if (seen != rootIdentity.directory ||
                           rootMount.mountId != rootIdentity.mount) {
                    // Another directory now answers to the root's name, or the same file system
                    // (or a copy of it) was mounted again: what the walk saw is not there.
                    CloseKeepErrno(rootFd);
                    rootFd = -1;
                } else {
                    ++opens;
                    rootState = RootState::Open;
                }
            }
        }
        switch (rootState) {
            case RootState::Open:
                return true;
            case RootState::Missing:
                failure = RemoveResult::Missing;
                return false;
            default:
                failure = RemoveResult::Changed;
                return false;
        }
    }

    // The descriptor of the directory `depth` levels below the root (0: the root), opening from
    // the deepest open level above it whatever is closed or not yet open. On failure the levels
    // from the one that failed down are dropped and `failure` says why.
    bool OpenDepth(std::size_t depth, int& out, RemoveResult& failure) {
        std::size_t from = depth;
        while (from > 0 && chain[from - 1].fd < 0) {
            --from;
        }
        if (from == 0 && !EnsureRoot(failure)) {
            Truncate(0);
            return false;
        }
        int fd = from == 0 ? rootFd : chain[from - 1].fd;
        for (std::size_t d = from; d < depth; ++d) {
            bool otherMount = false;
            int child = OpenSubdirectory(fd, chain[d].name.c_str(), rootMount, otherMount);
            if (child < 0 && (errno == EMFILE || errno == ENFILE) && GiveBackAllBut(fd)) {
                child = OpenSubdirectory(fd, chain[d].name.c_str(), rootMount, otherMount);
            }
            if (child < 0) {
                failure = otherMount ? RemoveResult::Changed : ResultOfErrno(errno);
                Truncate(d);
                return false;
            }
            ++opens;
            chain[d].fd = child;
            ++open;
            firstMaybeOpen = std::min(firstMaybeOpen, d);
            MakeRoom();
            fd = child;
        }
        out = fd;
        return true;
    }

    RemoveResult Remove(std::string_view path, const FileIdentity& identity) {
        if (identity == FileIdentity{} || !SplitRecordedPath(root, path, parts)) {
            return RemoveResult::Changed;
        }
        if (identity.birthTime == FileIdentity::kUnverifiable) {
            return RemoveResult::Unverifiable;
        }
        if (!inUse) {
            // Once per pass, before the remover holds any descriptor of its own: the sweep needs
            // two, which the pass has to spare.
            inUse = FilesInUse::Gather();
        }
        RemoveResult failure = RemoveResult::Changed;
        if (rootState != RootState::Open && !EnsureRoot(failure)) {
            return failure;  // OpenDepth opens an open root again once it was closed for room
        }
        // Keep the way shared with the previous file; files in walk order mostly share all of it.
        const std::size_t depth = parts.size() - 1;
        std::size_t common = 0;
        while (common < depth && common < chain.size() && chain[common].name == parts[common]) {
            ++common;
        }
        Truncate(common);
        for (std::size_t i = common; i < depth; ++i) {
            chain.push_back({std::string(parts[i]), -1});
        }
        int dirFd = -1;
        if (!OpenDepth(depth, dirFd, failure)) {
            return failure;
        }
        nameBuf.assign(parts.back());
        struct statx sx {};
        if (!StatxFile(dirFd, nameBuf.c_str(), sx)) {
            return ResultOfErrno(errno);
        }
        if (S_ISDIR(sx.stx_mode) || FileIdentityOf(sx) != identity) {
            return RemoveResult::Changed;
        }
        if (inUse->Holds(identity.device, identity.inode)) {
            // On Linux the unlink would succeed and the program holding it would go on with a
            // file that no longer has a name: its swap file, a cache entry, the installer it runs.
            return RemoveResult::InUse;
        }
        // Someone able to write this directory could still swap the name between the check and
        // the unlink; what they could make us remove is then a name in a directory they can
        // already change, never a file elsewhere. Flags 0: unlinkat never removes a directory.
        if (sys::Unlinkat(dirFd, nameBuf.c_str(), 0) != 0) {
            return ResultOfErrno(errno);
        }
        return RemoveResult::Removed;
    }
};

RecordedFileRemover::RecordedFileRemover(std::string root, RootIdentity rootIdentity)
    : m_impl(std::make_unique<Impl>(std::move(root), rootIdentity)) {}

RecordedFileRemover::~RecordedFileRemover() = default;

RemoveResult RecordedFileRemover::Remove(std::string_view path, const FileIdentity& identity) {
    return m_impl->Remove(path, identity);
}

std::uint64_t TestObserver::DirectoryOpens(const RecordedFileRemover& remover) {
    return remover.m_impl->opens;
}

std::size_t TestObserver::OpenDescriptors(const RecordedFileRemover& remover) {
    return remover.m_impl->Held();
}

std::size_t TestObserver::DescriptorBudget(const RecordedFileRemover& remover) {
    return remover.m_impl->budget;
}

}  // namespace clearnook::platform
