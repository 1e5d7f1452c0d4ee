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
#include "engine/walk_sink.h"
#include "platform/fs_services.h"

namespace clearnook {

class ScanOutput final : public WalkSink {
  public:
    explicit ScanOutput(const ScanParams& params);

    // False once a stop is requested: the one-thread walk ends there.
    [[nodiscard]] bool BeforeEntry() override {
        return !m_state.stopRequested.load(std::memory_order_relaxed);
    }

    // Sends the root's text, before the root is opened.
    void Begin() { Send(); }

    // The root was opened: the walk is inside it.
    void RootEntered(const platform::RootIdentity& identity) override;
    // The root could not be opened or listed, for the system's reason `error`.
    void RootUnlistable(int error) override;

    // Appends the directory `name` to the current path and returns the copy there: the caller's
    // `name` may live in a listing that entering the directory moves. Then exactly one of
    // Entered, Unlistable or Skipped follows.
    std::string_view Push(std::string_view name) override;
    void Entered() override;              // the directory is entered: its text is shown
    void Unlistable(int error) override;  // met but not listable: its text, then its parent's again
    void Skipped() override;              // another mount: nothing is shown

    // The current directory's listing ended early, for the system's reason `error`. Left follows.
    void CutShort(int error) override;

    // Leaves the current directory; the parent's text is shown again, unless that was the root.
    void Left() override;

    // Adds the file `name` of the current directory, as enumerated, to its category's list and
    // its size to the total.
    void Record(CleanupCategory category, std::uint64_t size,
                const platform::FileIdentity& identity, std::string_view name) override;

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
        std::size_t nameAt = 0;                 // where the directory's name begins in m_status
        std::size_t end = 0;                    // and where it ends
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

}  // namespace clearnook
