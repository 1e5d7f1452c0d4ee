// What a directory stack shares with the other walkers of a tree: subdirectories it has not
// reached yet, handed to another stack to adopt as its root; descriptors, its own budget and a
// pool's on top of it; threads to spare for long listings. Portable, as directory_stack.cpp is.
#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/directory_stack.h"
#include "platform/directory_stack_impl.h"
#include "platform/fs_services.h"
#include "platform/linux_testing.h"
#include "platform/listing_reader.h"
#include "platform/listing_records.h"
#include "platform/read_ahead_support.h"

namespace clearnook::platform {

namespace records = listing_records;

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

// ---- Which levels may give ----

// Moves firstMayGive past the levels that have no subdirectory left to give. A level that has
// none never has one again while it is on the stack (its position only moves on, and its
// subdirectories are only given away), so each is passed once, and a deep chain costs no scan
// per hand-off.
void DirectoryStack::Impl::SkipSpentLevels() {
    while (firstMayGive + 1 < levels.size() && !HasDirectoryLeft(levels[firstMayGive])) {
        ++firstMayGive;
    }
}

std::size_t DirectoryStack::Impl::FirstThatMayGive() const {
    return std::max(firstMayGive, firstMaybeOpen);  // a closed level cannot open what it gives
}

// The path of level `index` as the walk would open it from its root's path; empty where a name
// on the way is not known.
std::string DirectoryStack::Impl::PathOf(std::size_t index) const {
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

// ---- Handing off and adopting ----

bool StackSharing::AdoptRoot(DirectoryStack& stack, HandedDirectory directory) {
    DirectoryStack::Impl& d = *stack.m_impl;
    if (!d.levels.empty() || !directory.m_impl || directory.m_impl->fd < 0) {
        return false;
    }
    HandedDirectory::Impl& handed = *directory.m_impl;
    const int fd = std::exchange(handed.fd, -1);
    if (!IdentityOfOpen(fd, d.rootIdentity)) {
        d.lastError = errno;
        CloseKeepErrno(fd);
        return false;
    }
    d.rootPath = std::move(handed.path);
    d.rootMount = handed.mount;
    if (!d.PushLevel(fd, d.rootIdentity)) {
        d.lastError = errno;
        return false;
    }
    return true;
}

std::optional<StackSharing::HandOff> StackSharing::HandOffLaterDirectory(DirectoryStack& stack) {
    using Impl = DirectoryStack::Impl;
    Impl& d = *stack.m_impl;
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
                handed.path.append(name);
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

bool StackSharing::HasLaterDirectory(DirectoryStack& stack) {
    DirectoryStack::Impl& d = *stack.m_impl;
    d.SkipSpentLevels();
    d.AssertInvariants();
    for (std::size_t i = d.FirstThatMayGive(); i + 1 < d.levels.size(); ++i) {
        if (d.MayGive(i)) {
            return true;
        }
    }
    return false;
}

// ---- The descriptor budget and the pool ----

// Keeps the descriptor count within budget by closing the shallowest open level. Its identity
// is recorded first so that Leave can check the directory it gets back through "..".
void DirectoryStack::Impl::MakeRoom() {
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
        if (!IdentityOfOpen(level.fd, level.identity)) {
            level.dead = true;
            level.listingError = errno != 0 ? errno : EIO;
        }
        CloseLevel(level);
    }
}

// Gives the pool back what this stack took beyond what it holds open and `keep` to spare: a walk
// that goes up and down a level or two does not touch the pool every time.
void DirectoryStack::Impl::GiveBackSpare(std::size_t keep) {
    const std::size_t unneeded = std::min(taken, budget - std::min(budget, open + keep));
    if (unneeded != 0) {
        budget -= unneeded;
        taken -= unneeded;
        pool->Give(unneeded);
    }
}

void StackSharing::SetSpareThreads(DirectoryStack& stack, SpareThreads* spare) {
    stack.m_impl->reader.SetSpareThreads(spare);
}

void StackSharing::SetDescriptorPool(DirectoryStack& stack, DescriptorPool* pool) {
    DirectoryStack::Impl& d = *stack.m_impl;
    assert(d.levels.empty() && d.taken == 0);
    d.pool = pool;
}

void StackSharing::SetDescriptorBudget(DirectoryStack& stack, std::size_t budget) {
    DirectoryStack::Impl& d = *stack.m_impl;
    assert(d.levels.empty() && d.taken == 0);
    d.budget = budget == 0 ? DirectoryDescriptorBudget() : std::max<std::size_t>(budget, 2);
    d.AssertInvariants();
}

std::size_t StackSharing::DescriptorBudget(const DirectoryStack& stack) {
    return stack.m_impl->budget;
}

std::size_t TestObserver::OpenDescriptors(const DirectoryStack& stack) {
    return stack.m_impl->open;
}

std::size_t StackSharing::ProcessDescriptorShare() {
    return DirectoryDescriptorBudget();
}

void StackSharing::ReserveDescriptorRoom() {
    // The walk's descriptors take the lowest free numbers: room for its share, and for a
    // directory being handed off and a root found again.
    constexpr std::size_t kBesides = 8;
    ReserveDescriptorTable(ProcessDescriptorShare() + kBesides);
}

}  // namespace clearnook::platform
