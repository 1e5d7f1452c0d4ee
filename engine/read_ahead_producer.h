// A reader of the read-ahead walk: walks one subtree on one thread and writes what it meets as
// records, and gives a directory it has not reached yet to a thread that asks for work.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/path_classifier.h"
#include "engine/tree_walker.h"
#include "engine/walk_records.h"
#include "platform/read_ahead_support.h"

namespace clearnook::read_ahead {

// One subtree's records in walk order: the root's, or those of a directory handed off.
struct Subtree {
    // Under the walk's lock: the scan thread replays the front chunk, the producer writes the
    // back.
    std::deque<std::unique_ptr<walk_records::Chunk>> chunks;
    bool complete = false;  // under the walk's lock: its producer wrote its last record
    // Its place in the walk was lost (the directory it lies in could not be found again): nobody
    // will replay it, so its producer stops and its records go.
    std::atomic<bool> abandoned{false};
    // Set by the thread that hands it off before anyone else can see it; then its producer's.
    std::string name;
    platform::HandedDirectory directory;
    std::unique_ptr<PathClassifier> classifier;
};

class Coordinator;

class Producer final : public WalkSink, public platform::SpareThreads {
  public:
    // A worker's producer, kept from one subtree to the next.
    explicit Producer(Coordinator& walk);

    // Starts on the walk's root (`rootPath`), or, with `rootPath` null, on the subtree handed
    // off in `subtree`. The subtree before, if any, is done.
    void Begin(Subtree& subtree, const std::string* rootPath);

    enum class Step { More, Paused, Done, Stopped };
    // Walks a batch of entries. Paused: the records not yet replayed fill the walk's budget and
    // this subtree is not the one being replayed.
    [[nodiscard]] Step Walk();
    [[nodiscard]] Subtree& Target() { return *m_subtree; }

  private:
    bool BeforeEntry() override;
    void RootEntered(const platform::RootIdentity& identity) override;
    void RootUnlistable(int error) override;
    std::string_view Push(std::string_view name) override;
    void Entered() override;
    void Unlistable(int error) override;
    void Skipped() override {}  // a directory on another mount leaves no record
    void CutShort(int error) override;
    void Left() override;
    void Record(CleanupCategory category, std::uint64_t size,
                const platform::FileIdentity& identity, std::string_view name) override;
    void HandedOff() override;
    // Lends a worker that asks for work to the walker's stack, for a long listing.
    bool TryRun(std::function<void()> work) override;

    // Room for `size` more bytes of records.
    char* Reserve(std::size_t size);
    void Wrote(const char* end) { m_off = static_cast<std::size_t>(end - m_chunk->bytes.get()); }
    void Write(const walk_records::Record& record);
    void Publish();
    // A directory was entered: its listing may have subdirectories to give away.
    void Opened();
    // Gives a thread that asked a directory this producer has not reached.
    void Offer();
    // Abandons the subtrees handed off from a level that will not be listed any further.
    void Abandon(std::vector<Subtree*>& handed);

    Coordinator& m_walk;
    Subtree* m_subtree = nullptr;
    const std::string* m_rootPath = nullptr;
    // Made again only where a subtree was abandoned part way, its stack not emptied.
    std::optional<TreeWalker> m_walker;
    std::size_t m_baseDepth = 0;  // the classifier's depth in this subtree's root
    // Per level of the walker's stack (the first m_depth): the subtrees handed off from its
    // listing, the last in listing order first (a level hands off from its end backwards). The
    // lists of levels left are kept, emptied, for the next levels that deep: entering a directory
    // allocates nothing.
    std::vector<std::vector<Subtree*>> m_handed;
    std::size_t m_depth = 0;
    walk_records::Chunk* m_chunk = nullptr;
    std::size_t m_off = 0;        // end of what is written in m_chunk
    std::size_t m_published = 0;  // end of what is published of m_chunk
    char* m_pushed = nullptr;     // the record of the directory pushed last
    std::string_view m_pushedName;
    bool m_started = false;
    bool m_offerable = false;  // a listing was read since the last hand-off found nothing
};

}  // namespace clearnook::read_ahead
