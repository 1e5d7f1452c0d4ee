// A stand-in for the system calls of the Linux file-system services that fails chosen calls, for
// tests of how the walk and the delete pass live with a file system that misbehaves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/linux_syscalls.h"
#include "platform/linux_testing.h"

namespace clearnook::testing {

// The kinds of call a fault can strike.
enum class FaultOp : std::uint8_t {
    Open,    // open, openat, openat2
    List,    // getdents64
    Stat,    // fstatat, statx, fstat
    Unlink,  // unlinkat
    Close,   // close: the descriptor is closed all the same, then the error is reported
};

[[nodiscard]] const char* FaultOpName(FaultOp op);

// Which calls of its kind a fault strikes. All conditions given must hold.
struct FaultPoint {
    std::uint64_t nth = 0;  // the nth call of the kind (from 1) since the injector began; 0: any
    bool onward = false;    // with nth: that call and every later one
    std::string name;       // only calls on this name (last component); empty: any name
    std::uint64_t listCall = 0;  // List only: the kth read of one descriptor's listing; 0: any
};

struct Fault {
    FaultOp op = FaultOp::Open;
    int error = 0;  // the errno the call fails with; for List, 0 ends the listing there instead
    FaultPoint point;
};

// One call a fault struck.
struct FaultHit {
    FaultOp op;
    int error;
    std::string path;  // what the call was about: the directory opened or listed, the file
                       // looked at or unlinked, as a path from the descriptor's own
};

// Puts itself in place of the real calls for its lifetime (and the table it replaced back on
// destruction). Passes every call through to the kernel except those a fault strikes. Keeps the
// path of every descriptor opened through it, so faults can be aimed by name and hits reported
// by path. Thread-safe; one injector at a time.
class FaultInjector {
  public:
    explicit FaultInjector(std::vector<Fault> faults = {});
    ~FaultInjector();
    FaultInjector(const FaultInjector&) = delete;
    FaultInjector& operator=(const FaultInjector&) = delete;

    // Reads listings at most `bytes` at a time (at least 512), so that a small directory takes
    // several reads and a fault can strike in its middle. 0: as asked.
    void SetListChunk(std::size_t bytes);

    // Reports every entry's type as unknown, as some network and FUSE file systems do, so the
    // walk has to ask for each one.
    void SetHideEntryTypes(bool hide);

    // Lists every `byte` of a name as a NUL, as a damaged or hostile file system may: the
    // names read then differ from those any call can name. 0: none.
    void SetNulInNames(char byte);

    // Has `edit` change what every statx that succeeds answers, as another file system (or
    // another mount of one) would answer. Empty: the kernel's answer as it is.
    void SetStatxAnswer(std::function<void(struct statx&)> edit);

    // Answers every openat2 with ENOSYS, as a kernel before 5.6 or a seccomp filter does, so
    // directories are opened with openat and mounts told apart by hand.
    void SetRefuseOpenat2(bool refuse);

    // Calls of `op` made so far, those that failed included.
    [[nodiscard]] std::uint64_t Calls(FaultOp op) const;
    [[nodiscard]] std::vector<FaultHit> Hits() const;
    // Calls that went through to the kernel and failed there, with the kernel's errno.
    [[nodiscard]] std::vector<FaultHit> Failures() const;
    // The names (last components) the calls of `op` were made on so far, each once.
    [[nodiscard]] std::set<std::string> Names(FaultOp op) const;
    // Descriptors opened through the injector and not closed yet, with their paths.
    [[nodiscard]] std::vector<std::string> OpenDescriptors() const;

  private:
    static int Open(void* self, const char* path, int flags);
    static int Openat(void* self, int dirFd, const char* path, int flags);
    static long Openat2(void* self, int dirFd, const char* path, open_how* how, std::size_t size);
    static long Getdents64(void* self, int fd, void* buffer, std::size_t size);
    static int Fstatat(void* self, int dirFd, const char* path, struct stat* st, int flags);
    static int Statx(void* self, int dirFd, const char* path, int flags, unsigned int mask,
                     struct statx* out);
    static int Fstat(void* self, int fd, struct stat* st);
    static int Unlinkat(void* self, int dirFd, const char* path, int flags);
    static int Close(void* self, int fd);

    // Counts a call of `op` on `name` about `path` and tells whether a fault strikes it: true
    // with `error` set, the hit recorded. Called with m_mutex held.
    bool Strikes(FaultOp op, const std::string& name, const std::string& path,
                 std::uint64_t listCall, int& error);
    // Notes a call that went through and failed; returns `rc`, errno kept.
    long Failed(long rc, FaultOp op, const std::string& path);
    std::string PathAt(int dirFd, const char* name) const;
    // A stat of the entry `path` of `dirFd`: struck by a fault, or made by `real`.
    template <typename RealCall>
    int StatAt(int dirFd, const char* path, RealCall real);
    template <typename RealOpen>
    long OpenThrough(const std::string& full, const char* name, RealOpen open);
    std::string PathOf(int fd) const;
    void Opened(int fd, std::string path);

    mutable std::mutex m_mutex;
    std::vector<Fault> m_faults;
    std::map<FaultOp, std::uint64_t> m_calls;
    std::map<FaultOp, std::set<std::string>> m_names;
    std::vector<FaultHit> m_hits;
    std::vector<FaultHit> m_failures;
    std::map<int, std::string> m_paths;
    std::map<int, std::uint64_t> m_listReads;
    std::size_t m_listChunk = 0;
    bool m_hideTypes = false;
    bool m_refuseOpenat2 = false;
    char m_nulFor = 0;
    std::function<void(struct statx&)> m_statxEdit;
    platform::sys::SyscallTable m_table;
    const platform::sys::SyscallTable* m_previous = nullptr;
};

// For its lifetime, when `refuse`, openat2 answers ENOSYS and nothing else fails: the walk and
// the delete pass open directories the way they do on kernels without it. Nothing when not.
class Openat2Refusal {
  public:
    explicit Openat2Refusal(bool refuse) {
        if (refuse) {
            m_injector.emplace();
            m_injector->SetRefuseOpenat2(true);
        }
    }

  private:
    std::optional<FaultInjector> m_injector;
};

}  // namespace clearnook::testing
