// The read-ahead walk's coordinator: its threads (workers), the subtrees they produce, the
// hand-off of work between them, the bound on records not yet replayed, and the replay in walk
// order on the scan thread.
//
// Each worker runs one producer at a time. A worker without one asks for work; a producer that
// sees someone asking promises itself that worker, then gives it a subdirectory it has not
// reached (the last one in the shallowest listing above the directory it is in: the largest
// piece, and the furthest from where it works). Every subtree handed off thus has a producer at
// once, so the one being replayed is always being produced or complete.
// The scan thread also replays the records, following each handed-off subtree in the place where
// its directory lies, into the same ScanOutput the one-thread walk uses.
//
// Only as many workers as there are processors start out; the others are unparked, a few at a time,
// while the process keeps the processors less than three quarters busy: on a cold cache the
// threads wait for the disk, and more reads in flight pay; on a hot one more threads would only
// hand work back and forth.
//
// Bounds: each producer's stack holds a few descriptors of its own and takes more from the walk's
// pool while it is at work, the walk's share in all (a handed directory is opened by the giver
// only while the taker holds none); records not yet replayed
// are limited by kRecordBudget, except those of the subtree being replayed, which the scan thread
// is draining.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "engine/read_ahead_producer.h"
#include "engine/scan.h"
#include "engine/scan_output.h"
#include "engine/walk_records.h"

namespace clearnook::read_ahead {

// Written and not yet replayed: past this, a producer whose subtree is not the one being
// replayed waits. The records are small (found files and directory names only).
inline constexpr std::size_t kRecordBudget = 4 * 1024 * 1024;
inline constexpr std::size_t kFirstChunk = 1024;  // most handed-off subtrees are small
inline constexpr std::size_t kLargestChunk = 64 * 1024;
static_assert(kFirstChunk >= walk_records::kLargestRecord);

// One thread of the walk: the scan thread, which also replays, or a helper.
struct Worker {
    enum class Asks { Nothing, ForWork, Promised };
    std::condition_variable wake;
    // Under the walk's lock:
    bool waiting = false;       // asleep on `wake`
    Asks asks = Asks::Nothing;  // Promised: a producer is about to give it a subtree
    Subtree* given = nullptr;   // handed to it, not yet taken
    std::function<void()> job;  // lent to a producer for a while (see Producer::TryRun)
    std::thread thread;         // a helper's own; none while it is parked
    // The worker's own: its producer, kept from one subtree to the next, and whether it has one.
    std::unique_ptr<Producer> producer;
    bool producing = false;
};

class Coordinator {
  public:
    // Each thread's stack holds `descriptorsEach` of its own, and takes more from a pool of
    // `descriptorsShared` while it is at work.
    Coordinator(const ScanParams& params, unsigned threads, std::size_t descriptorsEach,
                std::size_t descriptorsShared);
    ~Coordinator();
    Coordinator(const Coordinator&) = delete;
    Coordinator& operator=(const Coordinator&) = delete;

    // NotRun, having done nothing, when no helper thread or not the memory the records and the
    // helpers' stacks may take can be had; OutOfMemory when memory ran out part way.
    enum class Outcome { Done, NotRun, OutOfMemory };
    [[nodiscard]] Outcome Run();

    // ---- for the producers ----
    [[nodiscard]] bool Stopping() const {
        return m_stop.load(std::memory_order_relaxed) ||
               m_finished.load(std::memory_order_relaxed) ||
               m_outOfMemory.load(std::memory_order_relaxed);
    }
    // A worker asks for work and no producer has promised it any yet.
    [[nodiscard]] bool SomeoneAsks() const { return m_asking.load(std::memory_order_relaxed) != 0; }
    [[nodiscard]] bool ShouldPause(const Subtree& subtree) const {
        return m_bytes.load(std::memory_order_relaxed) > kRecordBudget &&
               m_head.load(std::memory_order_relaxed) != &subtree &&
               !subtree.abandoned.load(std::memory_order_relaxed);
    }
    [[nodiscard]] std::size_t DescriptorsEach() const { return m_descriptorsEach; }
    [[nodiscard]] platform::DescriptorPool& SharedDescriptors() { return m_sharedDescriptors; }
    [[nodiscard]] ScanState& State() const { return *m_params.state; }

    // A worker that asks for work, now promised to the caller (null: none asks any more). The
    // caller then gives it a subtree or lets it go.
    [[nodiscard]] Worker* Promise();
    void Release(Worker& worker);
    Subtree& NewSubtree();
    void Give(Worker& worker, Subtree& subtree);
    void Lend(Worker& worker, std::function<void()> job);
    // Publishes `used` bytes of `subtree`'s last chunk, and optionally a new chunk after it.
    void Publish(Subtree& subtree, walk_records::Chunk* chunk, std::size_t used,
                 std::unique_ptr<walk_records::Chunk> next);
    // `subtree` will never be replayed; its producer, if it has one, stops at its next step.
    void Abandon(Subtree& subtree);

  private:
    enum class Replayed { Progress, Blocked, Finished };
    struct ReplayPoint {
        Subtree* subtree;
        std::size_t off;  // in the subtree's front chunk
    };

    // Read by every thread without the lock, so kept apart from m_workers, which Unpark may cut.
    [[nodiscard]] Worker& ScanWorker() { return *m_scanWorker; }
    // Starts the helpers that are not parked; false when not even one could be.
    bool StartHelpers();
    // Starts parked helpers until `count` workers are unparked, or one cannot be started (the
    // walk then does without it and those after it).
    void Unpark(std::size_t count);
    void EndHelpers();
    void HelperMain(Worker& worker);
    void HelperLoop(Worker& worker);
    void Walk();
    // Sets `worker` producing `subtree` (the walk's root when `rootPath` is given).
    void StartProducing(Worker& worker, Subtree& subtree, const std::string* rootPath);
    // Steps the worker's producer; on Done marks its subtree complete.
    Producer::Step StepProducer(Worker& worker);
    // What was given to `worker` (a subtree, or a job to run), or nothing, the worker now
    // asking. Under m_mu.
    struct Given {
        Subtree* subtree = nullptr;
        std::function<void()> job;
        explicit operator bool() const { return subtree != nullptr || job != nullptr; }
    };
    Given TakeGivenOrAsk(Worker& worker);
    // Waits while `subtree`'s producer should pause; false when the walk is ending.
    bool WaitWhilePaused(Worker& worker, const Subtree& subtree);
    void Complete(Subtree& subtree);
    Replayed ReplayAvailable();
    // Replays the records of `chunk` from the replay point up to `limit`; stops after a Subtree
    // record.
    void ReplayRecords(const walk_records::Chunk& chunk, std::size_t limit);
    [[nodiscard]] bool HeadHasRecords() const;  // under m_mu
    // Frees a subtree that is complete and replayed or abandoned, with its records. Under m_mu.
    void Forget(Subtree& subtree);
    // Makes the top of m_replay the subtree being replayed, and lets producers that waited for
    // room because theirs was not the one being replayed go on.
    void MoveHead();
    // Wakes the helpers that wait (for work, or for room). Under m_mu.
    void WakeHelpers();
    // Unparks more helpers when the threads at work leave the processors idle: they wait for the
    // disk, and more reads in flight would pay. The scan thread's.
    void MaybeUnpark();
    // Asserts what holds whenever m_mu is free: m_asking counts the workers that ask for work; a
    // worker holds at most one thing handed to it, and asks for nothing while it does; a subtree
    // handed over and not yet taken is alive and not complete; no subtree alive is both complete
    // and abandoned (it is forgotten at once); m_bytes is the capacity of the chunks of the
    // subtrees alive, no chunk publishes more than it holds. Under m_mu; nothing under NDEBUG.
    void CheckInvariants() const;

    const ScanParams& m_params;
    ScanOutput m_out;
    const std::atomic<bool>& m_stop;
    const std::size_t m_descriptorsEach;
    const std::size_t m_processors = std::max(1u, std::thread::hardware_concurrency());
    // What every producer reads before each entry (the flags of Stopping, SomeoneAsks) lies on
    // cache lines apart from what the threads keep writing (the lock, the descriptor pool, the
    // count of records), so that reading it costs no miss.
    alignas(kCacheLine) std::atomic<bool> m_finished{false};
    // A thread ran out of memory: the walk cannot go on.
    std::atomic<bool> m_outOfMemory{false};
    alignas(kCacheLine) std::atomic<unsigned> m_asking{0};  // workers asking and not promised
    alignas(kCacheLine) std::atomic<std::size_t> m_bytes{0};
    std::atomic<const Subtree*> m_head{nullptr};
    alignas(kCacheLine) platform::DescriptorPool m_sharedDescriptors;

    alignas(kCacheLine) std::mutex m_mu;
    std::vector<std::unique_ptr<Worker>> m_workers;  // the scan thread's first
    Worker* m_scanWorker = nullptr;
    std::unordered_map<const Subtree*, std::unique_ptr<Subtree>> m_subtrees;

    // The scan thread's alone.
    std::vector<ReplayPoint> m_replay;
    // Workers not parked, the scan thread's among them: the first m_unparked, each with a
    // thread. Written by the scan thread alone.
    std::size_t m_unparked = 0;
    std::chrono::steady_clock::time_point m_lastLook;
    std::clock_t m_lastCpu = 0;
    int m_idleLooks = 0;  // looks in a row that found the processors idle
};

}  // namespace clearnook::read_ahead
