// The read-ahead walk. Two producers, one on the scan thread and one on a helper thread, each walk
// a subtree with their own directory stack and write what they meet as records; a producer that
// runs out of work asks the other for a subdirectory it has not reached yet (the last one in the
// shallowest listing above the directory it is in: the largest piece, and the furthest from where
// it works). The scan thread
// also replays the records in walk order, following each handed-off subtree in the place where
// its directory lies, into the same ScanOutput the one-thread walk uses.
//
// Bounds: each producer's stack holds half the walk's descriptors (a handed directory is opened
// by the giver only while the taker holds none); records not yet replayed are limited by
// kRecordBudget, except those of the subtree being replayed, which the scan thread is draining.
#include "engine/read_ahead_walk.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/path_classifier.h"
#include "engine/scan_output.h"
#include "engine/scan_testing.h"
#include "platform/fs_services.h"

namespace clearnook {
namespace {

std::atomic<std::uint64_t> g_handOffs{0};

// The records, each a byte of kind and then its fields.
enum class Rec : unsigned char {
    RootEntered,     // identity
    RootUnlistable,  // error
    Entered,         // name
    Unlistable,      // name, error
    CutShort,        // error: the current directory's listing ended early
    Left,
    File,     // category (1 byte), size, identity, name
    Subtree,  // a Subtree*: its records come here
};
// A name: one byte of length (names are at most 255 bytes), then the bytes.
constexpr std::size_t kLargestRecord =
    1 + 1 + sizeof(std::uint64_t) + sizeof(platform::FileIdentity) + 1 + 255;

// Reads a fixed-size field of a record at `off` and moves past it.
template <typename T>
T TakeValue(const char* base, std::size_t& off) {
    T value;
    std::memcpy(&value, base + off, sizeof value);
    off += sizeof value;
    return value;
}

constexpr std::size_t kFirstChunk = 1024;  // most handed-off subtrees are small
constexpr std::size_t kLargestChunk = 64 * 1024;
// Written and not yet replayed: past this, a producer whose subtree is not the one being
// replayed waits. The records are small (found files and directory names only).
constexpr std::size_t kRecordBudget = 4 * 1024 * 1024;
// The address space a thread's stack takes under the usual limits (glibc's default, from a
// stack limit of 8 MiB).
constexpr std::size_t kHelperStack = 8 * 1024 * 1024;
// Entries a producer goes through between looks at the rest of the walk.
constexpr int kStepEntries = 128;
// Fewer descriptors than this per thread, and the walk stays on one thread.
constexpr std::size_t kLeastDescriptorsEach = 8;
// How long a waiting thread sleeps at most before it looks at the stop request again.
constexpr auto kStopPoll = std::chrono::milliseconds(20);

struct Chunk {
    explicit Chunk(std::size_t size)
        : bytes(std::make_unique_for_overwrite<char[]>(size)), capacity(size) {}
    std::unique_ptr<char[]> bytes;
    std::size_t capacity;
    std::size_t used = 0;  // bytes the producer has published (under the walk's mutex)
};

// One subtree's records in walk order: the root's, or those of a directory handed off.
struct Subtree {
    // Under the walk's mutex: the scan thread replays the front chunk, the producer writes the
    // back.
    std::deque<std::unique_ptr<Chunk>> chunks;
    bool complete = false;
    // Its place in the walk was lost (the directory it lies in could not be found again): nobody
    // will replay it, so its producer stops and its records go.
    std::atomic<bool> abandoned{false};
    // Set by the thread that hands it off before anyone else can see it; then its producer's.
    std::string name;
    platform::HandedDirectory directory;
    std::unique_ptr<PathClassifier> classifier;
};

enum class StepResult { More, Paused, Done, Stopped };

// The thread that calls the walk, and replays; the helper is the other.
constexpr int kScanWorker = 0;
constexpr int kHelperWorker = 1;

class ReadAheadWalk;

// Walks one subtree on one thread and writes its records.
class Producer {
  public:
    // The producer of the walk's root (`rootPath`), or, with `rootPath` null, of the subtree
    // handed off in `subtree`; `classifier` stands in the directory it starts from.
    Producer(ReadAheadWalk& walk, int worker, Subtree& subtree, PathClassifier classifier,
             const std::string* rootPath);

    StepResult Step();
    [[nodiscard]] Subtree& Target() { return m_subtree; }

  private:
    bool Start();
    void Offer();
    // Abandons the subtrees handed off from a level that will not be listed any further.
    void Abandon(std::deque<Subtree*>& handed);
    void EnterDirectory(std::string_view name);
    void VisitFile(const platform::DirEntry& entry);

    char* Reserve(std::size_t size);
    void Put(char*& at, Rec kind) { *at++ = static_cast<char>(kind); }
    void PutName(char*& at, std::string_view name) {
        *at++ = static_cast<char>(static_cast<unsigned char>(name.size()));
        std::memcpy(at, name.data(), name.size());
        at += name.size();
    }
    template <typename T>
    void PutValue(char*& at, T value) {
        std::memcpy(at, &value, sizeof value);
        at += sizeof value;
    }
    void PutError(char*& at, int error) { PutValue(at, static_cast<std::int32_t>(error)); }
    void Wrote(char* end) { m_off = static_cast<std::size_t>(end - m_chunk->bytes.get()); }
    void Publish();

    ReadAheadWalk& m_walk;
    const int m_worker;
    Subtree& m_subtree;
    const std::string* m_rootPath;
    platform::DirectoryStack m_dirs;
    PathClassifier m_classifier;
    CategoryExaminer m_examiner{m_classifier};
    std::size_t m_baseDepth = 0;  // m_classifier's depth in this subtree's root
    // Per level of m_dirs: the subtrees handed off from its listing, in listing order.
    std::vector<std::deque<Subtree*>> m_handed;
    Chunk* m_chunk = nullptr;
    std::size_t m_off = 0;        // end of what is written in m_chunk
    std::size_t m_published = 0;  // end of what is published of m_chunk
    bool m_started = false;
    bool m_offerable = false;  // a listing was read since the last hand-off found nothing
    EntryCounter m_entries;
};

class ReadAheadWalk {
  public:
    ReadAheadWalk(const ScanParams& params, std::size_t descriptorsEach)
        : m_params(params),
          m_out(params),
          m_stop(params.state->stopRequested),
          m_descriptorsEach(descriptorsEach) {}

    ReadAheadWalk(const ReadAheadWalk&) = delete;
    ReadAheadWalk& operator=(const ReadAheadWalk&) = delete;

    // NotRun, having done nothing, when the second thread or the memory the records may take
    // cannot be had; OutOfMemory when memory ran out part way.
    enum class Outcome { Done, NotRun, OutOfMemory };
    [[nodiscard]] Outcome Run();

    // ---- for the producers ----
    [[nodiscard]] bool Stopping() const {
        return m_stop.load(std::memory_order_relaxed) ||
               m_finished.load(std::memory_order_relaxed) ||
               m_outOfMemory.load(std::memory_order_relaxed);
    }
    [[nodiscard]] bool Wants(int worker) const {
        return m_wants[worker].load(std::memory_order_relaxed);
    }
    [[nodiscard]] bool ShouldPause(const Subtree& subtree) const {
        return m_bytes.load(std::memory_order_relaxed) > kRecordBudget &&
               m_head.load(std::memory_order_relaxed) != &subtree &&
               !subtree.abandoned.load(std::memory_order_relaxed);
    }
    [[nodiscard]] std::size_t DescriptorsEach() const { return m_descriptorsEach; }
    [[nodiscard]] ScanState& State() const { return *m_params.state; }

    Subtree& NewSubtree() {
        auto subtree = std::make_unique<Subtree>();
        Subtree& ref = *subtree;
        const std::lock_guard lock(m_mu);
        m_subtrees.emplace(&ref, std::move(subtree));
        return ref;
    }

    // Hands `subtree` to `worker`, which asked for work.
    void Give(int worker, Subtree& subtree) {
        {
            const std::lock_guard lock(m_mu);
            m_offered[worker] = &subtree;
            m_wants[worker].store(false, std::memory_order_relaxed);
        }
        g_handOffs.fetch_add(1, std::memory_order_relaxed);
        m_cv[worker].notify_one();
    }

    // Publishes `used` bytes of `subtree`'s last chunk, and optionally a new chunk after it.
    void Publish(Subtree& subtree, Chunk* chunk, std::size_t used, std::unique_ptr<Chunk> next) {
        bool wake = false;
        {
            const std::lock_guard lock(m_mu);
            if (chunk != nullptr) {
                chunk->used = used;
            }
            if (next) {
                m_bytes.fetch_add(next->capacity, std::memory_order_relaxed);
                subtree.chunks.push_back(std::move(next));
            }
            wake = m_waiting[kScanWorker];
        }
        if (wake) {
            m_cv[kScanWorker].notify_one();
        }
    }

    // The producer of `subtree` has written its last record.
    void Complete(Subtree& subtree) {
        {
            const std::lock_guard lock(m_mu);
            subtree.complete = true;
            if (subtree.abandoned.load(std::memory_order_relaxed)) {
                Forget(subtree);
            }
        }
        m_cv[kScanWorker].notify_one();
    }

    // `subtree` will never be replayed; its producer, if it has one, stops at its next step.
    void Abandon(Subtree& subtree) {
        const std::lock_guard lock(m_mu);
        subtree.abandoned.store(true, std::memory_order_relaxed);
        if (subtree.complete) {
            Forget(subtree);
        }
    }

    // Waits while `subtree`'s producer should pause; false when the walk is ending.
    bool WaitWhilePaused(int worker, const Subtree& subtree) {
        std::unique_lock lock(m_mu);
        m_waiting[worker] = true;
        while (!Stopping() && ShouldPause(subtree)) {
            m_cv[worker].wait_for(lock, kStopPoll);
        }
        m_waiting[worker] = false;
        return !Stopping();
    }

  private:
    enum class Replayed { Progress, Blocked, Finished };
    struct ReplayPoint {
        Subtree* subtree;
        std::size_t off;  // in the subtree's front chunk
    };

    void HelperMain();
    void HelperLoop();
    void Walk();
    // Ends the helper and waits for it.
    void EndHelper(std::thread& helper);
    Replayed ReplayAvailable();
    // Replays the records of `chunk` from at.off up to `limit`; stops after a Subtree record.
    void ReplayRecords(const Chunk& chunk, std::size_t limit);
    [[nodiscard]] bool HeadHasRecords() const;  // under m_mu
    Subtree* TakeOfferOrAsk(int worker);        // under m_mu
    // Frees a subtree that is complete and replayed or abandoned, with its records. Under m_mu.
    void Forget(Subtree& subtree) {
        for (const std::unique_ptr<Chunk>& c : subtree.chunks) {
            m_bytes.fetch_sub(c->capacity, std::memory_order_relaxed);
        }
        m_subtrees.erase(&subtree);
    }
    // Makes the top of m_replay the subtree being replayed, and lets a producer that waited for
    // room because its subtree was not the one being replayed go on.
    void MoveHead();

    const ScanParams& m_params;
    ScanOutput m_out;
    const std::atomic<bool>& m_stop;
    const std::size_t m_descriptorsEach;

    std::mutex m_mu;
    std::condition_variable m_cv[2];  // each thread's, to wait on
    bool m_waiting[2] = {false, false};
    std::unordered_map<const Subtree*, std::unique_ptr<Subtree>> m_subtrees;
    Subtree* m_offered[2] = {nullptr, nullptr};
    std::atomic<bool> m_wants[2] = {false, false};
    std::atomic<bool> m_finished{false};
    // Either thread ran out of memory: the walk cannot go on.
    std::atomic<bool> m_outOfMemory{false};
    std::atomic<std::size_t> m_bytes{0};
    std::atomic<const Subtree*> m_head{nullptr};

    // The scan thread's alone.
    std::vector<ReplayPoint> m_replay;
    std::unique_ptr<Producer> m_producer;
};

// ---- Producer ----

Producer::Producer(ReadAheadWalk& walk, int worker, Subtree& subtree, PathClassifier classifier,
                   const std::string* rootPath)
    : m_walk(walk),
      m_worker(worker),
      m_subtree(subtree),
      m_rootPath(rootPath),
      m_dirs(walk.DescriptorsEach()),
      m_classifier(std::move(classifier)),
      m_baseDepth(m_classifier.Depth()),
      m_entries(walk.State()) {
    m_dirs.SetExaminer(&m_examiner);
}

char* Producer::Reserve(std::size_t size) {
    if (m_chunk == nullptr || m_off + size > m_chunk->capacity) {
        const std::size_t capacity =
            m_chunk == nullptr ? kFirstChunk : std::min(m_chunk->capacity * 4, kLargestChunk);
        auto next = std::make_unique<Chunk>(capacity);
        Chunk* nextRaw = next.get();
        m_walk.Publish(m_subtree, m_chunk, m_off, std::move(next));
        m_chunk = nextRaw;
        m_off = 0;
        m_published = 0;
    }
    return m_chunk->bytes.get() + m_off;
}

void Producer::Publish() {
    if (m_chunk != nullptr && m_off != m_published) {
        m_walk.Publish(m_subtree, m_chunk, m_off, nullptr);
        m_published = m_off;
    }
}

bool Producer::Start() {
    char* at = Reserve(kLargestRecord);
    if (m_rootPath != nullptr) {
        if (!m_dirs.OpenRoot(*m_rootPath)) {
            Put(at, Rec::RootUnlistable);
            PutError(at, m_dirs.LastError());
            Wrote(at);
            return false;
        }
        Put(at, Rec::RootEntered);
        PutValue(at, m_dirs.RootIdentity());
        Wrote(at);
    } else {
        const bool listed = m_dirs.AdoptRoot(std::move(m_subtree.directory));
        Put(at, listed ? Rec::Entered : Rec::Unlistable);
        PutName(at, m_subtree.name);
        if (!listed) {
            PutError(at, m_dirs.LastError());
        }
        Wrote(at);
        if (!listed) {
            return false;
        }
    }
    m_handed.emplace_back();
    m_offerable = true;
    return true;
}

StepResult Producer::Step() {
    if (!m_started) {
        m_started = true;
        if (!Start()) {
            Publish();
            return StepResult::Done;
        }
    }
    if (m_subtree.abandoned.load(std::memory_order_relaxed)) {
        for (std::deque<Subtree*>& handed : m_handed) {
            Abandon(handed);
        }
        return StepResult::Done;
    }
    if (m_walk.ShouldPause(m_subtree)) {
        Publish();
        return StepResult::Paused;
    }
    const int other = 1 - m_worker;
    platform::DirEntry entry;
    for (int n = 0; n < kStepEntries; ++n) {
        if (m_walk.Stopping()) {
            return StepResult::Stopped;
        }
        if (m_offerable && m_walk.Wants(other)) {
            Offer();
        }
        if (!m_dirs.NextEntry(entry)) {
            const int error = m_dirs.ListingError();
            m_dirs.Leave();
            m_classifier.LeaveDirectory();
            Abandon(m_handed.back());  // none, unless the listing ended early
            m_handed.pop_back();
            char* at = Reserve(1 + 1 + sizeof(std::int32_t));
            if (error != 0) {
                Put(at, Rec::CutShort);
                PutError(at, error);
            }
            Put(at, Rec::Left);
            Wrote(at);
            if (m_dirs.Depth() == 0) {
                Publish();
                return StepResult::Done;
            }
            continue;
        }
        m_entries.Count();
        switch (entry.type) {
            case platform::EntryType::Directory:
                EnterDirectory(entry.name);
                break;
            case platform::EntryType::File:
                VisitFile(entry);
                break;
            case platform::EntryType::HandedOff: {
                std::deque<Subtree*>& handed = m_handed.back();
                char* at = Reserve(1 + sizeof(Subtree*));
                Put(at, Rec::Subtree);
                PutValue(at, handed.front());
                handed.pop_front();
                Wrote(at);
                break;
            }
            case platform::EntryType::Other:
                break;
        }
    }
    Publish();
    return StepResult::More;
}

void Producer::EnterDirectory(std::string_view name) {
    // The record is written first: its copy of the name outlives the listing, which entering the
    // child may move. A directory on another mount leaves no record.
    char* at = Reserve(kLargestRecord);
    char* const kind = at;
    Put(at, Rec::Entered);
    PutName(at, name);
    const std::string_view copy(at - name.size(), name.size());
    m_classifier.EnterDirectory(copy);  // first: the stack's examiner reads the child with it
    switch (m_dirs.EnterChild(copy)) {
        case platform::DirectoryStack::EnterResult::Entered:
            Wrote(at);
            m_handed.emplace_back();
            m_offerable = true;
            break;
        case platform::DirectoryStack::EnterResult::Unlistable:
            m_classifier.LeaveDirectory();
            *kind = static_cast<char>(Rec::Unlistable);
            PutError(at, m_dirs.LastError());
            Wrote(at);
            break;
        case platform::DirectoryStack::EnterResult::Skipped:
            m_classifier.LeaveDirectory();
            break;
    }
}

void Producer::VisitFile(const platform::DirEntry& entry) {
    const std::string_view name = entry.name;
    const std::optional<FoundEntry> found = ExamineFile(m_classifier, m_dirs, entry);
    if (!found) {
        return;
    }
    const platform::FileInfo* const info = &found->info;
    char* at = Reserve(kLargestRecord);
    Put(at, Rec::File);
    *at++ = static_cast<char>(found->category);
    PutValue(at, info->size);
    PutValue(at, info->identity);
    PutName(at, name);
    Wrote(at);
}

// Gives the other thread, which asked, a directory this producer has not reached.
void Producer::Offer() {
    std::optional<platform::DirectoryStack::HandOff> handOff = m_dirs.HandOffLaterDirectory();
    if (!handOff) {
        m_offerable = false;  // until a listing is read
        return;
    }
    Subtree& subtree = m_walk.NewSubtree();
    m_handed[handOff->level].push_front(&subtree);
    subtree.name = std::move(handOff->name);
    auto classifier = std::make_unique<PathClassifier>(m_classifier, m_baseDepth + handOff->level);
    classifier->EnterDirectory(subtree.name);
    subtree.classifier = std::move(classifier);
    subtree.directory = std::move(handOff->directory);
    m_walk.Give(1 - m_worker, subtree);
}

void Producer::Abandon(std::deque<Subtree*>& handed) {
    for (Subtree* subtree : handed) {
        m_walk.Abandon(*subtree);
    }
    handed.clear();
}

// ---- ReadAheadWalk ----

ReadAheadWalk::Outcome ReadAheadWalk::Run() {
    // Where the memory a second thread needs is not to be had (its stack, the records it may
    // hold), one thread does better than two that run out part way: try for it once, and give
    // it straight back. Before the thread is made, as a stack once mapped stays in the C
    // library's cache after the thread ends. (A call of the allocation function itself, which
    // unlike a new-expression the compiler may not leave out.)
    void* const probe = ::operator new(kHelperStack + kRecordBudget + kLargestChunk, std::nothrow);
    if (probe == nullptr) {
        return Outcome::NotRun;
    }
    ::operator delete(probe);
    std::thread helper;
    try {
        helper = std::thread([this] { HelperMain(); });  // it waits until it is given work
    } catch (const std::system_error&) {
        return Outcome::NotRun;
    }
    try {
        Walk();
    } catch (const std::bad_alloc&) {
        m_outOfMemory.store(true, std::memory_order_relaxed);
    }
    EndHelper(helper);
    m_producer.reset();
    return m_outOfMemory.load(std::memory_order_relaxed) ? Outcome::OutOfMemory : Outcome::Done;
}

void ReadAheadWalk::EndHelper(std::thread& helper) {
    {
        const std::lock_guard lock(m_mu);
        m_finished.store(true, std::memory_order_relaxed);
    }
    m_cv[kHelperWorker].notify_one();
    helper.join();
}

void ReadAheadWalk::Walk() {
    m_out.Begin();
    Subtree& root = NewSubtree();
    m_replay.push_back({&root, 0});
    MoveHead();
    m_producer = std::make_unique<Producer>(*this, kScanWorker, root, PathClassifier(m_params.path),
                                            &m_params.path);
    for (;;) {
        if (m_stop.load(std::memory_order_relaxed) ||
            m_outOfMemory.load(std::memory_order_relaxed)) {
            break;
        }
        const Replayed replayed = ReplayAvailable();
        if (replayed == Replayed::Finished) {
            break;
        }
        bool wait = replayed == Replayed::Blocked;
        if (m_producer) {
            const StepResult step = m_producer->Step();
            if (step == StepResult::Stopped) {
                break;
            }
            if (step == StepResult::Done) {
                Complete(m_producer->Target());
                m_producer.reset();
            }
            wait = wait && step == StepResult::Paused;
        } else {
            std::unique_lock lock(m_mu);
            if (Subtree* subtree = TakeOfferOrAsk(kScanWorker)) {
                lock.unlock();
                m_producer = std::make_unique<Producer>(*this, kScanWorker, *subtree,
                                                        std::move(*subtree->classifier), nullptr);
                continue;
            }
        }
        if (wait) {
            std::unique_lock lock(m_mu);
            m_waiting[kScanWorker] = true;
            while (!Stopping() && !HeadHasRecords() &&
                   (m_producer || m_offered[kScanWorker] == nullptr)) {
                m_cv[kScanWorker].wait_for(lock, kStopPoll);
            }
            m_waiting[kScanWorker] = false;
        }
    }
}

void ReadAheadWalk::MoveHead() {
    {
        const std::lock_guard lock(m_mu);
        m_head.store(m_replay.empty() ? nullptr : m_replay.back().subtree,
                     std::memory_order_relaxed);
    }
    m_cv[kHelperWorker].notify_one();
}

Subtree* ReadAheadWalk::TakeOfferOrAsk(int worker) {
    Subtree* subtree = std::exchange(m_offered[worker], nullptr);
    if (subtree == nullptr) {
        m_wants[worker].store(true, std::memory_order_relaxed);
    }
    return subtree;
}

bool ReadAheadWalk::HeadHasRecords() const {
    const ReplayPoint& at = m_replay.back();
    const Subtree& s = *at.subtree;
    return s.complete || s.chunks.size() > 1 ||
           (!s.chunks.empty() && s.chunks.front()->used > at.off);
}

void ReadAheadWalk::HelperMain() {
    try {
        HelperLoop();
    } catch (const std::bad_alloc&) {
        // The scan thread sees the flag, ends the walk and reports it.
        m_outOfMemory.store(true, std::memory_order_relaxed);
        m_cv[kScanWorker].notify_one();
    }
}

void ReadAheadWalk::HelperLoop() {
    std::unique_ptr<Producer> producer;
    for (;;) {
        if (Stopping()) {
            return;
        }
        if (producer) {
            switch (producer->Step()) {
                case StepResult::More:
                    break;
                case StepResult::Done:
                    Complete(producer->Target());
                    producer.reset();
                    break;
                case StepResult::Stopped:
                    return;
                case StepResult::Paused:
                    if (!WaitWhilePaused(kHelperWorker, producer->Target())) {
                        return;
                    }
                    break;
            }
            continue;
        }
        Subtree* subtree = nullptr;
        {
            std::unique_lock lock(m_mu);
            m_waiting[kHelperWorker] = true;
            while (!Stopping() && (subtree = TakeOfferOrAsk(kHelperWorker)) == nullptr) {
                m_cv[kHelperWorker].wait_for(lock, kStopPoll);
            }
            m_waiting[kHelperWorker] = false;
        }
        if (subtree == nullptr) {
            return;
        }
        producer = std::make_unique<Producer>(*this, kHelperWorker, *subtree,
                                              std::move(*subtree->classifier), nullptr);
    }
}

ReadAheadWalk::Replayed ReadAheadWalk::ReplayAvailable() {
    bool progress = false;
    while (!m_replay.empty()) {
        if (m_stop.load(std::memory_order_relaxed)) {
            return Replayed::Progress;  // the caller sees the request
        }
        ReplayPoint& at = m_replay.back();
        Subtree& s = *at.subtree;
        const Chunk* chunk = nullptr;
        std::size_t limit = 0;
        bool more = false;
        bool complete = false;
        {
            const std::lock_guard lock(m_mu);
            if (!s.chunks.empty()) {
                chunk = s.chunks.front().get();
                limit = chunk->used;
                more = s.chunks.size() > 1;
            }
            complete = s.complete;
        }
        if (chunk != nullptr && at.off < limit) {
            ReplayRecords(*chunk, limit);
            progress = true;
            continue;
        }
        if (more) {
            // Everything the producer will write in the front chunk is replayed: drop it.
            bool wake = false;
            {
                const std::lock_guard lock(m_mu);
                m_bytes.fetch_sub(s.chunks.front()->capacity, std::memory_order_relaxed);
                s.chunks.pop_front();
                wake = m_waiting[kHelperWorker];
            }
            if (wake) {
                m_cv[kHelperWorker].notify_one();  // it may be waiting for the room
            }
            at.off = 0;
            continue;
        }
        if (!complete) {
            return progress ? Replayed::Progress : Replayed::Blocked;
        }
        {
            const std::lock_guard lock(m_mu);
            Forget(s);
        }
        m_replay.pop_back();
        MoveHead();
        progress = true;
    }
    return Replayed::Finished;
}

void ReadAheadWalk::ReplayRecords(const Chunk& chunk, std::size_t limit) {
    const char* const base = chunk.bytes.get();
    std::size_t& off = m_replay.back().off;
    const auto name = [&]() {
        const auto len = static_cast<std::size_t>(static_cast<unsigned char>(base[off]));
        const std::string_view view(base + off + 1, len);
        off += 1 + len;
        return view;
    };
    const auto error = [&]() { return static_cast<int>(TakeValue<std::int32_t>(base, off)); };
    const auto identity = [&]() { return TakeValue<platform::FileIdentity>(base, off); };
    while (off < limit) {
        if (m_stop.load(std::memory_order_relaxed)) {
            return;  // as the one-thread walk: nothing more after a stop request
        }
        const auto kind = static_cast<Rec>(base[off++]);
        switch (kind) {
            case Rec::RootEntered:
                m_out.RootEntered(identity());
                break;
            case Rec::RootUnlistable:
                m_out.RootUnlistable(error());
                break;
            case Rec::Entered:
                m_out.Push(name());
                m_out.Entered();
                break;
            case Rec::Unlistable:
                m_out.Push(name());
                m_out.Unlistable(error());
                break;
            case Rec::CutShort:
                m_out.CutShort(error());
                break;
            case Rec::Left:
                m_out.Left();
                break;
            case Rec::File: {
                const auto category = static_cast<CleanupCategory>(base[off++]);
                const auto size = TakeValue<std::uint64_t>(base, off);
                const platform::FileIdentity id = identity();
                m_out.Record(category, size, id, name());
                break;
            }
            case Rec::Subtree: {
                Subtree* const subtree = TakeValue<Subtree*>(base, off);
                m_replay.push_back({subtree, 0});  // `off` is not used past here
                MoveHead();
                return;
            }
        }
    }
}

}  // namespace

bool RunReadAheadWalk(const ScanParams& params) {
    if constexpr (!platform::kCanHandOffDirectories) {
        return false;
    }
    // Halving a small budget costs more climbs back through ".." than the second thread saves
    // (a soft limit of 32: 0.63 s on two threads against 0.50 s on one, on the benchmark corpus).
    const std::size_t share = platform::DirectoryStack::ProcessDescriptorShare();
    if (share < 2 * kLeastDescriptorsEach) {
        return false;
    }
    ReadAheadWalk walk(params, share / 2);
    switch (walk.Run()) {
        case ReadAheadWalk::Outcome::NotRun:
            return false;
        case ReadAheadWalk::Outcome::OutOfMemory:
            throw std::bad_alloc();  // see ScanThreadProc
        case ReadAheadWalk::Outcome::Done:
            break;
    }
    return true;
}

namespace scan_testing {

std::uint64_t HandOffCount() {
    return g_handOffs.load(std::memory_order_relaxed);
}

}  // namespace scan_testing
}  // namespace clearnook
