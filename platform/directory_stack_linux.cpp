// The Linux directory stack: each listing read whole with getdents64 relative to its parent's
// descriptor into one arena (a long one gone through on a spare thread while it is read),
// descriptors bounded whatever the depth (the shallowest closed first, climbed back into through
// ".." or found again from the root), and directories handed from one stack to another.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/fs_services.h"
#include "platform/listing_pipe.h"
#include "platform/listing_records.h"
#include "platform/posix_open.h"
#include "platform/posix_syscalls.h"

namespace clearnook::platform {
namespace {

namespace records = listing_records;

// Descriptors a stack keeps from its pool beyond those it holds open.
constexpr std::size_t kKeepSpare = 4;

// The length of the name at `name` in a getdents64 record that leaves it `room` bytes; `room`
// when it holds no NUL. Each record is padded to 8 bytes after its name's NUL (and the padding
// may hold anything), so the NUL lies in the last 8 bytes of the room: only those are looked at,
// on little-endian machines as one word. The name begins at byte 19 of its record and a record
// is at least 24 bytes long, so the 8 bytes before the room's end lie within the record.
std::size_t NameLength(const char* name, std::size_t room) {
    const std::size_t from = room > 8 ? room - 8 : 0;
    if constexpr (std::endian::native == std::endian::little) {
        if (room >= 5) {
            std::uint64_t word;
            std::memcpy(&word, name + room - 8, sizeof word);
            const std::size_t before = 8 - (room - from);  // bytes of the record ahead of the name
            word |= before == 0 ? 0 : ~std::uint64_t{0} >> (64 - 8 * before);
            constexpr std::uint64_t kOnes = 0x0101010101010101;
            // Marks the first zero byte (a byte after it may be marked too, never one before).
            const std::uint64_t zeros = (word - kOnes) & ~word & (kOnes << 7);
            return zeros == 0 ? room
                              : room - 8 + static_cast<std::size_t>(std::countr_zero(zeros)) / 8;
        }
    }
    std::size_t len = from;
    while (len < room && name[len] != '\0') {
        ++len;
    }
    return len;
}

}  // namespace

struct HandedDirectory::Impl {
    int fd = -1;
    std::string path;  // from the walk's root, to find it again should its descriptor be lost
    RootMount mount;   // of the walk's root: the adopting stack stays on it

    Impl() = default;
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl() {
        if (fd >= 0) {
            CloseKeepErrno(fd);
        }
    }
};

HandedDirectory::HandedDirectory() = default;
HandedDirectory::~HandedDirectory() = default;
HandedDirectory::HandedDirectory(HandedDirectory&&) noexcept = default;
HandedDirectory& HandedDirectory::operator=(HandedDirectory&&) noexcept = default;

struct DirectoryStack::Impl {
    struct Level {
        int fd = -1;
        FileIdentity identity;  // known for the root, and for a level once it has been evicted
        std::size_t begin = 0;  // its listing in the arena: [begin, end)
        std::size_t end = 0;
        std::size_t pos = 0;
        std::size_t dirBegin = 0;  // its subdirectories' records, in dirRecords: [dirBegin, dirEnd)
        std::size_t dirEnd = 0;    // (those handed off or found passed are cut from the end)
        std::size_t last = kNoRecord;        // the record NextEntry returned last
        std::size_t nameRecord = kNoRecord;  // the record of its own name, in its parent's listing
        bool dead = false;     // lost its descriptor and could not get it back: lists no further
        int listingError = 0;  // why its listing ended early (dead, or a read failed part way)
        // The last record that needs the descriptor (a subdirectory, an entry of unknown type, a
        // file not examined); kNoRecord for none. Past it, the level lists from the arena alone.
        std::size_t lastNeed = kNoRecord;
        // Some level above needed its descriptor when this one was entered: the walk will have
        // to climb back through this one. Fixed while this level is on the stack.
        bool needAbove = false;
    };
    static constexpr std::size_t kNoRecord = static_cast<std::size_t>(-1);

    std::vector<Level> levels;
    std::vector<char> arena;
    std::vector<std::size_t> dirRecords;  // arena offsets of the levels' subdirectory records
    std::vector<char> scratch = std::vector<char>(64 * 1024);
    std::string nameBuf;
    std::size_t budget = 2;  // its own, and those taken from the pool
    std::size_t open = 0;
    DescriptorPool* pool = nullptr;
    std::size_t taken = 0;  // from the pool, and not yet given back
    std::size_t firstMaybeOpen = 0;
    std::size_t firstMayGive = 0;  // every level before it has no subdirectory left to hand off
    RootMount rootMount;
    FileIdentity rootIdentity;  // of the directory OpenRoot opened; kept after the walk leaves it
    std::string rootPath;       // as OpenRoot was given it
    int lastError = 0;          // of the last OpenRoot, AdoptRoot or EnterChild that failed
    EntryExaminer* examiner = nullptr;
    SpareThreads* spare = nullptr;
    // The name of the tagged record NextEntry returned last, and what was read of it.
    const char* lastTaggedName = nullptr;
    std::optional<FileInfo> lastTaggedInfo;

    explicit Impl(std::size_t descriptorBudget)
        : budget(descriptorBudget == 0 ? DirectoryDescriptorBudget()
                                       : std::max<std::size_t>(descriptorBudget, 2)) {}

    ~Impl() {
        for (Level& level : levels) {
            CloseLevel(level);
        }
        GiveBackSpare();
    }

    // Gives the pool back what this stack took beyond what it holds open and a few to spare: a
    // walk that goes up and down a level or two does not touch the pool every time.
    void GiveBackSpare(std::size_t keep = 0) {
        const std::size_t unneeded = std::min(taken, budget - std::min(budget, open + keep));
        if (unneeded != 0) {
            budget -= unneeded;
            taken -= unneeded;
            pool->Give(unneeded);
        }
    }

    // The level will still need its descriptor, or will be climbed through to a level that will.
    static bool WantsDescriptor(const Level& level) {
        return (level.lastNeed != kNoRecord && level.lastNeed >= level.pos) || level.needAbove;
    }

    void CloseLevel(Level& level) {
        if (level.fd >= 0) {
            assert(open > 0);
            CloseKeepErrno(level.fd);
            level.fd = -1;
            --open;
        }
    }

    // Appends the entries of `got` bytes of getdents64 records at `bytes`, read from `fd`, to the
    // listing at the end of the arena; `lastNeed` moves to the last record that needs the
    // descriptor.
    void AppendEntries(int fd, const char* bytes, std::size_t got, std::size_t& lastNeed) {
        constexpr std::size_t kNameAt = offsetof(struct dirent64, d_name);
        for (std::size_t off = 0; off < got;) {
            const char* rec = bytes + off;
            unsigned short reclen;
            std::memcpy(&reclen, rec + offsetof(struct dirent64, d_reclen), sizeof reclen);
            const auto dtype = static_cast<unsigned char>(rec[offsetof(struct dirent64, d_type)]);
            const char* name = rec + kNameAt;
            off += reclen;
            records::Kind kind;
            switch (dtype) {
                case DT_DIR:
                    kind = records::Kind::Directory;
                    break;
                case DT_REG:
                case DT_LNK:
                    kind = records::Kind::File;
                    break;
                case DT_UNKNOWN:
                    kind = records::Kind::Unknown;
                    break;
                default:
                    continue;  // devices, FIFOs, sockets play no part
            }
            const std::size_t room = reclen - std::min<std::size_t>(reclen, kNameAt);
            const std::size_t len = NameLength(name, room);
            if (len == room || len == 0 || len > 255 ||
                (name[0] == '.' && (len == 1 || (len == 2 && name[1] == '.')))) {
                continue;
            }
            const std::size_t at = arena.size();
            std::uint8_t tag = 0;
            if (kind == records::Kind::File && examiner != nullptr) {
                tag = examiner->TagFile(std::string_view(name, len));
                if (tag == 0) {
                    continue;
                }
            }
            // A name holding a NUL (a damaged file system's, a hostile FUSE server's) cannot be
            // named to the system: every call would take the part before the NUL, another entry
            // or none. Such an entry plays no further part. (Only for those the walk keeps: a
            // file not tagged is never named again.)
            if (std::memchr(name, '\0', len) != nullptr) {
                continue;
            }
            if (tag != 0) {
                // Its size and identity are read now, while the directory is surely open.
                const std::optional<FileInfo> info = ReadFileInfo(fd, name);
                records::Append(arena, {.kind = records::Kind::Tagged,
                                        .name = std::string_view(name, len),
                                        .tag = tag,
                                        .found = info.has_value(),
                                        .info = info.value_or(FileInfo{})});
                continue;
            }
            lastNeed = at;
            if (kind == records::Kind::Directory) {
                dirRecords.push_back(at);
            }
            records::Append(arena, {.kind = kind, .name = std::string_view(name, len)});
        }
    }

    // A long listing's buffers, passed to a spare thread, and the last record it appended that
    // needs the descriptor.
    struct LentListing {
        explicit LentListing(std::size_t bufferSize) : pipe(bufferSize) {}
        ListingPipe pipe;
        std::size_t lastNeed = kNoRecord;
    };

    // Lends the rest of a long listing of `fd` to a spare thread: it appends the entries of the
    // buffers this thread reads into `lent`. False when no thread is free.
    bool LendListing(int fd, const std::shared_ptr<LentListing>& lent) {
        // The thread touches the arena, the examiner and `fd` only between a successful Start and
        // End; this thread waits for End before it uses any of them again.
        return spare->TryRun([this, fd, lent] {
            ListingPipe* const pipe = &lent->pipe;
            if (!pipe->Start()) {
                return;
            }
            std::exception_ptr failure;
            std::size_t lastNeed = kNoRecord;
            const char* bytes = nullptr;
            std::size_t size = 0;
            try {
                while (pipe->Next(bytes, size)) {
                    AppendEntries(fd, bytes, size, lastNeed);
                    pipe->Release();
                }
            } catch (const std::bad_alloc&) {
                // Memory ran out for the listing, which belongs to the stack's thread: the very
                // exception goes there (see Failure) and leaves ReadListing as if thrown on it.
                failure = std::current_exception();
            }
            lent->lastNeed = lastNeed;
            pipe->End(std::move(failure));
        });
    }

    // Reads the whole listing of `fd` onto the end of the arena. False when not even the first
    // read succeeds; a listing that fails part way keeps what it had read, and `partError` says
    // why it ended. `lastNeed` is set to the last record that needs the descriptor. A listing
    // longer than one buffer is gone through on a spare thread, where there is one, while this
    // one reads on. Memory that runs out, here or on the spare thread, leaves with std::bad_alloc
    // once the spare thread is done with the listing.
    bool ReadListing(int fd, int& partError, std::size_t& lastNeed) {
        lastNeed = kNoRecord;
        partError = 0;
        bool first = true;
        std::shared_ptr<LentListing> lent;    // while a spare thread goes through the buffers
        std::shared_ptr<LentListing> unlent;  // made for a lending that found no thread free
        // A pipe whose thread never came: this thread goes through the buffers filled so far.
        const auto goOnAlone = [&] {
            const ListingPipe& pipe = lent->pipe;
            for (std::size_t i = 0; i < pipe.Filled(); ++i) {
                AppendEntries(fd, pipe.SlotBytes(i), pipe.SlotSizeUsed(i), lastNeed);
            }
            lent.reset();
        };
        for (;;) {
            char* buffer = scratch.data();
            if (lent) {
                buffer = lent->pipe.SlotToFill();
                if (buffer == nullptr) {
                    if (lent->pipe.Failure()) {
                        std::rethrow_exception(lent->pipe.Failure());
                    }
                    goOnAlone();
                    buffer = scratch.data();
                }
            }
            const long n = posix::Getdents64(fd, buffer, scratch.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                if (n < 0) {
                    partError = errno != 0 ? errno : EIO;
                }
                break;
            }
            first = false;
            if (lent) {
                lent->pipe.Filled(static_cast<std::size_t>(n));
                continue;
            }
            AppendEntries(fd, buffer, static_cast<std::size_t>(n), lastNeed);
            if (spare != nullptr && static_cast<std::size_t>(n) > scratch.size() / 2) {
                // The read nearly filled the buffer, so more is likely to come: the listing is
                // long enough to share.
                if (!unlent) {
                    unlent = std::make_shared<LentListing>(scratch.size());
                }
                if (LendListing(fd, unlent)) {
                    lent = std::move(unlent);
                }
            }
        }
        if (lent) {
            if (!lent->pipe.Finish()) {
                goOnAlone();
            } else if (lent->pipe.Failure()) {
                std::rethrow_exception(lent->pipe.Failure());
            } else if (lent->lastNeed != kNoRecord) {
                lastNeed = lent->lastNeed;
            }
        }
        return !first || partError == 0;
    }

    // A level being pushed, undone unless it is kept: its records leave the arena and its
    // descriptor is closed (errno kept), also when memory runs out part way.
    class PushGuard {
      public:
        PushGuard(Impl& d, int fd)
            : m_d(d), m_fd(fd), m_begin(d.arena.size()), m_dirBegin(d.dirRecords.size()) {}
        ~PushGuard() {
            if (m_fd >= 0) {
                m_d.arena.resize(m_begin);
                m_d.dirRecords.resize(m_dirBegin);
                CloseKeepErrno(m_fd);
            }
        }
        PushGuard(const PushGuard&) = delete;
        PushGuard& operator=(const PushGuard&) = delete;

        void Keep() { m_fd = -1; }

      private:
        Impl& m_d;
        int m_fd;
        std::size_t m_begin;
        std::size_t m_dirBegin;
    };

    // Pushes a level for the open directory `fd`, listing it. False (and `fd` closed) when it
    // cannot be listed; std::bad_alloc (and `fd` closed) when memory runs out.
    bool PushLevel(int fd, FileIdentity identity) {
        PushGuard guard(*this, fd);
        const std::size_t begin = arena.size();
        const std::size_t dirBegin = dirRecords.size();
        int partError = 0;
        std::size_t lastNeed = kNoRecord;
        if (levels.size() == levels.capacity()) {  // so that the push below cannot throw
            levels.reserve(std::max<std::size_t>(16, 2 * levels.size()));
        }
        if (!ReadListing(fd, partError, lastNeed)) {
            return false;
        }
        assert(lastNeed == kNoRecord || (lastNeed >= begin && lastNeed < arena.size()));
        Level level;
        level.dirBegin = dirBegin;
        level.dirEnd = dirRecords.size();
        level.fd = fd;
        level.identity = identity;
        level.listingError = partError;
        level.lastNeed = lastNeed;
        if (!levels.empty()) {
            level.needAbove = WantsDescriptor(levels.back());
        }
        level.begin = begin;
        level.pos = begin;
        level.end = arena.size();
        levels.push_back(level);
        guard.Keep();
        ++open;
        lastTaggedName = nullptr;
        AssertInvariants();
        return true;
    }

    // Gives the closed level `target` its descriptor back when climbing through ".." could not:
    // opens the root again by its path and comes down one name at a time, accepting each
    // directory only if it is the very one the walk left there. Only called when every level
    // above `target` is closed, so it never holds more than two descriptors. False when some
    // directory on the way cannot be opened or is not the one left there.
    bool Reopen(std::size_t target) {
        assert(target < levels.size() &&
               std::all_of(levels.begin(), levels.begin() + static_cast<std::ptrdiff_t>(target) + 1,
                           [](const Level& level) { return level.fd < 0; }));
        FileIdentity identity;
        RootMount mount;
        int fd = OpenRootDirectory(rootPath.c_str(), identity, mount);
        if (fd < 0) {
            return false;
        }
        if (identity != rootIdentity || mount.mountId != rootMount.mountId) {
            CloseKeepErrno(fd);
            return false;
        }
        for (std::size_t i = 1; i <= target; ++i) {
            const Level& level = levels[i];
            if (level.nameRecord == kNoRecord || level.identity == FileIdentity{}) {
                CloseKeepErrno(fd);
                return false;
            }
            bool otherMount = false;
            const int child = OpenSubdirectory(
                fd, records::NameAt(arena.data() + level.nameRecord).data(), rootMount, otherMount);
            CloseKeepErrno(fd);
            struct stat st {};
            if (child < 0) {
                return false;
            }
            if (posix::Fstat(child, &st) != 0 || IdentityOf(st) != level.identity) {
                CloseKeepErrno(child);
                return false;
            }
            fd = child;
        }
        levels[target].fd = fd;
        ++open;
        assert(open <= budget);
        firstMaybeOpen = std::min(firstMaybeOpen, target);
        return true;
    }

    // The path of level `index` as the walk would open it from its root's path; empty where a
    // name on the way is not known.
    std::string PathOf(std::size_t index) const {
        if (rootPath.empty()) {
            return {};
        }
        std::string path = rootPath;
        for (std::size_t i = 1; i <= index; ++i) {
            if (levels[i].nameRecord == kNoRecord) {
                return {};
            }
            if (path.empty() || path.back() != '/') {
                path.push_back('/');
            }
            path.append(records::NameAt(arena.data() + levels[i].nameRecord));
        }
        return path;
    }

    // Whether `level` has a subdirectory the walk has not reached (and so never will again, while
    // it is on the stack) and has not handed off.
    bool HasDirectoryLeft(const Level& level) const {
        return level.dirEnd != level.dirBegin && dirRecords[level.dirEnd - 1] >= level.pos;
    }

    // Whether level `i` may still hand off a subdirectory: it has one left and its descriptor.
    bool MayGive(std::size_t i) const {
        return HasDirectoryLeft(levels[i]) && levels[i].fd >= 0 && !levels[i].dead;
    }

    // Moves firstMayGive past the levels that have no subdirectory left to give. A level that has
    // none never has one again while it is on the stack (its position only moves on, and its
    // subdirectories are only given away), so each is passed once, and a deep chain costs no scan
    // per hand-off.
    void SkipSpentLevels() {
        while (firstMayGive + 1 < levels.size() && !HasDirectoryLeft(levels[firstMayGive])) {
            ++firstMayGive;
        }
    }

    // The first level that may have a subdirectory to hand off and holds a descriptor for it,
    // once SkipSpentLevels has run.
    std::size_t FirstThatMayGive() const {
        return std::max(firstMayGive, firstMaybeOpen);  // a closed level cannot open what it gives
    }

    // What holds between the stack's operations. Each checks it before it returns (in the builds
    // that keep assertions).
    void AssertInvariants() const {
        assert(open <= budget && taken <= budget && (pool != nullptr || taken == 0));
        assert(firstMaybeOpen <= levels.size() &&
               (firstMaybeOpen == 0 || levels[firstMaybeOpen - 1].fd < 0));
        assert(firstMayGive <= levels.size() &&
               (firstMayGive == 0 || !HasDirectoryLeft(levels[firstMayGive - 1])));
        assert(!levels.empty() || (open == 0 && arena.empty() && dirRecords.empty()));
        // The top's listing ends the arena, and lies after the one below, as its subdirectories
        // do.
        assert(levels.empty() ||
               (levels.back().begin <= levels.back().pos &&
                levels.back().pos <= levels.back().end && levels.back().end == arena.size() &&
                levels.back().dirBegin <= levels.back().dirEnd &&
                levels.back().dirEnd <= dirRecords.size()));
        assert(levels.size() < 2 || (levels[levels.size() - 2].end <= levels.back().begin &&
                                     levels[levels.size() - 2].dirEnd <= levels.back().dirBegin));
    }

    // Keeps the descriptor count within budget by closing the shallowest open level. Its identity
    // is recorded first so that Leave can check the directory it gets back through "..".
    void MakeRoom() {
        if (open >= budget && pool != nullptr && pool->Take()) {
            ++budget;
            ++taken;
            return;
        }
        while (open >= budget && firstMaybeOpen + 1 < levels.size()) {
            Level& level = levels[firstMaybeOpen++];
            if (level.fd < 0) {
                continue;
            }
            struct stat st {};
            if (posix::Fstat(level.fd, &st) == 0) {
                level.identity = IdentityOf(st);
            } else {
                level.dead = true;
                level.listingError = errno != 0 ? errno : EIO;
            }
            CloseLevel(level);
        }
    }
};

DirectoryStack::DirectoryStack(std::size_t descriptorBudget)
    : m_impl(std::make_unique<Impl>(descriptorBudget)) {}
DirectoryStack::~DirectoryStack() = default;

bool DirectoryStack::OpenRoot(const std::string& path) {
    Impl& d = *m_impl;
    if (!d.levels.empty()) {
        return false;
    }
    assert(d.open == 0);
    FileIdentity identity;
    const int fd = OpenRootDirectory(path.c_str(), identity, d.rootMount);
    if (fd < 0) {
        d.lastError = errno;
        return false;
    }
    d.rootIdentity = identity;
    d.rootPath = path;
    if (!d.PushLevel(fd, identity)) {
        d.lastError = errno;
        return false;
    }
    return true;
}

bool DirectoryStack::AdoptRoot(HandedDirectory directory) {
    Impl& d = *m_impl;
    if (!d.levels.empty() || !directory.m_impl || directory.m_impl->fd < 0) {
        return false;
    }
    assert(d.open == 0);
    HandedDirectory::Impl& handed = *directory.m_impl;
    const int fd = std::exchange(handed.fd, -1);
    struct stat st {};
    if (posix::Fstat(fd, &st) != 0) {
        d.lastError = errno;
        CloseKeepErrno(fd);
        return false;
    }
    d.rootIdentity = IdentityOf(st);
    d.rootPath = std::move(handed.path);
    d.rootMount = handed.mount;
    if (!d.PushLevel(fd, d.rootIdentity)) {
        d.lastError = errno;
        return false;
    }
    return true;
}

std::optional<DirectoryStack::HandOff> DirectoryStack::HandOffLaterDirectory() {
    Impl& d = *m_impl;
    d.SkipSpentLevels();
    d.AssertInvariants();
    // A directory that cannot be opened stays the walk's: it meets it in its place and shows it
    // as it would any other. Only so many are tried per call, so a listing of thousands of
    // closed directories costs the giver no long pause.
    constexpr int kMostFailures = 16;
    int failures = 0;
    for (std::size_t i = d.FirstThatMayGive(); i + 1 < d.levels.size(); ++i) {
        if (!d.MayGive(i)) {
            continue;
        }
        Impl::Level& level = d.levels[i];
        while (d.HasDirectoryLeft(level)) {
            const std::size_t at = d.dirRecords[--level.dirEnd];
            char* const record = d.arena.data() + at;
            // Never the top's own listing, and never a record already given.
            assert(at >= level.pos && at < level.end && level.end <= d.levels.back().begin &&
                   records::KindAt(record) == records::Kind::Directory);
            const std::string_view name = records::NameAt(record);
            // All that can fail for want of memory comes before the directory is opened and
            // marked: a failure leaves neither a descriptor nor a record without its subtree.
            HandOff handOff;
            handOff.level = i;
            handOff.name.assign(name);
            handOff.directory.m_impl = std::make_unique<HandedDirectory::Impl>();
            HandedDirectory::Impl& handed = *handOff.directory.m_impl;
            handed.mount = d.rootMount;
            handed.path = d.PathOf(i);
            if (!handed.path.empty()) {
                if (handed.path.back() != '/') {
                    handed.path.push_back('/');
                }
                handed.path.append(handOff.name);
            }
            bool otherMount = false;
            handed.fd = OpenSubdirectory(level.fd, name.data(), d.rootMount, otherMount);
            if (handed.fd < 0) {
                if (++failures == kMostFailures) {
                    return std::nullopt;
                }
                continue;
            }
            records::SetKind(record, records::Kind::HandedOff);
            return handOff;
        }
    }
    return std::nullopt;
}

bool DirectoryStack::HasLaterDirectory() {
    Impl& d = *m_impl;
    d.SkipSpentLevels();
    d.AssertInvariants();
    for (std::size_t i = d.FirstThatMayGive(); i + 1 < d.levels.size(); ++i) {
        if (d.MayGive(i)) {
            return true;
        }
    }
    return false;
}

DirectoryStack::EnterResult DirectoryStack::EnterChild(std::string_view name) {
    Impl& d = *m_impl;
    if (d.levels.empty() || d.levels.back().fd < 0) {
        d.lastError = EBADF;
        return EnterResult::Unlistable;
    }
    d.MakeRoom();
    assert(d.levels.back().fd >= 0);  // MakeRoom never closes the top
    d.nameBuf.assign(name);
    bool otherMount = false;
    const int fd = OpenSubdirectory(d.levels.back().fd, d.nameBuf.c_str(), d.rootMount, otherMount);
    if (fd < 0) {
        d.lastError = errno;
        return otherMount ? EnterResult::Skipped : EnterResult::Unlistable;
    }
    // Where the child's name lies in this listing, should the child have to be found again.
    const std::size_t last = d.levels.back().last;
    const std::size_t nameRecord =
        last != Impl::kNoRecord && records::NameAt(d.arena.data() + last) == name ? last
                                                                                  : Impl::kNoRecord;
    if (!d.PushLevel(fd, {})) {
        d.lastError = errno;
        return EnterResult::Unlistable;
    }
    d.levels.back().nameRecord = nameRecord;
    return EnterResult::Entered;
}

void DirectoryStack::Leave() {
    Impl& d = *m_impl;
    if (d.levels.empty()) {
        return;
    }
    const std::size_t top = d.levels.size() - 1;
    // What the parent wanted when this level was entered; it has not moved since.
    assert(top == 0 ? !d.levels[0].needAbove
                    : d.levels[top].needAbove == Impl::WantsDescriptor(d.levels[top - 1]));
    if (top > 0) {
        Impl::Level& parent = d.levels[top - 1];
        Impl::Level& child = d.levels[top];
        // A parent closed to save descriptors that will never need one again (what is left of
        // its listing are files read with it) stays closed: the walk lists the rest from the
        // arena, and a chain of such directories is left without climbing back at all.
        if (parent.fd < 0 && !parent.dead && Impl::WantsDescriptor(parent)) {
            // The parent was closed to save descriptors: climb back through "..", and accept only
            // the very directory we left, so a tree moved meanwhile cannot steer the walk away.
            int fd = -1;
            if (child.fd >= 0) {
                fd = posix::Openat(child.fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            }
            struct stat st {};
            if (fd >= 0 && posix::Fstat(fd, &st) == 0 && IdentityOf(st) == parent.identity) {
                parent.fd = fd;
                ++d.open;
                d.firstMaybeOpen = std::min(d.firstMaybeOpen, top - 1);
            } else {
                if (fd >= 0) {
                    CloseKeepErrno(fd);
                }
                // One failed climb must not cost the rest of the walk: come down from the root.
                d.CloseLevel(child);
                errno = 0;
                parent.dead = !d.Reopen(top - 1);
                if (parent.dead) {
                    parent.listingError = errno != 0 ? errno : EIO;
                }
            }
        }
        d.CloseLevel(child);
    } else {
        d.CloseLevel(d.levels[top]);
    }
    d.arena.resize(d.levels[top].begin);
    d.dirRecords.resize(d.levels[top].dirBegin);
    d.levels.pop_back();
    d.lastTaggedName = nullptr;
    d.GiveBackSpare(d.levels.empty() ? 0 : kKeepSpare);
    d.firstMaybeOpen = std::min(d.firstMaybeOpen, d.levels.size());
    d.firstMayGive = std::min(d.firstMayGive, d.levels.size());
    d.AssertInvariants();
    // The new top holds its descriptor, or is dead, or lists the rest from the arena alone.
    assert(d.levels.empty() || d.levels.back().fd >= 0 || d.levels.back().dead ||
           !Impl::WantsDescriptor(d.levels.back()));
}

bool DirectoryStack::NextEntry(DirEntry& entry) {
    Impl& d = *m_impl;
    if (d.levels.empty()) {
        return false;
    }
    Impl::Level& level = d.levels.back();
    if (level.dead) {
        return false;
    }
    d.AssertInvariants();
    d.lastTaggedName = nullptr;
    entry.tag = kUnexamined;
    records::Record r;
    while (level.pos < level.end) {
        level.last = level.pos;
        level.pos =
            static_cast<std::size_t>(records::Read(d.arena.data() + level.pos, r) - d.arena.data());
        assert(level.pos <= level.end);
        entry.name = r.name;
        switch (r.kind) {
            case records::Kind::Directory:
                entry.type = EntryType::Directory;
                return true;
            case records::Kind::File:
                entry.type = EntryType::File;
                return true;
            case records::Kind::Tagged:
                entry.type = EntryType::File;
                entry.tag = r.tag;
                d.lastTaggedName = r.name.data();
                d.lastTaggedInfo = r.found ? std::optional<FileInfo>(r.info) : std::nullopt;
                return true;
            case records::Kind::HandedOff:
                entry.type = EntryType::HandedOff;
                return true;
            case records::Kind::Unknown:
                break;
        }
        // The file system did not say what it is (some network and FUSE file systems): ask. Such a
        // record never lies past lastNeed, so the level kept or got back its descriptor for it.
        assert(level.fd >= 0);
        struct stat st {};
        if (posix::Fstatat(level.fd, r.name.data(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            entry.type = EntryType::Directory;
            return true;
        }
        if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
            entry.type = EntryType::File;
            return true;
        }
    }
    d.AssertInvariants();
    return false;
}

void DirectoryStack::SetSpareThreads(SpareThreads* spare) {
    m_impl->spare = spare;
}

void DirectoryStack::SetDescriptorPool(DescriptorPool* pool) {
    Impl& d = *m_impl;
    assert(d.levels.empty() && d.taken == 0);
    d.pool = pool;
}

void DirectoryStack::SetExaminer(EntryExaminer* examiner) {
    m_impl->examiner = examiner;
}

std::optional<FileInfo> DirectoryStack::StatEntry(std::string_view name) {
    Impl& d = *m_impl;
    if (name.data() == d.lastTaggedName && d.lastTaggedName != nullptr) {
        return d.lastTaggedInfo;  // read with the listing
    }
    if (d.levels.empty() || d.levels.back().fd < 0) {
        return std::nullopt;
    }
    d.nameBuf.assign(name);
    return ReadFileInfo(d.levels.back().fd, d.nameBuf.c_str());
}

std::size_t DirectoryStack::Depth() const {
    return m_impl->levels.size();
}

bool DirectoryStack::TopIsSharedTemporary() const {
    const Impl& d = *m_impl;
    struct stat st {};
    return !d.levels.empty() && d.levels.back().fd >= 0 &&
           posix::Fstat(d.levels.back().fd, &st) == 0 && S_ISDIR(st.st_mode) &&
           (st.st_mode & S_ISVTX) != 0 && (st.st_mode & S_IWOTH) != 0;
}

int DirectoryStack::LastError() const {
    return m_impl->lastError;
}

int DirectoryStack::ListingError() const {
    return m_impl->levels.empty() ? 0 : m_impl->levels.back().listingError;
}

RootIdentity DirectoryStack::RootIdentity() const {
    return {m_impl->rootIdentity, m_impl->rootMount.mountId};
}
std::size_t DirectoryStack::DescriptorBudget() const {
    return m_impl->budget;
}
std::size_t DirectoryStack::ProcessDescriptorShare() {
    return DirectoryDescriptorBudget();
}
void DirectoryStack::ReserveDescriptorRoom() {
    // The walk's descriptors take the lowest free numbers, from the one this open gets. One
    // numbered past them all makes the kernel grow the table to hold it; closing it keeps the
    // room. Refused (EINVAL) past the soft limit: nothing to gain then. (The system's own calls,
    // not the walk's: this is no part of the walk.)
    const int fd = ::open("/", O_PATH | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    constexpr std::size_t kBesides = 8;  // a directory being handed off, a root found again
    const int far =
        ::fcntl(fd, F_DUPFD_CLOEXEC, fd + static_cast<int>(ProcessDescriptorShare() + kBesides));
    if (far >= 0) {
        ::close(far);
    }
    ::close(fd);
}
std::size_t DirectoryStack::OpenDescriptors() const {
    return m_impl->open;
}

}  // namespace clearnook::platform
