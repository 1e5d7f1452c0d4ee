// The hand-over of a long listing's raw buffers from the thread that reads them to a thread it
// borrowed, which goes through them in order while the reader reads on. The reader never depends
// on the borrowed thread coming: until that thread has started, the reader may call the whole
// thing off and go through the buffers itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>

namespace clearnook::platform {

class ListingPipe {
  public:
    static constexpr std::size_t kSlots = 4;
    // How long a reader with every slot full waits for a borrowed thread that has not started,
    // before it goes on alone.
    static constexpr auto kStartWait = std::chrono::milliseconds(2);

    // The slots are made here, before any thread is lent: the reader allocates nothing later,
    // so nothing it does can throw while a borrowed thread works on the listing.
    explicit ListingPipe(std::size_t slotSize) {
        for (std::unique_ptr<char[]>& slot : m_slots) {
            slot = std::make_unique_for_overwrite<char[]>(slotSize);
        }
    }

    // ---- the reader ----

    // The next slot to read into; null when the reader goes on alone from here: the borrowed
    // thread never started (the slots filled so far are the reader's to go through, see
    // Filled/SlotBytes), or it failed (see Failure).
    char* SlotToFill() {
        std::unique_lock lock(m_mu);
        const auto freeSlot = [this] { return m_filled - m_done < kSlots || m_failed; };
        if (!m_started && !freeSlot()) {
            m_cv.wait_for(lock, kStartWait, [&] { return m_started || freeSlot(); });
            if (!m_started) {
                m_cancelled = true;
                return nullptr;
            }
        }
        m_cv.wait(lock, freeSlot);
        return m_failed ? nullptr : m_slots[m_filled % kSlots].get();
    }

    // The slot SlotToFill gave holds `bytes` bytes.
    void Filled(std::size_t bytes) {
        {
            const std::lock_guard lock(m_mu);
            m_sizes[m_filled % kSlots] = bytes;
            ++m_filled;
        }
        m_cv.notify_all();
    }

    // No more slots will be filled. Waits until the borrowed thread has gone through all of them;
    // false when it never started: the reader goes through them itself.
    bool Finish() {
        std::unique_lock lock(m_mu);
        m_ended = true;
        if (!m_started) {
            m_cancelled = true;
            return false;
        }
        m_cv.notify_all();
        m_cv.wait(lock, [this] { return m_finished; });
        return true;
    }

    // After a cancel: the filled slots, in order, for the reader to go through.
    [[nodiscard]] std::size_t Filled() const { return m_filled; }
    [[nodiscard]] const char* SlotBytes(std::size_t i) const { return m_slots[i % kSlots].get(); }
    [[nodiscard]] std::size_t SlotSizeUsed(std::size_t i) const { return m_sizes[i % kSlots]; }

    // What the borrowed thread ran into, for the reader to rethrow on its own thread: its
    // std::bad_alloc, or null. Valid once Finish returned or SlotToFill gave null.
    [[nodiscard]] const std::exception_ptr& Failure() const { return m_failure; }

    // ---- the borrowed thread ----

    // False when the reader has gone on alone: the thread must not touch the listing.
    bool Start() {
        {
            const std::lock_guard lock(m_mu);
            if (m_cancelled) {
                return false;
            }
            m_started = true;
        }
        m_cv.notify_all();
        return true;
    }

    // Waits for the next filled slot; false when there are no more.
    bool Next(const char*& bytes, std::size_t& size) {
        std::unique_lock lock(m_mu);
        m_cv.wait(lock, [this] { return m_done < m_filled || m_ended; });
        if (m_done == m_filled) {
            return false;
        }
        bytes = m_slots[m_done % kSlots].get();
        size = m_sizes[m_done % kSlots];
        return true;
    }

    // The slot Next gave is gone through and may be filled again.
    void Release() {
        {
            const std::lock_guard lock(m_mu);
            ++m_done;
        }
        m_cv.notify_all();
    }

    // The thread is through (`failure`: what stopped it part way, or null) and touches nothing
    // more.
    void End(std::exception_ptr failure) {
        {
            const std::lock_guard lock(m_mu);
            m_failure = std::move(failure);
            m_failed = m_failure != nullptr;
            m_finished = true;
        }
        m_cv.notify_all();
    }

  private:
    std::unique_ptr<char[]> m_slots[kSlots];
    std::size_t m_sizes[kSlots] = {};
    std::mutex m_mu;
    std::condition_variable m_cv;
    std::size_t m_filled = 0;  // slots filled so far
    std::size_t m_done = 0;    // slots gone through so far
    bool m_started = false;
    bool m_cancelled = false;
    bool m_ended = false;
    bool m_finished = false;
    bool m_failed = false;
    std::exception_ptr m_failure;
};

}  // namespace clearnook::platform
