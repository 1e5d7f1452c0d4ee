// The directory stack: the directories from a walk's root down to the one it lists, each listing
// read whole into one arena, descriptors bounded whatever the depth. Portable: the system is
// reached only through listing_reader.h, so a port writes a reader, not a stack.
//
// Its parts:
//
//   Levels          One Level per directory on the path (directory_stack_impl.h). Its listing is
//                   a run of records in the arena (listing_records.h), after its parent's; its
//                   subdirectories' records are listed again in dirRecords, for the hand-off.
//   Listing         PushLevel has the reader go through the directory and a ListingAppender
//                   write what it hands on. A level that is not pushed after all (unlistable,
//                   or memory ran out) leaves neither records nor a descriptor behind
//                   (PushGuard).
//   Going through   NextEntry and StatEntry decode the top level's records one at a time.
//   Budget          MakeRoom keeps the descriptors within the stack's budget by closing the
//                   shallowest open level, after taking one more from the pool if it can;
//                   GiveBackSpare returns what the stack no longer needs to the pool
//                   (directory_stack_sharing.cpp, with the pool).
//   Climbing back   Leave gets a closed parent back through ".." (ClimbBackInto), or from the root
//                   down (Reopen), checking each directory is the one it left. A parent that
//                   needs no descriptor any more stays closed: it lists from the arena alone.
//   Hand-off        Giving subdirectories not reached yet to other walkers, adopting one, and
//                   the pool and spare threads they share: directory_stack_sharing.cpp.
//   Invariants      AssertInvariants, at the end of each operation.
#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/directory_stack.h"
#include "platform/directory_stack_impl.h"
#include "platform/fs_services.h"
#include "platform/listing_reader.h"
#include "platform/listing_records.h"

namespace clearnook::platform {
namespace {

namespace records = listing_records;

// Writes the entries the reader hands on as records at the end of the arena, and notes the last
// one that will need the directory's descriptor.
class ListingAppender final : public ListingSink {
  public:
    ~ListingAppender() override = default;
    ListingAppender(const ListingAppender&) = delete;
    ListingAppender& operator=(const ListingAppender&) = delete;
    ListingAppender(std::vector<char>& arena, std::vector<std::size_t>& dirRecords)
        : m_arena(arena), m_dirRecords(dirRecords) {}

    void Add(const ListedEntry& entry) override {
        if (entry.tag != 0) {
            // Read with the listing: the walk will not need the descriptor for it.
            records::Append(m_arena, {.kind = records::Kind::Tagged,
                                      .name = entry.name,
                                      .tag = entry.tag,
                                      .found = entry.info.has_value(),
                                      .info = entry.info.value_or(FileInfo{})});
            return;
        }
        const std::size_t at = m_arena.size();
        m_lastNeed = at;
        records::Kind kind = records::Kind::File;
        if (entry.type == ListedType::Directory) {
            m_dirRecords.push_back(at);
            kind = records::Kind::Directory;
        } else if (entry.type == ListedType::Unknown) {
            kind = records::Kind::Unknown;
        }
        records::Append(m_arena, {.kind = kind, .name = entry.name});
    }

    // The arena offset of the last record that needs the descriptor; kNoRecord for none.
    [[nodiscard]] std::size_t LastNeed() const { return m_lastNeed; }

  private:
    std::vector<char>& m_arena;
    std::vector<std::size_t>& m_dirRecords;
    std::size_t m_lastNeed = kNoRecord;
};

// A level being pushed, undone unless it is kept: its records leave the arena and its
// descriptor is closed (errno kept), also when memory runs out part way.
class PushGuard {
  public:
    PushGuard(std::vector<char>& arena, std::vector<std::size_t>& dirRecords, int fd)
        : m_arena(arena),
          m_dirRecords(dirRecords),
          m_fd(fd),
          m_begin(arena.size()),
          m_dirBegin(dirRecords.size()) {}
    ~PushGuard() {
        if (m_fd >= 0) {
            m_arena.resize(m_begin);
            m_dirRecords.resize(m_dirBegin);
            CloseKeepErrno(m_fd);
        }
    }
    PushGuard(const PushGuard&) = delete;
    PushGuard& operator=(const PushGuard&) = delete;

    void Keep() { m_fd = -1; }

  private:
    std::vector<char>& m_arena;
    std::vector<std::size_t>& m_dirRecords;
    int m_fd;
    std::size_t m_begin;
    std::size_t m_dirBegin;
};

}  // namespace

// ---- Levels ----

DirectoryStack::Impl::Impl() : budget(DirectoryDescriptorBudget()) {}

DirectoryStack::Impl::~Impl() {
    for (Level& level : levels) {
        CloseLevel(level);
    }
    GiveBackSpare();
}

bool DirectoryStack::Impl::PushLevel(int fd, FileIdentity identity) {
    PushGuard guard(arena, dirRecords, fd);
    const std::size_t begin = arena.size();
    const std::size_t dirBegin = dirRecords.size();
    if (levels.size() == levels.capacity()) {  // so that the push below cannot throw
        levels.reserve(std::max<std::size_t>(16, 2 * levels.size()));
    }
    ListingAppender appender(arena, dirRecords);
    const ListingOutcome outcome = reader.Read(fd, appender);
    if (!outcome.listed) {
        return false;
    }
    assert(appender.LastNeed() == kNoRecord ||
           (appender.LastNeed() >= begin && appender.LastNeed() < arena.size()));
    Level level;
    level.dirBegin = dirBegin;
    level.dirEnd = dirRecords.size();
    level.fd = fd;
    level.identity = identity;
    level.listingError = outcome.partError;
    level.lastNeed = appender.LastNeed();
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

void DirectoryStack::Impl::PopLevel() {
    Level& top = levels.back();
    CloseLevel(top);
    arena.resize(top.begin);
    dirRecords.resize(top.dirBegin);
    levels.pop_back();
    lastTaggedName = nullptr;
    GiveBackSpare(levels.empty() ? 0 : kKeepSpare);
    firstMaybeOpen = std::min(firstMaybeOpen, levels.size());
    firstMayGive = std::min(firstMayGive, levels.size());
}

void DirectoryStack::Impl::CloseLevel(Level& level) {
    if (level.fd >= 0) {
        assert(open > 0);
        CloseKeepErrno(level.fd);
        level.fd = -1;
        --open;
    }
}

// ---- Climbing back ----

// Before the level above it is popped: gives level `parent` its descriptor back if it was closed
// to save descriptors and will need one again. A parent that will not (what is left of its
// listing are files read with it) stays closed: the walk lists the rest from the arena, and a
// chain of such directories is left without climbing back at all.
void DirectoryStack::Impl::ClimbBackInto(std::size_t parentIndex) {
    Level& parent = levels[parentIndex];
    Level& child = levels[parentIndex + 1];
    if (parent.fd >= 0 || parent.dead || !WantsDescriptor(parent)) {
        return;
    }
    // Through "..", accepting only the very directory we left, so a tree moved meanwhile cannot
    // steer the walk away.
    const int fd = child.fd >= 0 ? OpenParentDirectory(child.fd) : -1;
    FileIdentity identity;
    if (fd >= 0 && IdentityOfOpen(fd, identity) && identity == parent.identity) {
        parent.fd = fd;
        ++open;
        firstMaybeOpen = std::min(firstMaybeOpen, parentIndex);
        return;
    }
    if (fd >= 0) {
        CloseKeepErrno(fd);
    }
    // One failed climb must not cost the rest of the walk: come down from the root.
    CloseLevel(child);
    errno = 0;
    parent.dead = !Reopen(parentIndex);
    if (parent.dead) {
        parent.listingError = errno != 0 ? errno : EIO;
    }
}

// Gives the closed level `target` its descriptor back when climbing through ".." could not: opens
// the root again by its path and comes down one name at a time, accepting each directory only if
// it is the very one the walk left there. Only called when every level above `target` is closed,
// so it never holds more than two descriptors. False when some directory on the way cannot be
// opened or is not the one left there.
bool DirectoryStack::Impl::Reopen(std::size_t target) {
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
        const std::string_view name = records::NameAt(arena.data() + level.nameRecord);
        bool otherMount = false;
        const int child = OpenSubdirectory(fd, name.data(), rootMount, otherMount);
        CloseKeepErrno(fd);
        if (child < 0) {
            return false;
        }
        if (!IdentityOfOpen(child, identity) || identity != level.identity) {
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

// ---- Invariants ----

// What holds between the stack's operations. Each checks it before it returns (in the builds that
// keep assertions).
void DirectoryStack::Impl::AssertInvariants() const {
    assert(open <= budget && taken <= budget && (pool != nullptr || taken == 0));
    assert(firstMaybeOpen <= levels.size() &&
           (firstMaybeOpen == 0 || levels[firstMaybeOpen - 1].fd < 0));
    assert(firstMayGive <= levels.size() &&
           (firstMayGive == 0 || !HasDirectoryLeft(levels[firstMayGive - 1])));
    assert(!levels.empty() || (open == 0 && arena.empty() && dirRecords.empty()));
    // The top's listing ends the arena, and lies after the one below, as its subdirectories do.
    assert(levels.empty() ||
           (levels.back().begin <= levels.back().pos && levels.back().pos <= levels.back().end &&
            levels.back().end == arena.size() && levels.back().dirBegin <= levels.back().dirEnd &&
            levels.back().dirEnd <= dirRecords.size()));
    assert(levels.size() < 2 || (levels[levels.size() - 2].end <= levels.back().begin &&
                                 levels[levels.size() - 2].dirEnd <= levels.back().dirBegin));
}

// ---- The stack's operations ----

DirectoryStack::DirectoryStack() : m_impl(std::make_unique<Impl>()) {}
DirectoryStack::~DirectoryStack() = default;

bool DirectoryStack::OpenRoot(const std::string& path) {
    Impl& d = *m_impl;
    if (!d.levels.empty()) {
        return false;
    }
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
        last != kNoRecord && records::NameAt(d.arena.data() + last) == name ? last : kNoRecord;
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
        d.ClimbBackInto(top - 1);
    }
    d.PopLevel();
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
        // The file system did not say what it is: ask. Such a record never lies past lastNeed,
        // so the level kept or got back its descriptor for it.
        assert(level.fd >= 0);
        const EntryType type = TypeAt(level.fd, r.name.data());
        if (type != EntryType::Other) {
            entry.type = type;
            return true;
        }
    }
    d.AssertInvariants();
    return false;
}

void DirectoryStack::SetExaminer(EntryExaminer* examiner) {
    m_impl->reader.SetExaminer(examiner);
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
    return !d.levels.empty() && d.levels.back().fd >= 0 && IsSharedTemporary(d.levels.back().fd);
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

}  // namespace clearnook::platform
