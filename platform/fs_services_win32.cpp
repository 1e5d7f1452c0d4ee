// Windows file-system services: each directory listed whole with FindFirstFileA/FindNextFileA on
// its path + "\*.*", in the order the file system yields it; lower-casing in the ANSI code page.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fs_services.h"

namespace clearnook::platform {
namespace {

// Arena records: one byte of type, the 64-bit size, two bytes of name length, the name, a NUL.
enum : unsigned char { kRecDir, kRecFile };
constexpr std::size_t kRecSize = 1;
constexpr std::size_t kRecNameLen = kRecSize + sizeof(std::uint64_t);
constexpr std::size_t kRecHeader = kRecNameLen + 2;

bool IsDots(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

// The enumeration pattern of `dir`, or false when it does not fit MAX_PATH with its NUL: such a
// directory (a path of 256 characters or more) cannot be listed with the ANSI interfaces.
bool PatternOf(const std::string& dir, std::string& pattern) {
    pattern.assign(dir);
    pattern.append(EndsWithSeparator(dir) ? "*.*" : "\\*.*");
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
    };

    std::vector<Level> levels;
    std::vector<char> arena;
    std::string path;
    std::string pattern;
    const char* lastName = nullptr;  // the entry NextEntry gave last, and its size
    std::uint64_t lastSize = 0;

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
            // The directory attribute alone decides: hidden and system directories, junctions
            // and directory links are all walked into.
            const bool dir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            const std::uint64_t size =
                (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            const std::size_t len = std::strlen(data.cFileName);
            const auto len16 = static_cast<std::uint16_t>(len);
            const std::size_t at = arena.size();
            arena.resize(at + kRecHeader + len + 1);
            arena[at] = static_cast<char>(dir ? kRecDir : kRecFile);
            std::memcpy(arena.data() + at + kRecSize, &size, sizeof size);
            std::memcpy(arena.data() + at + kRecNameLen, &len16, sizeof len16);
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

// Nothing is ever handed over here (kCanHandOffDirectories is false).
struct HandedDirectory::Impl {};
HandedDirectory::HandedDirectory() = default;
HandedDirectory::~HandedDirectory() = default;
HandedDirectory::HandedDirectory(HandedDirectory&&) noexcept = default;
HandedDirectory& HandedDirectory::operator=(HandedDirectory&&) noexcept = default;

// Find handles are closed as soon as a listing is read: there is no descriptor budget to share.
DirectoryStack::DirectoryStack(std::size_t /*descriptorBudget*/) : m_impl(std::make_unique<Impl>()) {}
DirectoryStack::~DirectoryStack() = default;

bool DirectoryStack::AdoptRoot(HandedDirectory /*directory*/) { return false; }

std::optional<DirectoryStack::HandOff> DirectoryStack::HandOffLaterDirectory() {
    return std::nullopt;
}

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
    if (!EndsWithSeparator(d.path)) {
        d.path.push_back('\\');
    }
    d.path.append(name);
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
    entry.type = static_cast<unsigned char>(rec[0]) == kRecDir ? EntryType::Directory
                                                               : EntryType::File;
    return true;
}

std::optional<FileInfo> DirectoryStack::StatEntry(std::string_view name) {
    Impl& d = *m_impl;
    if (d.levels.empty()) {
        return std::nullopt;
    }
    // The walk asks about the entry it was just given: its size came with the listing.
    if (name.data() == d.lastName) {
        return FileInfo{d.lastSize, {}};
    }
    std::string full = d.path;
    if (!EndsWithSeparator(full)) {
        full.push_back('\\');
    }
    full.append(name);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(full.c_str(), GetFileExInfoStandard, &data) == 0 ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::nullopt;
    }
    return FileInfo{(static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow, {}};
}

std::size_t DirectoryStack::Depth() const { return m_impl->levels.size(); }
// The window skips a directory it cannot list without a word; nothing here reports why.
int DirectoryStack::LastError() const { return 0; }
int DirectoryStack::ListingError() const { return 0; }
std::string ErrorText(int error) { return "error " + std::to_string(error); }
// Windows files are removed by path, as the program always did: no identity is kept.
FileIdentity DirectoryStack::RootIdentity() const { return {}; }
// Listings are read whole and their handles closed at once: no level keeps one open.
std::size_t DirectoryStack::DescriptorBudget() const { return 2; }
std::size_t DirectoryStack::ProcessDescriptorShare() { return 2; }
std::size_t DirectoryStack::OpenDescriptors() const { return 0; }

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

struct RecordedFileRemover::Impl {};

RecordedFileRemover::RecordedFileRemover(std::string, FileIdentity) {}
RecordedFileRemover::~RecordedFileRemover() = default;

RemoveResult RecordedFileRemover::Remove(std::string_view path, const FileIdentity&) {
    const std::string p(path);
    if (DeleteFileA(p.c_str()) != 0) {
        return RemoveResult::Removed;
    }
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return RemoveResult::Missing;
        default: return RemoveResult::Refused;  // in use, read-only, a directory now, ...
    }
}

std::uint64_t RecordedFileRemover::DirectoryOpens() const { return 0; }
std::size_t RecordedFileRemover::OpenDescriptors() const { return 0; }
std::size_t RecordedFileRemover::DescriptorBudget() const { return 0; }

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
