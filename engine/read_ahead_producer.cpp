#include "engine/read_ahead_producer.h"

#include <algorithm>
#include <cassert>
#include <optional>
#include <utility>

#include "engine/read_ahead_coordinator.h"

namespace clearnook::read_ahead {
namespace {

PathClassifier ClassifierFor(Subtree& subtree, const std::string* rootPath, RuleSet rules) {
    return rootPath != nullptr ? PathClassifier(*rootPath, rules) : std::move(*subtree.classifier);
}

}  // namespace

using walk_records::Kind;

}  // namespace clearnook::read_ahead

namespace clearnook {

bool TreeWalker::Adopt(platform::HandedDirectory directory, std::string_view name) {
    static_cast<void>(m_sink.Push(name));
    if (!platform::StackSharing::AdoptRoot(m_dirs, std::move(directory))) {
        m_sink.Unlistable(m_dirs.LastError());
        return false;
    }
    CheckSharedTemporary();
    m_sink.Entered();
    return true;
}

}  // namespace clearnook

namespace clearnook::read_ahead {

Producer::Producer(Coordinator& walk) : m_walk(walk) {}

void Producer::Begin(Subtree& subtree, const std::string* rootPath) {
    PathClassifier classifier = ClassifierFor(subtree, rootPath, m_walk.State().results.rules);
    if (m_walker && m_walker->Finished()) {
        m_walker->Restart(std::move(classifier));  // keeps the stack's buffers
    } else {
        m_walker.emplace(*this, std::move(classifier), m_walk.State());
        platform::DirectoryStack& stack = m_walker->Stack();
        platform::StackSharing::SetDescriptorBudget(stack, m_walk.DescriptorsEach());
        platform::StackSharing::SetSpareThreads(stack, this);
        platform::StackSharing::SetDescriptorPool(stack, &m_walk.SharedDescriptors());
    }
    m_baseDepth = m_walker->Classifier().Depth();
    m_subtree = &subtree;
    m_rootPath = rootPath;
    m_depth = 0;
    m_chunk = nullptr;
    m_off = 0;
    m_published = 0;
    m_started = false;
    m_offerable = false;
}

Producer::Step Producer::Walk() {
    if (!m_started) {
        m_started = true;
        const bool opened = m_rootPath != nullptr
                                ? m_walker->OpenRoot(*m_rootPath)
                                : m_walker->Adopt(std::move(m_subtree->directory), m_subtree->name);
        if (!opened) {
            Publish();
            return Step::Done;
        }
    }
    if (m_subtree->abandoned.load(std::memory_order_relaxed)) {
        for (std::size_t i = 0; i < m_depth; ++i) {
            Abandon(m_handed[i]);
        }
        m_walker.reset();  // its descriptors go now, not when the worker next starts
        return Step::Done;
    }
    if (m_walk.ShouldPause(*m_subtree)) {
        Publish();
        return Step::Paused;
    }
    switch (m_walker->Walk()) {
        case TreeWalker::Progress::More:
            Publish();
            return Step::More;
        case TreeWalker::Progress::Done:
            Publish();
            return Step::Done;
        case TreeWalker::Progress::Stopped:
            break;
    }
    return Step::Stopped;
}

bool Producer::BeforeEntry() {
    if (m_walk.Stopping()) {
        return false;
    }
    if (m_offerable && m_walk.SomeoneAsks()) {
        Offer();
    }
    return true;
}

char* Producer::Reserve(std::size_t size) {
    if (m_chunk == nullptr || m_off + size > m_chunk->capacity) {
        const std::size_t capacity =
            m_chunk == nullptr ? kFirstChunk : std::min(m_chunk->capacity * 4, kLargestChunk);
        auto next = std::make_unique<walk_records::Chunk>(capacity);
        walk_records::Chunk* const nextRaw = next.get();
        m_walk.Publish(*m_subtree, m_chunk, m_off, std::move(next));
        m_chunk = nextRaw;
        m_off = 0;
        m_published = 0;
    }
    return m_chunk->bytes.get() + m_off;
}

void Producer::Write(const walk_records::Record& record) {
    char* const at = Reserve(walk_records::SizeOf(record.kind, record.name.size()));
    Wrote(walk_records::Write(at, record));
}

void Producer::Publish() {
    if (m_chunk != nullptr && m_off != m_published) {
        m_walk.Publish(*m_subtree, m_chunk, m_off, nullptr);
        m_published = m_off;
    }
}

void Producer::Opened() {
    if (m_depth == m_handed.size()) {
        m_handed.emplace_back();
    }
    assert(m_handed[m_depth].empty());
    ++m_depth;
    m_offerable = true;
}

void Producer::RootEntered(const platform::RootIdentity& identity) {
    Write({.kind = Kind::RootEntered, .root = identity});
    Opened();
}

void Producer::RootUnlistable(int error) {
    Write({.kind = Kind::RootUnlistable, .error = error});
}

std::string_view Producer::Push(std::string_view name) {
    // Written now, as Entered, with room to become Unlistable: the record's copy of the name
    // outlives the listing, which entering the directory may move. Not yet counted as written:
    // a directory on another mount leaves no record.
    m_pushed = Reserve(walk_records::SizeOf(Kind::Unlistable, name.size()));
    char* const end = walk_records::Write(m_pushed, {.kind = Kind::Entered, .name = name});
    m_pushedName = std::string_view(end - name.size(), name.size());
    return m_pushedName;
}

void Producer::Entered() {
    Wrote(m_pushed + walk_records::SizeOf(Kind::Entered, m_pushedName.size()));
    Opened();
}

void Producer::Unlistable(int error) {
    Wrote(walk_records::Write(m_pushed,
                              {.kind = Kind::Unlistable, .name = m_pushedName, .error = error}));
}

void Producer::CutShort(int error) {
    Write({.kind = Kind::CutShort, .error = error});
}

void Producer::Left() {
    Abandon(m_handed[--m_depth]);  // none, unless the listing ended early
    Write({.kind = Kind::Left});
}

void Producer::Record(CleanupCategory category, std::uint64_t size,
                      const platform::FileIdentity& identity, std::string_view name) {
    Write({.kind = Kind::File,
           .name = name,
           .category = category,
           .size = size,
           .identity = identity});
}

void Producer::HandedOff() {
    std::vector<Subtree*>& handed = m_handed[m_depth - 1];
    Write({.kind = Kind::Subtree, .subtree = handed.back()});
    handed.pop_back();
}

void Producer::Offer() {
    if (!platform::StackSharing::HasLaterDirectory(m_walker->Stack())) {
        m_offerable = false;  // until a listing is read; a chain of directories gives nothing
        return;
    }
    Worker* const taker = m_walk.Promise();
    if (taker == nullptr) {
        return;  // another producer got there first
    }
    std::optional<platform::StackSharing::HandOff> handOff =
        platform::StackSharing::HandOffLaterDirectory(m_walker->Stack());
    if (!handOff) {
        m_offerable = false;  // until a listing is read
        m_walk.Release(*taker);
        return;
    }
    Subtree& subtree = m_walk.NewSubtree();
    m_handed[handOff->level].push_back(&subtree);
    subtree.name = std::move(handOff->name);
    auto classifier =
        std::make_unique<PathClassifier>(m_walker->Classifier(), m_baseDepth + handOff->level);
    classifier->EnterDirectory(subtree.name);
    subtree.classifier = std::move(classifier);
    subtree.directory = std::move(handOff->directory);
    m_walk.Give(*taker, subtree);
}

bool Producer::TryRun(std::function<void()> work) {
    if (!m_walk.SomeoneAsks()) {
        return false;
    }
    Worker* const worker = m_walk.Promise();
    if (worker == nullptr) {
        return false;
    }
    m_walk.Lend(*worker, std::move(work));
    return true;
}

void Producer::Abandon(std::vector<Subtree*>& handed) {
    for (Subtree* subtree : handed) {
        m_walk.Abandon(*subtree);
    }
    handed.clear();
}

}  // namespace clearnook::read_ahead
