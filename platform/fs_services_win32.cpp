// Windows file-system services shared by the directory stack and the remover: path joining,
// listing, the attributes and identity of a file, and the small services of fs_services.h.
#include "platform/win32_files.h"

#include <array>
#include <cstring>
#include <string>

#include "platform/fs_services.h"
#include "platform/win32_testing.h"

namespace clearnook::platform {
namespace {

// True when the last character of `path` is a separator: a last byte 0x5C that is the second
// byte of a double-byte character (katakana so is 0x83 0x5C) is not one.
bool EndsWithSeparator(std::string_view path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/') &&
           StartsCharacter(path, path.size() - 1);
}

// The enumeration pattern of `dir`, or false when it does not fit MAX_PATH with its NUL: such a
// directory (a path of 256 characters or more) cannot be listed with the ANSI interfaces.
bool PatternOf(const std::string& dir, std::string& pattern) {
    pattern.assign(dir);
    winfs::JoinPath(pattern, "*.*");
    return pattern.size() < MAX_PATH;
}

// The name the tests had the attributes below report a reparse point for (empty: none).
std::string& PretendedReparsePoint() {
    static std::string name;
    return name;
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

namespace winfs {

bool IsDots(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void JoinPath(std::string& dir, std::string_view name) {
    if (!EndsWithSeparator(dir)) {
        dir.push_back('\\');
    }
    dir.append(name);
}

HANDLE FindFirstIn(const std::string& dir, std::string& pattern, WIN32_FIND_DATAA& data) {
    if (!PatternOf(dir, pattern)) {
        return INVALID_HANDLE_VALUE;
    }
    return FindFirstFileA(pattern.c_str(), &data);
}

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

std::string_view LastComponent(std::string_view path) {
    std::size_t at = path.size();
    while (at > 0 &&
           !((path[at - 1] == '\\' || path[at - 1] == '/') && StartsCharacter(path, at - 1))) {
        --at;
    }
    return path.substr(at);
}

EntryType TypeOf(DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return EntryType::Directory;
    }
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? EntryType::Other : EntryType::File;
}

HANDLE OpenItself(const std::string& path, DWORD access) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

std::uint64_t Join(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

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

QueryInformationFile NtQueryInformationFileProc() {
    static const auto proc = reinterpret_cast<QueryInformationFile>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationFile")));
    return proc;
}

}  // namespace winfs

std::string ErrorText(int error) {
    return "error " + std::to_string(error);
}

bool IsWindowsFileSystem(const std::string& /*root*/) {
    return true;
}

bool IsListableDirectory(const std::string& path) {
    std::string pattern;
    WIN32_FIND_DATAA data;
    const HANDLE find = winfs::FindFirstIn(path, pattern, data);
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
