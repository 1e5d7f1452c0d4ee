// The state of a DirectoryStack, shared by the two files that implement it: directory_stack.cpp
// (its levels, listed, gone through and climbed back into) and directory_stack_sharing.cpp (its
// descriptors, and what it shares with other walkers). Portable: the system is reached only
// through listing_reader.h. Internal to the platform layer.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/directory_stack.h"
#include "platform/fs_services.h"
#include "platform/listing_reader.h"

namespace clearnook::platform {

class DescriptorPool;

// An arena offset that names no record.
inline constexpr std::size_t kNoRecord = static_cast<std::size_t>(-1);

struct DirectoryStack::Impl {
    // Descriptors a stack keeps from its pool beyond those it holds open.
    static constexpr std::size_t kKeepSpare = 4;

    // One directory on the path. Its listing's records lie in the arena, after its parent's.
    struct Level {
        int fd = -1;
        FileIdentity identity;  // known for the root, and for a level once it has been evicted
        std::size_t begin = 0;  // its listing in the arena: [begin, end)
        std::size_t end = 0;
        std::size_t pos = 0;       // the next record NextEntry looks at
        std::size_t dirBegin = 0;  // its subdirectories' records, in dirRecords: [dirBegin, dirEnd)
        std::size_t dirEnd = 0;    // (those handed off are cut from the end)
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

    std::vector<Level> levels;
    std::vector<char> arena;              // the levels' records (listing_records.h)
    std::vector<std::size_t> dirRecords;  // arena offsets of the levels' subdirectory records
    ListingReader reader;
    std::string nameBuf;     // a name made NUL-terminated for the system
    std::size_t budget = 2;  // its own, and those taken from the pool
    std::size_t open = 0;
    DescriptorPool* pool = nullptr;
    std::size_t taken = 0;           // from the pool, and not yet given back
    std::size_t firstMaybeOpen = 0;  // every level before it is closed
    std::size_t firstMayGive = 0;    // every level before it has no subdirectory left to hand off
    RootMount rootMount;
    FileIdentity rootIdentity;  // of the directory OpenRoot opened; kept after the walk leaves it
    std::string rootPath;       // as OpenRoot was given it
    int lastError = 0;          // of the last OpenRoot, AdoptRoot or EnterChild that failed
    // The name of the tagged record NextEntry returned last, and what was read of it.
    const char* lastTaggedName = nullptr;
    std::optional<FileInfo> lastTaggedInfo;

    Impl();
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    // ---- Levels (directory_stack.cpp) ----

    // Pushes a level for the open directory `fd`, listing it. False (and `fd` closed) when it
    // cannot be listed; std::bad_alloc (and `fd` closed) when memory runs out.
    bool PushLevel(int fd, FileIdentity identity);
    // Pops the top level, closing its descriptor.
    void PopLevel();
    void CloseLevel(Level& level);
    // The level will still need its descriptor, or will be climbed through to a level that will.
    static bool WantsDescriptor(const Level& level) {
        return (level.lastNeed != kNoRecord && level.lastNeed >= level.pos) || level.needAbove;
    }

    // ---- The descriptor budget (directory_stack_sharing.cpp) ----

    void MakeRoom();
    void GiveBackSpare(std::size_t keep = 0);

    // ---- Climbing back (directory_stack.cpp) ----

    void ClimbBackInto(std::size_t parent);
    bool Reopen(std::size_t target);

    // ---- Hand-off (directory_stack_sharing.cpp) ----

    // Whether `level` has a subdirectory the walk has not reached (and so never will again,
    // while it is on the stack) and has not handed off.
    [[nodiscard]] bool HasDirectoryLeft(const Level& level) const {
        return level.dirEnd != level.dirBegin && dirRecords[level.dirEnd - 1] >= level.pos;
    }
    // Whether level `i` may still hand off a subdirectory: it has one left and its descriptor.
    [[nodiscard]] bool MayGive(std::size_t i) const {
        return HasDirectoryLeft(levels[i]) && levels[i].fd >= 0 && !levels[i].dead;
    }
    void SkipSpentLevels();
    // The first level that may give, once SkipSpentLevels has run.
    [[nodiscard]] std::size_t FirstThatMayGive() const;
    [[nodiscard]] std::string PathOf(std::size_t index) const;

    // ---- Invariants (directory_stack.cpp) ----

    void AssertInvariants() const;
};

}  // namespace clearnook::platform
