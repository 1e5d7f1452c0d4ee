// The Windows directory stack: each directory listed whole with FindFirstFileA/FindNextFileA on
// its path + "\*.*", in the order the file system yields it, into one arena; the find handle is
// closed as soon as the listing is read, so no level holds one.
#include <cstring>
#include <string>
#include <vector>

#include "platform/directory_stack.h"
#include "platform/win32_files.h"

namespace clearnook::platform {
namespace {

// Arena records: one byte of type, the 64-bit size, two bytes of name length, the examiner's tag
// (kUnexamined for all but files it tagged), the name, a NUL. A file the examiner did not tag
// has no record.
enum : unsigned char { kRecDir, kRecFile, kRecOther };
constexpr std::size_t kRecSize = 1;
constexpr std::size_t kRecNameLen = kRecSize + sizeof(std::uint64_t);
constexpr std::size_t kRecTag = kRecNameLen + 2;
constexpr std::size_t kRecHeader = kRecTag + 1;

}  // namespace

using winfs::IsDots;
using winfs::JoinPath;
using winfs::FindFirstIn;
using winfs::AttributesOf;
using winfs::TypeOf;
using winfs::OpenItself;
using winfs::Join;
using winfs::IdentityOf;
using winfs::QueryInformationFile;
using winfs::NtQueryInformationFileProc;

struct DirectoryStack::Impl {
    struct Level {
        std::size_t pathLen = 0;  // this directory's path is path[0, pathLen)
        std::size_t begin = 0;    // its listing in the arena: [begin, end)
        std::size_t end = 0;
        std::size_t pos = 0;
        // The volume serial number of this directory, read from the directory itself once one of
        // its files has been asked for. Each of its files lies on that volume: a file cannot be
        // a mount point, and one that is a reparse point is left out. Under Wine the serial is a
        // query to the mount manager, several times what opening a file and reading its index
        // cost together. Wine reports a file link's target's volume for the link, so taking the
        // serial from a file would give the link's to every file of the folder; the directory's
        // gives such a link (which Wine does not show as one) an identity that a target on
        // another volume never matches.
        std::uint64_t serial = 0;
        bool haveSerial = false;
    };

    std::vector<Level> levels;
    std::vector<char> arena;
    std::string path;
    std::string pattern;             // scratch: the listing pattern, or the path of a file to open
    std::string directory;           // scratch: the path of the top directory to open
    const char* lastName = nullptr;  // the entry NextEntry gave last, and its size
    std::uint64_t lastSize = 0;
    EntryExaminer* examiner = nullptr;

    // Reads the volume serial number of the top directory `level` into it, once. False when the
    // directory cannot be opened or is no longer a directory.
    bool ReadSerial(Level& level) {
        if (level.haveSerial) {
            return true;
        }
        // With a separator at the end, so that a drive's name ("C:") names its root.
        directory.assign(path, 0, level.pathLen);
        JoinPath(directory, "");
        // Following a link, as the listing did: its files lie on the volume the link leads to.
        const HANDLE h = CreateFileA(directory.c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return false;
        }
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileInformationByHandle(h, &info) != 0 &&
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            level.serial = info.dwVolumeSerialNumber;
            level.haveSerial = true;
        }
        CloseHandle(h);
        return level.haveSerial;
    }

    // Reads the whole listing of the directory `path` onto the end of the arena and pushes it.
    // False, with nothing pushed, when it cannot be listed.
    bool PushListing() {
        WIN32_FIND_DATAA data;
        const HANDLE find = FindFirstIn(path, pattern, data);
        if (find == INVALID_HANDLE_VALUE) {
            return false;
        }
        Level level;
        level.pathLen = path.size();
        level.begin = arena.size();
        do {
            if (IsDots(data.cFileName)) {
                continue;
            }
            const EntryType type = TypeOf(AttributesOf(data.dwFileAttributes, data.cFileName));
            const std::size_t len = std::strlen(data.cFileName);
            std::uint8_t tag = kUnexamined;
            if (type == EntryType::File && examiner != nullptr) {
                tag = examiner->TagFile(std::string_view(data.cFileName, len));
                if (tag == 0) {
                    continue;
                }
            }
            const std::uint64_t size =
                (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            const auto len16 = static_cast<std::uint16_t>(len);
            const std::size_t at = arena.size();
            arena.resize(at + kRecHeader + len + 1);
            arena[at] = static_cast<char>(type == EntryType::Directory ? kRecDir
                                          : type == EntryType::File    ? kRecFile
                                                                       : kRecOther);
            std::memcpy(arena.data() + at + kRecSize, &size, sizeof size);
            std::memcpy(arena.data() + at + kRecNameLen, &len16, sizeof len16);
            arena[at + kRecTag] = static_cast<char>(tag);
            std::memcpy(arena.data() + at + kRecHeader, data.cFileName, len + 1);
        } while (FindNextFileA(find, &data) != 0);
        FindClose(find);
        level.end = arena.size();
        level.pos = level.begin;
        levels.push_back(level);
        lastName = nullptr;
        return true;
    }
};

// Find handles are closed as soon as a listing is read: there is no descriptor budget to share.
DirectoryStack::DirectoryStack() : m_impl(std::make_unique<Impl>()) {}
DirectoryStack::~DirectoryStack() = default;

bool DirectoryStack::OpenRoot(const std::string& path) {
    Impl& d = *m_impl;
    if (!d.levels.empty()) {
        return false;
    }
    d.path = path;
    if (!d.PushListing()) {
        d.path.clear();
        return false;
    }
    return true;
}

DirectoryStack::EnterResult DirectoryStack::EnterChild(std::string_view name) {
    Impl& d = *m_impl;
    if (d.levels.empty()) {
        return EnterResult::Unlistable;
    }
    JoinPath(d.path, name);
    if (!d.PushListing()) {
        d.path.resize(d.levels.back().pathLen);
        return EnterResult::Unlistable;
    }
    return EnterResult::Entered;
}

void DirectoryStack::Leave() {
    Impl& d = *m_impl;
    if (d.levels.empty()) {
        return;
    }
    d.arena.resize(d.levels.back().begin);
    d.levels.pop_back();
    d.path.resize(d.levels.empty() ? 0 : d.levels.back().pathLen);
    d.lastName = nullptr;
}

bool DirectoryStack::NextEntry(DirEntry& entry) {
    Impl& d = *m_impl;
    if (d.levels.empty()) {
        return false;
    }
    Impl::Level& level = d.levels.back();
    if (level.pos >= level.end) {
        return false;
    }
    const char* rec = d.arena.data() + level.pos;
    std::uint16_t len = 0;
    std::memcpy(&len, rec + kRecNameLen, sizeof len);
    std::memcpy(&d.lastSize, rec + kRecSize, sizeof d.lastSize);
    d.lastName = rec + kRecHeader;
    level.pos += kRecHeader + len + 1u;
    entry.name = std::string_view(d.lastName, len);
    switch (static_cast<unsigned char>(rec[0])) {
        case kRecDir:
            entry.type = EntryType::Directory;
            break;
        case kRecFile:
            entry.type = EntryType::File;
            break;
        default:
            entry.type = EntryType::Other;
            break;
    }
    entry.tag = static_cast<std::uint8_t>(rec[kRecTag]);
    return true;
}

std::optional<FileInfo> DirectoryStack::StatEntry(std::string_view name) {
    Impl& d = *m_impl;
    if (d.levels.empty()) {
        return std::nullopt;
    }
    Impl::Level& level = d.levels.back();
    std::string& full = d.pattern;
    full.assign(d.path);
    JoinPath(full, name);
    // The walk asks about the entry it was just given: its size came with the listing.
    FileInfo info;
    if (name.data() == d.lastName) {
        info.size = d.lastSize;
    } else {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (GetFileAttributesExA(full.c_str(), GetFileExInfoStandard, &data) == 0 ||
            TypeOf(AttributesOf(data.dwFileAttributes, name)) != EntryType::File) {
            return std::nullopt;
        }
        info.size = Join(data.nFileSizeHigh, data.nFileSizeLow);
    }
    // The identity the delete pass checks. One that cannot be read stays zero: the file still
    // counts in its row, but it is never deleted.
    const HANDLE h = OpenItself(full, 0);
    if (h == INVALID_HANDLE_VALUE) {
        return info;
    }
    FileIdentity identity;
    DWORD attributes = 0;
    bool known = false;
    const QueryInformationFile query = NtQueryInformationFileProc();
    if (query != nullptr && d.ReadSerial(level)) {
        // What GetFileInformationByHandle gives, without the volume query.
        IO_STATUS_BLOCK io{};
        FILE_INTERNAL_INFORMATION internal{};
        FILE_BASIC_INFORMATION basic{};
        if (query(h, &io, &internal, sizeof internal, FileInternalInformation) == 0 &&
            query(h, &io, &basic, sizeof basic, FileBasicInformation) == 0) {
            identity.device = level.serial;
            identity.inode = static_cast<std::uint64_t>(internal.IndexNumber.QuadPart);
            identity.birthTime = static_cast<std::uint64_t>(basic.CreationTime.QuadPart);
            attributes = basic.FileAttributes;
            known = true;
        }
    } else {
        known = IdentityOf(h, identity, attributes);
    }
    CloseHandle(h);
    if (!known) {
        return info;
    }
    switch (TypeOf(AttributesOf(attributes, name))) {
        case EntryType::File:
            info.identity = identity;
            return info;
        case EntryType::Directory:
            return info;  // a directory now: never deleted
        default:
            return std::nullopt;  // a reparse point now, as the listing would have left it out
    }
}

void DirectoryStack::SetExaminer(EntryExaminer* examiner) {
    m_impl->examiner = examiner;
}

std::size_t DirectoryStack::Depth() const {
    return m_impl->levels.size();
}
// The window skips a directory it cannot list without a word; nothing here reports why.
int DirectoryStack::LastError() const {
    return 0;
}
int DirectoryStack::ListingError() const {
    return 0;
}
// Each file's own identity is checked when it is removed; the root's is not needed for that.
RootIdentity DirectoryStack::RootIdentity() const {
    return {};
}

bool DirectoryStack::TopIsSharedTemporary() const {
    return false;
}

}  // namespace clearnook::platform
