// What lets a walk share its tree with other threads: directories handed from one stack to
// another, spare threads for long listings, and the descriptors the stacks of one walk share.
// Built only where the read-ahead walk exists (descriptors that stay open can be handed on; a
// Windows listing is read by path, one find handle at a time, and its walk stays on one thread).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/directory_stack.h"

namespace clearnook::platform {

// Threads a walk can spare for a while. A stack that finds a listing long borrows one to go
// through what it has read (the examiner's look at each file, the sizes of those tagged) while
// it reads on.
class SpareThreads {
  public:
    virtual ~SpareThreads() = default;
    // Starts `work` on another thread that does nothing else until `work` returns, and returns at
    // once; false, `work` not run, when no thread is free.
    [[nodiscard]] virtual bool TryRun(std::function<void()> work) = 0;
};

// A directory one DirectoryStack opened for another to adopt as its root: the way a walk shares
// a tree with a second thread. Closed on destruction unless adopted. Move only.
class HandedDirectory {
  public:
    HandedDirectory();
    ~HandedDirectory();
    HandedDirectory(HandedDirectory&&) noexcept;
    HandedDirectory& operator=(HandedDirectory&&) noexcept;
    HandedDirectory(const HandedDirectory&) = delete;
    HandedDirectory& operator=(const HandedDirectory&) = delete;

    struct Impl;

  private:
    friend class StackSharing;
    std::unique_ptr<Impl> m_impl;
};

// Descriptors the stacks of one walk share on top of their own budgets: a stack whose own are
// all open takes one more from the pool rather than close a level, and gives what it no longer
// needs back as it leaves levels. So the threads at work get the walk's descriptors, not those
// waiting for work. Any thread.
class DescriptorPool {
  public:
    explicit DescriptorPool(std::size_t count) : m_free(count) {}

    [[nodiscard]] bool Take() {
        std::size_t n = m_free.load(std::memory_order_relaxed);
        while (n != 0) {
            if (m_free.compare_exchange_weak(n, n - 1, std::memory_order_relaxed)) {
                return true;
            }
        }
        return false;
    }
    void Give(std::size_t count) { m_free.fetch_add(count, std::memory_order_relaxed); }
    [[nodiscard]] std::size_t Free() const { return m_free.load(std::memory_order_relaxed); }

  private:
    std::atomic<std::size_t> m_free;
};

// The operations of a DirectoryStack that share a walk's tree between threads, and the
// descriptors a stack may hold. Each takes the stack it works on; the rules of DirectoryStack
// hold (one thread at a time per stack).
class StackSharing {
  public:
    // At most `budget` descriptors open at once (at least 2), for walks that share the process's
    // share between them; 0: the process's share, as a stack starts with. Only while the stack is
    // empty.
    static void SetDescriptorBudget(DirectoryStack& stack, std::size_t budget);

    // How many descriptors the stack may hold open at once (at least 2), those it holds from its
    // pool included.
    [[nodiscard]] static std::size_t DescriptorBudget(const DirectoryStack& stack);

    // Lets the stack borrow threads from `spare` (not owned; null: none) for long listings.
    static void SetSpareThreads(DirectoryStack& stack, SpareThreads* spare);

    // Lets the stack take descriptors from `pool` (not owned; null: none) beyond its budget. Only
    // while the stack is empty.
    static void SetDescriptorPool(DirectoryStack& stack, DescriptorPool* pool);

    // Adopts a directory another stack handed over as the stack's root and reads its listing.
    // False when it cannot be listed; the stack stays empty.
    [[nodiscard]] static bool AdoptRoot(DirectoryStack& stack, HandedDirectory directory);

    // Gives a subdirectory this walk has not reached yet to another walker: at the shallowest
    // level that still holds a descriptor and has one, the last such subdirectory of its listing.
    // Only the levels above the top give: the top's own subdirectories are the walk's next work,
    // and handing them off would pass a chain of directories back and forth level by level.
    // From then on NextEntry reports that entry as HandedOff, in its place. Those a level hands
    // off lie after every subdirectory it keeps, and later hand-offs of a level lie before
    // earlier ones.
    // Only a directory it could open is handed off; one it cannot open stays in the listing, for
    // the walk to meet in its place.
    struct HandOff {
        std::size_t level = 0;  // the level whose listing holds it (0: the root)
        std::string name;
        HandedDirectory directory;  // opened
    };
    [[nodiscard]] static std::optional<HandOff> HandOffLaterDirectory(DirectoryStack& stack);
    // Whether HandOffLaterDirectory may find a subdirectory to give (false: it surely finds
    // none), without opening anything.
    [[nodiscard]] static bool HasLaterDirectory(DirectoryStack& stack);

    // The share of descriptors one walk of this process may hold (an eighth of the soft limit,
    // 2 to 128): the default budget of a stack.
    [[nodiscard]] static std::size_t ProcessDescriptorShare();

    // Grows the process's descriptor table, ahead of time, to hold a walk's share on top of
    // what is open. A table grown while other threads share it waits until they all have passed
    // a quiescent point (milliseconds: a deep walk on two threads took 30% longer for it); one
    // grown while the process has a single thread does not. Call it before starting threads;
    // best effort, and cheap once the table is that large.
    static void ReserveDescriptorRoom();
};

// Under a limit on the process's address space (ulimit -v), has every thread made from now on
// allocate from the C library's main arena: an arena of a thread's own reserves 64 MiB of
// address space (128 MiB while it is made), so a walk on several threads ran out of address
// space where one thread needs a few megabytes. Without a limit, nothing changes. Best effort;
// call before starting a walk's threads.
void ShareAllocatorUnderAddressLimit();

}  // namespace clearnook::platform
