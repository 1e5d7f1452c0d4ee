// Windows file-system services: each directory listed whole with FindFirstFileA/FindNextFileA on
// its path + "\*.*", in the order the file system yields it; lower-casing in the ANSI code page;
// files removed through a handle, only while they are the file the walk saw.
#include <windows.h>
#include <winternl.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/directory_stack.h"
#include "platform/recorded_file_remover.h"
#include "platform/win32_testing.h"

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

bool IsDots(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// True when the last character of `path` is a separator: a last byte 0x5C that is the second
// byte of a double-byte character (katakana so is 0x83 0x5C) is not one.
bool EndsWithSeparator(std::string_view path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/') &&
           StartsCharacter(path, path.size() - 1);
}

// Appends `name` to the directory path `dir` with one backslash between them.
void JoinPath(std::string& dir, std::string_view name) {
    if (!EndsWithSeparator(dir)) {
        dir.push_back('\\');
    }
    dir.append(name);
}

// The enumeration pattern of `dir`, or false when it does not fit MAX_PATH with its NUL: such a
// directory (a path of 256 characters or more) cannot be listed with the ANSI interfaces.
bool PatternOf(const std::string& dir, std::string& pattern) {
    pattern.assign(dir);
    JoinPath(pattern, "*.*");
    return pattern.size() < MAX_PATH;
}

// Starts listing `dir` (`pattern` is scratch), as every walk and check here does. An invalid
// handle when it cannot be listed.
HANDLE FindFirstIn(const std::string& dir, std::string& pattern, WIN32_FIND_DATAA& data) {
    if (!PatternOf(dir, pattern)) {
        return INVALID_HANDLE_VALUE;
    }
    return FindFirstFileA(pattern.c_str(), &data);
}

// The name the tests had the attributes below report a reparse point for (empty: none).
std::string& PretendedReparsePoint() {
    static std::string name;
    return name;
}

// The attributes the system gave for the file `name`, with what the tests pretend.
DWORD AttributesOf(DWORD attributes, std::string_view name) {
    const std::string& pretended = PretendedReparsePoint();
    if (!pretended.empty() && name.size() == pretended.size() &&
        CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.data(),
                       static_cast<int>(name.size()), pretended.data(),
                       static_cast<int>(pretended.size())) == CSTR_EQUAL) {
        attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return attributes;
}

// The last component of `path`.
std::string_view LastComponent(std::string_view path) {
    std::size_t at = path.size();
    while (at > 0 &&
           !((path[at - 1] == '\\' || path[at - 1] == '/') && StartsCharacter(path, at - 1))) {
        --at;
    }
    return path.substr(at);
}

// What an entry with these attributes is to the walk and the delete pass. The directory
// attribute decides first: hidden and system directories, junctions and directory links are all
// walked into. A file that is a reparse point (a file link, a placeholder of a cloud drive) is
// none of the walk's business: removing it could remove what it stands for, where the system
// opens its target in spite of being asked for the link (Wine 8 does).
EntryType TypeOf(DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return EntryType::Directory;
    }
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? EntryType::Other : EntryType::File;
}

// Opens `path` itself, a link in its last component included, never what a link names (where
// the system honours that: Wine 8 opens a file link's target). With no access to the data,
// sharing everything, the open neither waits for nor disturbs a program that holds the file;
// DELETE access is refused while one holds it without sharing deletion.
HANDLE OpenItself(const std::string& path, DWORD access) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

std::uint64_t Join(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

// The identity of the open file `h` (its volume's serial number, its index on that volume, its
// creation time) and its attributes. False when the system gives none.
bool IdentityOf(HANDLE h, FileIdentity& identity, DWORD& attributes) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info) == 0) {
        return false;
    }
    identity.device = info.dwVolumeSerialNumber;
    identity.inode = Join(info.nFileIndexHigh, info.nFileIndexLow);
    identity.birthTime =
        Join(info.ftCreationTime.dwHighDateTime, info.ftCreationTime.dwLowDateTime);
    attributes = info.dwFileAttributes;
    return true;
}

// NtQueryInformationFile of ntdll, which every process has loaded: a file's index, creation time
// and attributes, which GetFileInformationByHandle gives only together with its volume's serial
// number. Taken at run time, so the program imports nothing beyond what it did.
using QueryInformationFile = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                              FILE_INFORMATION_CLASS);

QueryInformationFile NtQueryInformationFileProc() {
    static const auto proc = reinterpret_cast<QueryInformationFile>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationFile")));
    return proc;
}

// The ANSI code page's lower-casing, as the multibyte runtime does it: a single-byte character
// goes through a table built once from CharLowerBuffA; the two bytes of a double-byte character
// are kept as they are (a trail byte may look like an upper-case ASCII letter).
struct AnsiLowering {
    std::array<char, 256> lower{};
    std::array<bool, 256> lead{};
    bool multibyte = false;

    AnsiLowering() {
        const UINT cp = GetACP();
        CPINFO info{};
        multibyte = GetCPInfo(cp, &info) != 0 && info.MaxCharSize > 1;
        for (std::size_t b = 0; b < 256; ++b) {
            lead[b] = multibyte && IsDBCSLeadByteEx(cp, static_cast<BYTE>(b)) != 0;
            char c = static_cast<char>(static_cast<unsigned char>(b));
            if (b != 0 && !lead[b]) {
                CharLowerBuffA(&c, 1);
            }
            lower[b] = c;
        }
    }
};

const AnsiLowering& Lowering() {
    static const AnsiLowering table;  // immutable once built; C++ makes the first build safe
    return table;
}

}  // namespace

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
std::string ErrorText(int error) {
    return "error " + std::to_string(error);
}
// Each file's own identity is checked when it is removed; the root's is not needed for that.
RootIdentity DirectoryStack::RootIdentity() const {
    return {};
}

bool DirectoryStack::TopIsSharedTemporary() const {
    return false;
}

bool IsWindowsFileSystem(const std::string& /*root*/) {
    return true;
}

bool IsListableDirectory(const std::string& path) {
    std::string pattern;
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstIn(path, pattern, data);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(find);
    return true;
}

std::optional<std::uint64_t> FileSizeNow(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

struct RecordedFileRemover::Impl {};

RecordedFileRemover::RecordedFileRemover(std::string, RootIdentity) {}
RecordedFileRemover::~RecordedFileRemover() = default;

// Deleting by path would remove whatever the path names at that moment, through a junction
// swapped in since the scan too. The file is opened, checked and deleted through one handle.
RemoveResult RecordedFileRemover::Remove(std::string_view path, const FileIdentity& identity) {
    if (identity == FileIdentity{}) {
        return RemoveResult::Changed;  // the scan could not tell which file this was
    }
    const HANDLE h = OpenItself(std::string(path), DELETE);
    if (h == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
                return RemoveResult::Missing;
            default:
                return RemoveResult::Refused;  // in use, access denied, a directory now, ...
        }
    }
    FileIdentity now;
    DWORD attributes = 0;
    RemoveResult result = RemoveResult::Changed;
    if (!IdentityOf(h, now, attributes)) {
        result = RemoveResult::Refused;
    } else if (TypeOf(AttributesOf(attributes, LastComponent(path))) == EntryType::File &&
               now == identity) {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        // Refused for a read-only file, as deleting by path was.
        result = SetFileInformationByHandle(h, FileDispositionInfo, &disposition,
                                            sizeof disposition) != 0
                     ? RemoveResult::Removed
                     : RemoveResult::Refused;
    }
    CloseHandle(h);  // the file goes with its last handle
    return result;
}

void win32_testing::PretendReparsePoint(std::string name) {
    PretendedReparsePoint() = std::move(name);
}

bool StartsCharacter(std::string_view text, std::size_t pos) {
    const AnsiLowering& t = Lowering();
    if (!t.multibyte) {
        return true;
    }
    // A byte that cannot lead ends a character (a single byte or a second byte), so a character
    // begins right after it; from there the bytes that can lead pair up. Going back from `pos`
    // only over those finds the answer without reading the text from its start.
    std::size_t run = 0;
    while (run < pos && t.lead[static_cast<unsigned char>(text[pos - 1 - run])]) {
        ++run;
    }
    return run % 2 == 0;
}

void AppendLowered(std::string& out, std::string_view name) {
    const AnsiLowering& t = Lowering();
    const std::size_t at = out.size();
    out.resize(at + name.size());
    char* dst = out.data() + at;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto b = static_cast<unsigned char>(name[i]);
        if (t.lead[b] && i + 1 < name.size()) {
            *dst++ = name[i];
            *dst++ = name[++i];
        } else {
            *dst++ = t.lower[b];
        }
    }
}

}  // namespace clearnook::platform
