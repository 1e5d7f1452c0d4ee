// Linux listings: each read whole with getdents64 relative to the directory's descriptor, its
// records decoded into the entries a walk keeps, a long one gone through on a spare thread while
// it is read; and the calls the directory stack makes on directories.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "platform/directory_stack.h"
#include "platform/linux_open.h"
#include "platform/linux_syscalls.h"
#include "platform/listing_pipe.h"
#include "platform/listing_reader.h"
#include "platform/read_ahead_support.h"

namespace clearnook::platform {
namespace {

// One read's worth of getdents64 records: a listing that fills more than half of it is likely
// to go on, and long enough to share with a spare thread.
constexpr std::size_t kBufferSize = 64 * 1024;

// The length of the name at `name` in a getdents64 record that leaves it `room` bytes; `room`
// when it holds no NUL. Each record is padded to 8 bytes after its name's NUL (and the padding
// may hold anything), so the NUL lies in the last 8 bytes of the room: only those are looked at,
// on little-endian machines as one word. The name begins at byte 19 of its record and a record
// is at least 24 bytes long, so the 8 bytes before the room's end lie within the record.
std::size_t NameLength(const char* name, std::size_t room) {
    const std::size_t from = room > 8 ? room - 8 : 0;
    if constexpr (std::endian::native == std::endian::little) {
        if (room >= 5) {
            std::uint64_t word = 0;
            std::memcpy(&word, name + room - 8, sizeof word);
            const std::size_t before = 8 - (room - from);  // bytes of the record ahead of the name
            word |= before == 0 ? 0 : ~std::uint64_t{0} >> (64 - 8 * before);
            constexpr std::uint64_t kOnes = 0x0101010101010101;
            // Marks the first zero byte (a byte after it may be marked too, never one before).
            const std::uint64_t zeros = (word - kOnes) & ~word & (kOnes << 7);
            return zeros == 0 ? room
                              : room - 8 + static_cast<std::size_t>(std::countr_zero(zeros)) / 8;
        }
    }
    std::size_t len = from;
    while (len < room && name[len] != '\0') {
        ++len;
    }
    return len;
}

// Gives `sink` the entries a walk keeps of `got` bytes of getdents64 records at `bytes`, read
// from `fd`. Files are put to `examiner` (null: none) first, and the size and identity of each
// file it tags read at once, while the directory is surely open.
void DecodeEntries(int fd, const char* bytes, std::size_t got, EntryExaminer* examiner,
                   ListingSink& sink) {
    constexpr std::size_t kNameAt = offsetof(struct dirent64, d_name);
    for (std::size_t off = 0; off < got;) {
        const char* rec = bytes + off;
        unsigned short reclen = 0;
        std::memcpy(&reclen, rec + offsetof(struct dirent64, d_reclen), sizeof reclen);
        const auto dtype = static_cast<unsigned char>(rec[offsetof(struct dirent64, d_type)]);
        const char* name = rec + kNameAt;
        off += reclen;
        ListedType type{};
        switch (dtype) {
            case DT_DIR:
                type = ListedType::Directory;
                break;
            case DT_REG:
            case DT_LNK:
                type = ListedType::File;
                break;
            case DT_UNKNOWN:
                type = ListedType::Unknown;
                break;
            default:
                continue;  // devices, FIFOs, sockets play no part
        }
        const std::size_t room = reclen - std::min<std::size_t>(reclen, kNameAt);
        const std::size_t len = NameLength(name, room);
        if (len == room || len == 0 || len > 255 ||
            (name[0] == '.' && (len == 1 || (len == 2 && name[1] == '.')))) {
            continue;
        }
        std::uint8_t tag = 0;
        if (type == ListedType::File && examiner != nullptr) {
            tag = examiner->TagFile(std::string_view(name, len));
            if (tag == 0) {
                continue;
            }
        }
        // A name holding a NUL (a damaged file system's, a hostile FUSE server's) cannot be
        // named to the system: every call would take the part before the NUL, another entry or
        // none. Such an entry plays no further part. (Only for those the walk keeps: a file not
        // tagged is never named again.)
        if (std::memchr(name, '\0', len) != nullptr) {
            continue;
        }
        ListedEntry entry{std::string_view(name, len), type, tag, std::nullopt};
        if (tag != 0) {
            entry.info = ReadFileInfo(fd, name);
        }
        sink.Add(entry);
    }
}

// Lends the rest of a long listing of `fd` to a spare thread: it gives `sink` the entries of the
// buffers this thread reads into `pipe`. False when no thread is free.
bool LendListing(SpareThreads& spare, int fd, EntryExaminer* examiner, ListingSink& sink,
                 const std::shared_ptr<ListingPipe>& pipe) {
    // The thread touches the sink, the examiner and `fd` only between a successful Start and
    // End; the reader waits for End before it uses any of them again.
    return spare.TryRun([fd, examiner, &sink, pipe] {
        if (!pipe->Start()) {
            return;
        }
        std::exception_ptr failure;
        const char* bytes = nullptr;
        std::size_t size = 0;
        try {
            while (pipe->Next(bytes, size)) {
                DecodeEntries(fd, bytes, size, examiner, sink);
                pipe->Release();
            }
        } catch (const std::bad_alloc&) {
            // Memory ran out for the listing, which belongs to the reader's thread: the very
            // exception goes there (see Failure) and leaves the reader as if thrown on it.
            failure = std::current_exception();
        }
        pipe->End(std::move(failure));
    });
}

}  // namespace

ListingReader::ListingReader() : m_buffer(kBufferSize) {}

ListingOutcome ListingReader::Read(int fd, ListingSink& sink) {
    ListingOutcome outcome;
    bool first = true;
    std::shared_ptr<ListingPipe> lent;    // while a spare thread goes through the buffers
    std::shared_ptr<ListingPipe> unlent;  // made for a lending that found no thread free
    // A pipe whose thread never came: this thread goes through the buffers filled so far.
    const auto goOnAlone = [&] {
        for (std::size_t i = 0; i < lent->Filled(); ++i) {
            DecodeEntries(fd, lent->SlotBytes(i), lent->SlotSizeUsed(i), m_examiner, sink);
        }
        lent.reset();
    };
    for (;;) {
        char* buffer = m_buffer.data();
        if (lent) {
            buffer = lent->SlotToFill();
            if (buffer == nullptr) {
                if (lent->Failure()) {
                    std::rethrow_exception(lent->Failure());
                }
                goOnAlone();
                buffer = m_buffer.data();
            }
        }
        const long n = sys::Getdents64(fd, buffer, m_buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n < 0) {
                outcome.partError = errno != 0 ? errno : EIO;
            }
            break;
        }
        first = false;
        if (lent) {
            lent->Filled(static_cast<std::size_t>(n));
            continue;
        }
        DecodeEntries(fd, buffer, static_cast<std::size_t>(n), m_examiner, sink);
        if (m_spare != nullptr && static_cast<std::size_t>(n) > m_buffer.size() / 2) {
            // The read nearly filled the buffer, so more is likely to come: the listing is long
            // enough to share.
            if (!unlent) {
                unlent = std::make_shared<ListingPipe>(m_buffer.size());
            }
            if (LendListing(*m_spare, fd, m_examiner, sink, unlent)) {
                lent = std::move(unlent);
            }
        }
    }
    if (lent) {
        if (!lent->Finish()) {
            goOnAlone();
        } else if (lent->Failure()) {
            std::rethrow_exception(lent->Failure());
        }
    }
    outcome.listed = !first || outcome.partError == 0;
    return outcome;
}

int OpenParentDirectory(int fd) {
    return sys::Openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool IdentityOfOpen(int fd, FileIdentity& identity) {
    struct stat st {};
    if (sys::Fstat(fd, &st) != 0) {
        return false;
    }
    identity = IdentityOf(st);
    return true;
}

EntryType TypeAt(int dirFd, const char* name) {
    struct stat st {};
    if (sys::Fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return EntryType::Other;
    }
    if (S_ISDIR(st.st_mode)) {
        return EntryType::Directory;
    }
    return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) ? EntryType::File : EntryType::Other;
}

bool IsSharedTemporary(int fd) {
    struct stat st {};
    return sys::Fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0 &&
           (st.st_mode & S_IWOTH) != 0;
}

void ReserveDescriptorTable(std::size_t room) {
    // New descriptors take the lowest free numbers, from the one this open gets. One numbered
    // `room` past it makes the kernel grow the table to hold it; closing it keeps the room.
    // Refused (EINVAL) past the soft limit: nothing to gain then. (The system's own calls, not
    // the walk's: this is no part of the walk.)
    const int fd = ::open("/", O_PATH | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const int far = ::fcntl(fd, F_DUPFD_CLOEXEC, fd + static_cast<int>(room));
    if (far >= 0) {
        ::close(far);
    }
    ::close(fd);
}

}  // namespace clearnook::platform
