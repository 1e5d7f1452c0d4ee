// The output side of a walk: the status text of the directory it is in, grown and cut back as it
// moves, and the recording of the files it found. The one-thread walk drives it directly; the
// read-ahead walk replays its threads' records into it. The same calls in the same order give
// the same texts and lists, whichever walk made them.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/path_classifier.h"
#include "engine/scan.h"
#include "platform/fs_services.h"

namespace clearnook {

class ScanOutput {
  public:
    explicit ScanOutput(const ScanParams& params);

    // Sends the root's text, before the root is opened.
    void Begin() { Send(); }

    // The root was opened: the walk is inside it.
    void RootEntered(const platform::FileIdentity& identity);
    // The root could not be opened or listed, for the system's reason `error`.
    void RootUnlistable(int error);

    // Appends the directory `name` to the current path and returns the copy there: the caller's
    // `name` may live in a listing that entering the directory moves. Then exactly one of
    // Entered, Unlistable or Skipped follows.
    std::string_view Push(std::string_view name);
    void Entered();              // the directory is entered: its text is shown
    void Unlistable(int error);  // met but not listable: its text, then its parent's again
    void Skipped();              // another mount: nothing is shown

    // The current directory's listing ended early, for the system's reason `error`. Left follows.
    void CutShort(int error);

    // Leaves the current directory; the parent's text is shown again, unless that was the root.
    void Left();

    // Adds the file `name` of the current directory, as enumerated, to its category's list and
    // its size to the total.
    void Record(CleanupCategory category, std::uint64_t size,
                const platform::FileIdentity& identity, std::string_view name);

    // True once the walk has left its root (or never entered it).
    [[nodiscard]] bool Outside() const { return m_frames.empty(); }

    [[nodiscard]] ScanState& State() { return m_state; }

  private:
    void Send();
    void CutBack(std::size_t length);
    // The recorded directory standing for the current one, added (with those above it that are
    // not yet) the first time a file of it is recorded.
    std::uint32_t CurrentDirectory();
    // Counts the directory that ends m_status as unreadable, keeping the first one's path.
    void NoteUnreadable(int error);
    void CutBackToTop() { CutBack(m_frames.back().end); }

    static constexpr std::uint32_t kNotRecorded = static_cast<std::uint32_t>(-1);
    struct Frame {
        std::size_t nameAt;                     // where the directory's name begins in m_status
        std::size_t end;                        // and where it ends
        std::uint32_t recorded = kNotRecorded;  // in results.directories
    };

    ScanState& m_state;
    StatusSink* m_sink;
    std::uint64_t m_directories = 0;  // entered so far; the thread's own copy of the count
    std::string m_status;             // "Scanning " + the current directory's path
    std::size_t m_sentKeep = 0;       // how much of m_status is unchanged since the last text sent
    std::size_t m_nameAt = 0;         // where the name of the last Push begins in m_status
    std::vector<Frame> m_frames;      // each entered directory, the root first
    std::string m_lowered;            // scratch, where the lists hold lower-cased names
};

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

// Tags each file of a listing, as the listing is read, with its category + 1 (0: none), as
// `classifier` sees it in the directory the walk is about to list.
class CategoryExaminer final : public platform::EntryExaminer {
  public:
    explicit CategoryExaminer(PathClassifier& classifier) : m_classifier(classifier) {}
    [[nodiscard]] std::uint8_t TagFile(std::string_view name) override {
        const std::optional<CleanupCategory> c = m_classifier.Classify(name);
        return c ? static_cast<std::uint8_t>(static_cast<int>(*c) + 1) : std::uint8_t{0};
    }

  private:
    PathClassifier& m_classifier;
};

// A file of the top directory of `dirs` that the walk records: its category and what it is now.
struct FoundEntry {
    CleanupCategory category;
    platform::FileInfo info;
};

// What both walks do with a file `entry` of the directory they list: take its category (from
// the stack's examiner, or `classifier` for a file the stack did not examine) and, when it
// belongs to one, its size and identity. None for a file of no category, or one gone since the
// listing was read.
[[nodiscard]] std::optional<FoundEntry> ExamineFile(PathClassifier& classifier,
                                                    platform::DirectoryStack& dirs,
                                                    const platform::DirEntry& entry);

}  // namespace clearnook
