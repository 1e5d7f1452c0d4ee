// The walk through a tree, depth first and pre-order, with what it meets told to a sink: the one
// loop behind both walks. The one-thread walk's sink puts everything out at once; a read-ahead
// reader's sink writes it down as records for the scan thread to replay.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "engine/path_classifier.h"
#include "engine/scan.h"
#include "engine/walk_sink.h"
#include "platform/directory_stack.h"

namespace clearnook {
namespace platform {
class HandedDirectory;
}

// Counts the entries one thread reads into ScanState::entriesSeen, a batch at a time, so the
// listing loop does no atomic operation per entry. What is left is added on destruction.
class EntryCounter {
  public:
    explicit EntryCounter(ScanState& state) : m_total(state.entriesSeen) {}
    ~EntryCounter() { Flush(); }
    EntryCounter(const EntryCounter&) = delete;
    EntryCounter& operator=(const EntryCounter&) = delete;

    void Count() {
        if (++m_pending == kBatch) {
            Flush();
        }
    }
    void Flush() {
        if (m_pending != 0) {
            m_total.fetch_add(m_pending, std::memory_order_relaxed);
            m_pending = 0;
        }
    }

  private:
    static constexpr unsigned kBatch = 256;
    std::atomic<std::uint64_t>& m_total;
    unsigned m_pending = 0;
};

// A verdict as a listing's tag: 0 for none, its category + 1, or for a category a file takes
// only once old enough, kAgedTag + its days.
inline constexpr std::uint8_t kAgedTag = 64;
static_assert(CATEGORY_COUNT <= kAgedTag, "a category's tag would be read as an age");
[[nodiscard]] constexpr std::uint8_t TagOf(const Verdict& v) {
    if (!v.matched) {
        return 0;
    }
    return v.olderThanDays != 0 ? static_cast<std::uint8_t>(kAgedTag + v.olderThanDays)
                                : static_cast<std::uint8_t>(static_cast<int>(v.category) + 1);
}
[[nodiscard]] constexpr Verdict VerdictOf(std::uint8_t tag) {
    if (tag == 0) {
        return {};
    }
    return tag > kAgedTag ? Verdict{true, CAT_TEMP_FILES, static_cast<std::uint8_t>(tag - kAgedTag)}
                          : Verdict{true, static_cast<CleanupCategory>(tag - 1), 0};
}

// Tags each file of a listing, as the listing is read, with TagOf its verdict, as `classifier`
// sees it in the directory the walk is about to list. It counts each file it sees: those it does
// not tag the walk never meets again.
class CategoryExaminer final : public platform::EntryExaminer {
  public:
    CategoryExaminer(PathClassifier& classifier, EntryCounter& entries)
        : m_classifier(classifier), m_entries(entries) {}
    [[nodiscard]] std::uint8_t TagFile(std::string_view name) override {
        m_entries.Count();
        return TagOf(m_classifier.Classify(name));
    }

  private:
    PathClassifier& m_classifier;
    EntryCounter& m_entries;
};

// Walks one tree (a walk's root, or a directory handed over) with its own directory stack, one
// batch of entries at a time. One thread at a time.
class TreeWalker {
  public:
    // `classifier` stands in the directory the walk starts from.
    TreeWalker(WalkSink& sink, PathClassifier classifier, ScanState& state);
    ~TreeWalker() = default;
    TreeWalker(const TreeWalker&) = delete;
    TreeWalker& operator=(const TreeWalker&) = delete;

    // Opens the walk's root and tells the sink RootEntered or RootUnlistable. False: nothing to
    // walk.
    bool OpenRoot(const std::string& path);
    // Starts in a directory another walker handed over, as if entering `name` (Push, then
    // Entered or Unlistable). False: nothing to walk. Defined with the read-ahead walk, the one
    // walk that hands directories over, where it exists.
    bool Adopt(platform::HandedDirectory directory, std::string_view name);

    // Starts over with a classifier standing in another directory, for OpenRoot or Adopt;
    // keeps the stack's buffers. Only once the walk before is Finished.
    void Restart(PathClassifier classifier) { m_classifier = std::move(classifier); }
    [[nodiscard]] bool Finished() const { return m_dirs.Depth() == 0; }

    enum class Progress { More, Done, Stopped };
    // Goes through a batch of entries (the sink is asked before each). Done once the walk has
    // left its first directory; Stopped when the sink said so.
    [[nodiscard]] Progress Walk();

    [[nodiscard]] platform::DirectoryStack& Stack() { return m_dirs; }
    [[nodiscard]] PathClassifier& Classifier() { return m_classifier; }

  private:
    void EnterDirectory(std::string_view name);
    void VisitFile(const platform::DirEntry& entry);
    // Tells the classifier whether a directory it takes for a shared temporary one, now on top
    // of the stack, is one.
    void CheckSharedTemporary();

    WalkSink& m_sink;
    PathClassifier m_classifier;
    EntryCounter m_entries;
    CategoryExaminer m_examiner{m_classifier, m_entries};
    platform::DirectoryStack m_dirs;
    // When the walk began, in nanoseconds since the epoch: what a file's age is measured from.
    std::uint64_t m_now;
};

}  // namespace clearnook
