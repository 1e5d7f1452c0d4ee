// The drive scan: a depth-first, pre-order walk on a worker thread that sorts every file
// ClassifyFile recognises into the per-category lists and totals.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/results.h"

namespace clearnook {

// Where the walk sends its progress text. Called on the worker thread, once per directory
// entered and once per return to a directory; must not wait for the UI thread.
class StatusSink {
  public:
    virtual ~StatusSink() = default;
    virtual void SetStatusText(std::string_view text) = 0;
    // How the walk sets its texts: the first `keep` bytes of the text it set last stay and `tail`
    // follows them. A sink that only keeps the newest text edits its copy in place, so a text
    // costs the walk the directory's name, not its whole path. By default the whole text is put
    // together and set.
    virtual void EditStatusText(std::size_t keep, std::string_view tail) {
        m_text.resize(keep);
        m_text.append(tail);
        SetStatusText(m_text);
    }
    // Called once on the worker thread right after the completion flag is raised, so a window
    // can show the end of the walk at once instead of at its next refresh.
    virtual void ScanFinished() {}

  private:
    std::string m_text;  // the last text, for the default EditStatusText
};

// The size of a cache line, or more: state one thread writes often, kept this far from what
// another reads often, does not slow the reader.
inline constexpr std::size_t kCacheLine = 64;

// Everything the worker and the window share. Held by shared pointers on both sides, so a window
// that closes during a walk can never leave the worker writing into freed memory.
struct ScanState {
    CategoryResults results;
    // Raised (release) by the worker after its last write to `results`; readers acquire.
    std::atomic<bool> m_bScanDone{false};
    // Set by the owner to end the walk early; the walk looks at it before every entry (on a
    // cache line of its own, away from the counters the walk keeps writing).
    alignas(kCacheLine) std::atomic<bool> stopRequested{false};
    // Raised (release) by the worker instead of m_bScanDone when the walk ran out of memory and
    // could not go on: the results are incomplete and must not be offered for deleting.
    std::atomic<bool> outOfMemory{false};
    // How far the walk has got, for a progress line and a summary: the entries of the listings
    // read (of every kind, other mounts included; "." and ".." are no entries) and the
    // directories entered, the root among them. Added to in batches, so a reader during the walk
    // sees a count a little behind; whole once m_bScanDone is seen. Any thread may read them.
    alignas(kCacheLine) std::atomic<std::uint64_t> entriesSeen{0};
    std::atomic<std::uint64_t> directoriesEntered{0};
    // Subtrees the walk handed to another of its threads to read (0 when it ran on one): how far
    // a read-ahead walk really split its work. Any thread may read it.
    std::atomic<std::uint64_t> subtreesHandedOff{0};
};

// The worker's record.
// Which rules classify a tree: those of the system that owns it (Auto: on Linux the Windows
// rules for a root on a Windows file system, the Linux rules for any other), or the ones named.
// The Windows program always uses the Windows rules.
enum class RuleChoice : unsigned char { Auto, Windows, Linux };

struct ScanParams {
    std::string path;                        // directory to walk, as the user gave it
    std::shared_ptr<StatusSink> statusSink;  // may be null: no progress text
    std::shared_ptr<ScanState> state;        // never null
    // The threads that walk. 1: one thread does everything (the reference the read-ahead walk is
    // tested against). N > 1: N - 1 helper threads read later parts of the tree ahead while the
    // calling thread reads too and goes through everything in order; the lists, totals and
    // status texts are exactly those of the one-thread walk. 0: DefaultWalkThreads(). Platforms
    // or descriptor limits that cannot support more threads walk on fewer, down to one.
    unsigned threads = 0;
    RuleChoice rules = RuleChoice::Auto;
};

// The rules a walk of `params` classifies with.
[[nodiscard]] RuleSet ResolveRules(const ScanParams& params);

// The threads a walk uses when ScanParams::threads is 0.
[[nodiscard]] unsigned DefaultWalkThreads();

// The progress text for `path`: "Scanning " followed by the path.
inline constexpr std::string_view kScanningPrefix = "Scanning ";

// How a walk ended.
enum class ScanEnd {
    Walked,  // to the end, or until a stop request
    // Memory ran out part way through a read-ahead walk, on whichever of its threads: the
    // results are incomplete.
    OutOfMemory,
};

// Walks `params.path` to the end (or until a stop request), recording into params.state. Sends
// "Scanning " + path at every directory entered and at every return to a directory. Runs on the
// calling thread, which alone writes the results and calls the sink; when reading ahead, a helper
// thread lists directories meanwhile and is joined before this returns. Does not raise the
// completion flag. OutOfMemory where memory ran out within a read-ahead walk; memory that runs
// out anywhere else (the one-thread walk, setting up the read-ahead walk) ends it with
// std::bad_alloc, the containers' way of saying so.
[[nodiscard]] ScanEnd ScanDirectory(const ScanParams& params);

// The worker's entry: walks `shared` (a thread started on it holds its own copy), then raises
// m_bScanDone; or, when memory ran out and the walk could not go on, raises outOfMemory and not
// m_bScanDone. Returns 0.
unsigned ScanThreadProc(const ScanParams& shared);

// Starts ScanThreadProc on a new detached thread. Nobody waits for it. False when no thread can
// be started (a process or thread limit): then no walk runs and the completion flag never rises.
[[nodiscard]] bool StartScanThread(ScanParams params);

}  // namespace clearnook
