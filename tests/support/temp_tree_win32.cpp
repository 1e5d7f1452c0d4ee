// The Windows side of the test trees: ANSI paths joined with backslashes, made and removed
// through the wide file interfaces so that trees may reach past MAX_PATH.
#include <windows.h>

#include <vector>

#include <gtest/gtest.h>

#include "tests/support/temp_tree.h"

namespace clearnook::testing {
namespace {

std::string Backslashed(std::string_view relative) {
    std::string s(relative);
    for (char& c : s) {
        if (c == '/') {
            c = '\\';
        }
    }
    return s;
}

// The wide form of an ANSI path, with the "\\?\" prefix, which the wide file functions take
// past MAX_PATH (the ANSI ones stop there): tests make trees the program cannot list whole.
std::wstring Extended(const std::string& path) {
    const std::string full = "\\\\?\\" + path;
    const int n =
        MultiByteToWideChar(CP_ACP, 0, full.data(), static_cast<int>(full.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, full.data(), static_cast<int>(full.size()), w.data(), n);
    return w;
}

// Runs the host program `argv[0]` with the host paths of the Windows paths `paths` appended, where
// Wine offers its own entry points for that. False when it is not Wine or the program fails.
bool RunOnHost(std::vector<std::string> argv, const std::vector<std::string>& paths) {
    using UnixFileName = char*(WINAPI*)(LPCWSTR);
    using UnixSpawn = LONG(CDECL*)(char* const argv[], int wait);
    const auto unixFileName = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    const auto spawn = reinterpret_cast<UnixSpawn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll"), "__wine_unix_spawnvp")));
    if (unixFileName == nullptr || spawn == nullptr) {
        return false;
    }
    for (const std::string& path : paths) {
        char* host = unixFileName(Extended(path).substr(4).c_str());
        if (host == nullptr) {
            return false;
        }
        argv.emplace_back(host);
        HeapFree(GetProcessHeap(), 0, host);
    }
    std::vector<char*> args;
    for (std::string& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    return spawn(args.data(), 1) == 0;
}

std::string Narrow(const wchar_t* w) {
    const int n = WideCharToMultiByte(CP_ACP, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    WideCharToMultiByte(CP_ACP, 0, w, -1, s.data(), n, nullptr, nullptr);
    return s;
}

// A fresh folder named after this process in `base`; empty when none can be made there.
std::string MakeFreshFolder(const std::string& base) {
    for (unsigned i = 0; i < 10000; ++i) {
        const std::string p = base + "clearnook-test-" + std::to_string(GetCurrentProcessId()) +
                              "-" + std::to_string(i);
        if (CreateDirectoryA(p.c_str(), nullptr) != 0) {
            return p;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return {};
        }
    }
    return {};
}

}  // namespace

TempDir::TempDir(Where) {
    // Beside the temporary folder, not in it: every file below a folder named temp is a
    // temporary file to the program, which would hide every other category.
    char temp[MAX_PATH];
    const DWORD n = GetTempPathA(MAX_PATH, temp);
    std::string base(temp, n < MAX_PATH ? n : 0);
    while (!base.empty() && base.back() == '\\') {
        base.pop_back();
    }
    const std::size_t sep = base.rfind('\\');
    if (sep == std::string::npos) {
        ADD_FAILURE() << "no temporary folder: " << GetLastError();
        return;
    }
    base.resize(sep + 1);
    m_path = MakeFreshFolder(base);
    if (m_path.empty()) {
        ADD_FAILURE() << "no test folder in " << base << ": " << GetLastError();
    }
}

TempDir::TempDir(const std::string& base) : m_path(MakeFreshFolder(base + "\\")) {}

TempDir::~TempDir() {
    if (!m_path.empty()) {
        RemoveTree(m_path);
    }
}

std::string TempDir::operator/(std::string_view relative) const {
    return m_path + "\\" + Backslashed(relative);
}

// `relative` is split at its slashes: a byte 0x5C may be the second byte of a character there.
void TempDir::Dir(std::string_view relative) const {
    std::string p = m_path;
    std::size_t from = 0;
    while (from < relative.size()) {
        const std::size_t sep = relative.find('/', from);
        const std::size_t end = sep == std::string_view::npos ? relative.size() : sep;
        p += "\\";
        p.append(relative, from, end - from);
        if (CreateDirectoryW(Extended(p).c_str(), nullptr) == 0 &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "CreateDirectoryA " << p << ": " << GetLastError();
        }
        from = end + 1;
    }
}

void TempDir::File(std::string_view relative, std::uint64_t size) const {
    const std::size_t sep = relative.rfind('/');
    if (sep != std::string_view::npos) {
        Dir(relative.substr(0, sep));
    }
    const std::string p = *this / relative;
    const HANDLE file = CreateFileW(Extended(p).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << p << ": " << GetLastError();
    if (size >= 64 * 1024) {
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(size);
        EXPECT_NE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN), 0);
        EXPECT_NE(SetEndOfFile(file), 0);
    } else if (size > 0) {
        const std::string bytes(static_cast<std::size_t>(size), 'x');
        DWORD written = 0;
        EXPECT_NE(WriteFile(file, bytes.data(), static_cast<DWORD>(size), &written, nullptr), 0);
        EXPECT_EQ(written, size);
    }
    CloseHandle(file);
}

void RemoveTree(const std::string& path) {
    const std::wstring ext = Extended(path);
    const DWORD attrs = GetFileAttributesW(ext.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    SetFileAttributesW(ext.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((attrs & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(ext.c_str());
        return;
    }
    // A directory link is removed as itself, never through its target: under Wine, whose links
    // are the host's and whose RemoveDirectory removes the target, by the host.
    if ((attrs & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && RunOnHost({"/bin/rm", "-f"}, {path})) {
        return;
    }
    if ((attrs & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        std::vector<std::string> names;
        WIN32_FIND_DATAW data;
        const HANDLE find = FindFirstFileW((ext + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string n = Narrow(data.cFileName);
                if (n != "." && n != "..") {
                    names.push_back(n);
                }
            } while (FindNextFileW(find, &data) != 0);
            FindClose(find);
        }
        for (const std::string& n : names) {
            RemoveTree(path + "\\" + n);
        }
    }
    RemoveDirectoryW(ext.c_str());
}

void MakeChain(const std::string& base, std::size_t depth, std::string_view name,
               std::string_view leaf) {
    std::string p = base;
    for (std::size_t i = 0; i < depth; ++i) {
        p += "\\";
        p += name;
        ASSERT_NE(CreateDirectoryW(Extended(p).c_str(), nullptr), 0) << p << ": " << GetLastError();
    }
    if (!leaf.empty()) {
        const std::string f = p + "\\" + std::string(leaf);
        const HANDLE file = CreateFileW(Extended(f).c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
}

bool MakeDirectoryLink(const std::string& link, const std::string& target) {
    return RunOnHost({"/bin/ln", "-s"}, {target, link}) &&
           (GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeFileLink(const std::string& link, const std::string& target) {
    const DWORD attrs = GetFileAttributesA(target.c_str());
    return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           RunOnHost({"/bin/ln", "-s"}, {target, link}) &&
           GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES;
}

platform::FileIdentity FileIdentityAt(const std::string& path) {
    platform::FileIdentity identity;
    const HANDLE h = CreateFileA(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return identity;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info) != 0) {
        identity.device = info.dwVolumeSerialNumber;
        identity.inode =
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        identity.birthTime =
            (static_cast<std::uint64_t>(info.ftCreationTime.dwHighDateTime) << 32) |
            info.ftCreationTime.dwLowDateTime;
    }
    CloseHandle(h);
    return identity;
}

}  // namespace clearnook::testing
