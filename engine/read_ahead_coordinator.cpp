#include "engine/read_ahead_coordinator.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <utility>

#include "engine/read_ahead_walk.h"
#include "engine/scan_testing.h"

namespace clearnook {
namespace read_ahead {
namespace {

std::atomic<std::uint64_t> g_handOffs{0};

// The address space a thread's stack takes under the usual limits (glibc's default, from a
// stack limit of 8 MiB).
constexpr std::size_t kHelperStack = 8 * 1024 * 1024;
// How long a waiting thread sleeps at most before it looks at the stop request again.
constexpr auto kStopPoll = std::chrono::milliseconds(20);
// How often the scan thread looks at how busy the processors are, while workers are parked.
constexpr auto kLookEvery = std::chrono::milliseconds(5);

}  // namespace

Coordinator::Coordinator(const ScanParams& params, unsigned threads, std::size_t descriptorsEach,
                         std::size_t descriptorsShared)
    : m_params(params),
      m_out(params),
      m_stop(params.state->stopRequested),
      m_descriptorsEach(descriptorsEach),
      m_sharedDescriptors(descriptorsShared) {
    for (unsigned i = 0; i < threads; ++i) {
        m_workers.push_back(std::make_unique<Worker>());
    }
    m_scanWorker = m_workers.front().get();
}

Coordinator::~Coordinator() = default;

// ---- hand-off ----

Worker* Coordinator::Promise() {
    const std::lock_guard lock(m_mu);
    for (const std::unique_ptr<Worker>& w : m_workers) {
        if (w->asks == Worker::Asks::ForWork) {
            w->asks = Worker::Asks::Promised;
            m_asking.fetch_sub(1, std::memory_order_relaxed);
            return w.get();
        }
    }
    return nullptr;
}

void Coordinator::Release(Worker& worker) {
    const std::lock_guard lock(m_mu);
    worker.asks = Worker::Asks::ForWork;
    m_asking.fetch_add(1, std::memory_order_relaxed);
}

Subtree& Coordinator::NewSubtree() {
    auto subtree = std::make_unique<Subtree>();
    Subtree& ref = *subtree;
    const std::lock_guard lock(m_mu);
    m_subtrees.emplace(&ref, std::move(subtree));
    return ref;
}

void Coordinator::Give(Worker& worker, Subtree& subtree) {
    {
        const std::lock_guard lock(m_mu);
        worker.given = &subtree;
        worker.asks = Worker::Asks::Nothing;
    }
    g_handOffs.fetch_add(1, std::memory_order_relaxed);
    worker.wake.notify_one();
}

void Coordinator::Lend(Worker& worker, std::function<void()> job) {
    {
        const std::lock_guard lock(m_mu);
        worker.job = std::move(job);
        worker.asks = Worker::Asks::Nothing;
    }
    worker.wake.notify_one();
}

Coordinator::Given Coordinator::TakeGivenOrAsk(Worker& worker) {
    Given given{std::exchange(worker.given, nullptr), std::exchange(worker.job, nullptr)};
    if (!given && worker.asks == Worker::Asks::Nothing) {
        worker.asks = Worker::Asks::ForWork;
        m_asking.fetch_add(1, std::memory_order_relaxed);
    }
    return given;
}

// ---- records ----

void Coordinator::Publish(Subtree& subtree, walk_records::Chunk* chunk, std::size_t used,
                          std::unique_ptr<walk_records::Chunk> next) {
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
        wake = ScanWorker().waiting;
    }
    if (wake) {
        ScanWorker().wake.notify_one();
    }
}

void Coordinator::Complete(Subtree& subtree) {
    {
        const std::lock_guard lock(m_mu);
        subtree.complete = true;
        if (subtree.abandoned.load(std::memory_order_relaxed)) {
            Forget(subtree);
        }
    }
    ScanWorker().wake.notify_one();
}

void Coordinator::Abandon(Subtree& subtree) {
    const std::lock_guard lock(m_mu);
    subtree.abandoned.store(true, std::memory_order_relaxed);
    if (subtree.complete) {
        Forget(subtree);
    }
}

void Coordinator::Forget(Subtree& subtree) {
    for (const std::unique_ptr<walk_records::Chunk>& c : subtree.chunks) {
        m_bytes.fetch_sub(c->capacity, std::memory_order_relaxed);
    }
    m_subtrees.erase(&subtree);
}

bool Coordinator::WaitWhilePaused(Worker& worker, const Subtree& subtree) {
    std::unique_lock lock(m_mu);
    worker.waiting = true;
    while (!Stopping() && ShouldPause(subtree)) {
        worker.wake.wait_for(lock, kStopPoll);
    }
    worker.waiting = false;
    return !Stopping();
}

void Coordinator::WakeHelpers() {
    for (std::size_t i = 1; i < m_workers.size(); ++i) {
        if (m_workers[i]->waiting) {
            m_workers[i]->wake.notify_one();
        }
    }
}

void Coordinator::MoveHead() {
    const std::lock_guard lock(m_mu);
    m_head.store(m_replay.empty() ? nullptr : m_replay.back().subtree, std::memory_order_relaxed);
    WakeHelpers();
}

// ---- threads ----

Coordinator::Outcome Coordinator::Run() {
    // Where the memory more threads need is not to be had (their stacks, the records they may
    // hold), one thread does better than several that run out part way: try for it once, and
    // give it straight back. Before the threads are made, as a stack once mapped stays in the C
    // library's cache after the thread ends. (A call of the allocation function itself, which
    // unlike a new-expression the compiler may not leave out.)
    const std::size_t helpers = m_workers.size() - 1;
    void* const probe =
        ::operator new(kHelperStack* helpers + kRecordBudget + kLargestChunk, std::nothrow);
    if (probe == nullptr) {
        return Outcome::NotRun;
    }
    ::operator delete(probe);
    if (!StartHelpers()) {
        return Outcome::NotRun;
    }
    try {
        Walk();
    } catch (const std::bad_alloc&) {
        m_outOfMemory.store(true, std::memory_order_relaxed);
    }
    EndHelpers();
    for (const std::unique_ptr<Worker>& worker : m_workers) {
        worker->producer.reset();  // closes its descriptors
    }
    return m_outOfMemory.load(std::memory_order_relaxed) ? Outcome::OutOfMemory : Outcome::Done;
}

bool Coordinator::StartHelpers() {
    // As many as there are processors to begin with; the rest are made as they are unparked.
    m_unparked = 1;
    Unpark(std::min<std::size_t>(m_workers.size(), std::max<std::size_t>(2, m_processors)));
    return m_workers.size() > 1;
}

void Coordinator::Unpark(std::size_t count) {
    for (std::size_t i = m_unparked; i < count; ++i) {
        Worker& worker = *m_workers[i];
        // std::thread reports a thread it cannot make by throwing system_error, and the memory
        // for its state it cannot have by throwing bad_alloc. Those that cannot be made are done
        // without: a worker without a thread never asked, was never promised or given anything,
        // and nothing refers to it.
        try {
            worker.thread = std::thread([this, &worker] { HelperMain(worker); });
        } catch (const std::system_error&) {
        } catch (const std::bad_alloc&) {
        }
        if (!worker.thread.joinable()) {
            const std::lock_guard lock(m_mu);
            m_workers.resize(i);
            break;
        }
        m_unparked = i + 1;
    }
}

void Coordinator::EndHelpers() {
    {
        const std::lock_guard lock(m_mu);
        m_finished.store(true, std::memory_order_relaxed);
    }
    for (std::size_t i = 1; i < m_unparked; ++i) {  // those with a thread
        m_workers[i]->wake.notify_one();
    }
    for (std::size_t i = 1; i < m_unparked; ++i) {
        m_workers[i]->thread.join();
    }
}

void Coordinator::HelperMain(Worker& worker) {
    try {
        HelperLoop(worker);
    } catch (const std::bad_alloc&) {
        // The scan thread sees the flag, ends the walk and reports it.
        m_outOfMemory.store(true, std::memory_order_relaxed);
        ScanWorker().wake.notify_one();
    }
}

void Coordinator::StartProducing(Worker& worker, Subtree& subtree, const std::string* rootPath) {
    if (!worker.producer) {
        worker.producer = std::make_unique<Producer>(*this);
    }
    worker.producer->Begin(subtree, rootPath);
    worker.producing = true;
}

Producer::Step Coordinator::StepProducer(Worker& worker) {
    const Producer::Step step = worker.producer->Walk();
    if (step == Producer::Step::Done) {
        worker.producing = false;
        Complete(worker.producer->Target());
    }
    return step;
}

void Coordinator::HelperLoop(Worker& worker) {
    for (;;) {
        if (Stopping()) {
            return;
        }
        if (worker.producing) {
            switch (StepProducer(worker)) {
                case Producer::Step::More:
                case Producer::Step::Done:
                    break;
                case Producer::Step::Stopped:
                    return;
                case Producer::Step::Paused:
                    if (!WaitWhilePaused(worker, worker.producer->Target())) {
                        return;
                    }
                    break;
            }
            continue;
        }
        Given given;
        {
            std::unique_lock lock(m_mu);
            worker.waiting = true;
            while (!Stopping() && !(given = TakeGivenOrAsk(worker))) {
                worker.wake.wait_for(lock, kStopPoll);
            }
            worker.waiting = false;
        }
        if (given.job) {
            given.job();
        } else if (given.subtree != nullptr) {
            StartProducing(worker, *given.subtree, nullptr);
        } else {
            return;
        }
    }
}

// The scan thread: replays what is there, produces when it has a subtree, and asks for one when
// it has none.
void Coordinator::Walk() {
    m_out.Begin();
    Subtree& root = NewSubtree();
    m_replay.push_back({&root, 0});
    MoveHead();
    Worker& self = ScanWorker();
    StartProducing(self, root, &m_params.path);
    m_lastLook = std::chrono::steady_clock::now();
    m_lastCpu = std::clock();
    for (;;) {
        MaybeUnpark();
        if (m_stop.load(std::memory_order_relaxed) ||
            m_outOfMemory.load(std::memory_order_relaxed)) {
            break;
        }
        const Replayed replayed = ReplayAvailable();
        if (replayed == Replayed::Finished) {
            break;
        }
        bool wait = replayed == Replayed::Blocked;
        if (self.producing) {
            const Producer::Step step = StepProducer(self);
            if (step == Producer::Step::Stopped) {
                break;
            }
            wait = wait && step == Producer::Step::Paused;
        } else {
            std::unique_lock lock(m_mu);
            if (Given given = TakeGivenOrAsk(self)) {
                lock.unlock();
                if (given.job) {
                    given.job();
                } else {
                    StartProducing(self, *given.subtree, nullptr);
                }
                continue;
            }
        }
        if (wait) {
            std::unique_lock lock(m_mu);
            self.waiting = true;
            while (!Stopping() && !HeadHasRecords() &&
                   (self.producing || (self.given == nullptr && self.job == nullptr))) {
                self.wake.wait_for(lock, kStopPoll);
            }
            self.waiting = false;
        }
    }
}

void Coordinator::MaybeUnpark() {
    if (m_unparked == m_workers.size()) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastLook < kLookEvery) {
        return;
    }
    const std::clock_t cpu = std::clock();
    const double seconds = std::chrono::duration<double>(now - m_lastLook).count();
    const bool known =
        cpu != static_cast<std::clock_t>(-1) && m_lastCpu != static_cast<std::clock_t>(-1);
    const double busy = known ? static_cast<double>(cpu - m_lastCpu) / CLOCKS_PER_SEC / seconds
                              : 0.0;  // no processor time to go by: as if waiting
    m_lastLook = now;
    m_lastCpu = cpu;
    // Only while every worker at work has a subtree (one that asks shows there is no more work
    // to go round, and more threads would find none either), and only the second look in a row
    // (a page fault, another program's moment, is no sign).
    if (SomeoneAsks() || busy >= 0.75 * static_cast<double>(std::min(m_unparked, m_processors))) {
        m_idleLooks = 0;
        return;
    }
    if (++m_idleLooks < 2) {
        return;
    }
    m_idleLooks = 0;
    Unpark(std::min(m_workers.size(), 2 * m_unparked));
}

// ---- replay ----

bool Coordinator::HeadHasRecords() const {
    const ReplayPoint& at = m_replay.back();
    const Subtree& s = *at.subtree;
    return s.complete || s.chunks.size() > 1 ||
           (!s.chunks.empty() && s.chunks.front()->used > at.off);
}

Coordinator::Replayed Coordinator::ReplayAvailable() {
    bool progress = false;
    while (!m_replay.empty()) {
        if (m_stop.load(std::memory_order_relaxed)) {
            return Replayed::Progress;  // the caller sees the request
        }
        ReplayPoint& at = m_replay.back();
        Subtree& s = *at.subtree;
        const walk_records::Chunk* chunk = nullptr;
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
            // Everything the producer will write in the front chunk is replayed: drop it, and
            // let a producer that waits for the room go on.
            {
                const std::lock_guard lock(m_mu);
                m_bytes.fetch_sub(s.chunks.front()->capacity, std::memory_order_relaxed);
                s.chunks.pop_front();
                WakeHelpers();
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

void Coordinator::ReplayRecords(const walk_records::Chunk& chunk, std::size_t limit) {
    const char* const base = chunk.bytes.get();
    std::size_t& off = m_replay.back().off;
    walk_records::Record r;
    while (off < limit) {
        if (m_stop.load(std::memory_order_relaxed)) {
            return;  // as the one-thread walk: nothing more after a stop request
        }
        off = static_cast<std::size_t>(walk_records::Read(base + off, r) - base);
        switch (r.kind) {
            case walk_records::Kind::RootEntered:
                m_out.RootEntered(r.root);
                break;
            case walk_records::Kind::RootUnlistable:
                m_out.RootUnlistable(r.error);
                break;
            case walk_records::Kind::Entered:
                static_cast<void>(m_out.Push(r.name));
                m_out.Entered();
                break;
            case walk_records::Kind::Unlistable:
                static_cast<void>(m_out.Push(r.name));
                m_out.Unlistable(r.error);
                break;
            case walk_records::Kind::CutShort:
                m_out.CutShort(r.error);
                break;
            case walk_records::Kind::Left:
                m_out.Left();
                break;
            case walk_records::Kind::File:
                m_out.Record(r.category, r.size, r.identity, r.name);
                break;
            case walk_records::Kind::Subtree:
                m_replay.push_back({static_cast<Subtree*>(r.subtree), 0});  // `off` dies here
                MoveHead();
                return;
        }
    }
}

}  // namespace read_ahead

namespace {

// Fewer descriptors than this per thread, and the walk runs on fewer threads: a stack that can
// hold only a few directories open climbs back through ".." ever more often.
constexpr std::size_t kLeastDescriptorsEach = 4;

}  // namespace

void PrepareForWalkThreads() {
    platform::StackSharing::ReserveDescriptorRoom();
    platform::ShareAllocatorUnderAddressLimit();
}

bool RunReadAheadWalk(const ScanParams& params, unsigned threads) {
    // Even four each pays: a soft limit of 64 (eight for the walk) gives two threads, which walk
    // the benchmark corpus in 0.08 s against 0.13 s on one.
    const std::size_t share = platform::StackSharing::ProcessDescriptorShare();
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, share / kLeastDescriptorsEach));
    if (threads < 2) {
        return false;
    }
    platform::StackSharing::ReserveDescriptorRoom();  // before the helpers share the table
    platform::ShareAllocatorUnderAddressLimit();      // and before they allocate
    read_ahead::Coordinator walk(params, threads, kLeastDescriptorsEach,
                                 share - threads * kLeastDescriptorsEach);
    switch (walk.Run()) {
        case read_ahead::Coordinator::Outcome::NotRun:
            return false;
        case read_ahead::Coordinator::Outcome::OutOfMemory:
            throw std::bad_alloc();  // see ScanThreadProc
        case read_ahead::Coordinator::Outcome::Done:
            break;
    }
    return true;
}

namespace scan_testing {

std::uint64_t HandOffCount() {
    return read_ahead::g_handOffs.load(std::memory_order_relaxed);
}

}  // namespace scan_testing
}  // namespace clearnook
