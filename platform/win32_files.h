// What the Windows directory stack and remover share: how paths are joined and listed, and what
// a file's attributes and identity are. Internal to the platform layer; Windows only.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fs_services.h"

namespace clearnook::platform::winfs {

[[nodiscard]] bool IsDots(const char* name);

// Appends `name` to the directory path `dir` with one backslash between them.
void JoinPath(std::string& dir, std::string_view name);

// Starts listing `dir` (`pattern` is scratch), as every walk and check here does. An invalid
// handle when it cannot be listed.
[[nodiscard]] HANDLE FindFirstIn(const std::string& dir, std::string& pattern, WIN32_FIND_DATAA& data);

// The attributes the system gave for the file `name`, with what the tests pretend.
[[nodiscard]] DWORD AttributesOf(DWORD attributes, std::string_view name);

// The last component of `path`.
[[nodiscard]] std::string_view LastComponent(std::string_view path);

// What an entry with these attributes is to the walk and the delete pass. The directory
// attribute decides first: hidden and system directories, junctions and directory links are all
// walked into. A file that is a reparse point (a file link, a placeholder of a cloud drive) is
// none of the walk's business: removing it could remove what it stands for, where the system
// opens its target in spite of being asked for the link (Wine 8 does).
[[nodiscard]] EntryType TypeOf(DWORD attributes);

// Opens `path` itself, a link in its last component included, never what a link names (where
// the system honours that: Wine 8 opens a file link's target). With no access to the data,
// sharing everything, the open neither waits for nor disturbs a program that holds the file;
// DELETE access is refused while one holds it without sharing deletion.
[[nodiscard]] HANDLE OpenItself(const std::string& path, DWORD access);

[[nodiscard]] std::uint64_t Join(DWORD high, DWORD low);

// The identity of the open file `h` (its volume's serial number, its index on that volume, its
// creation time) and its attributes. False when the system gives none.
[[nodiscard]] bool IdentityOf(HANDLE h, FileIdentity& identity, DWORD& attributes);

// NtQueryInformationFile of ntdll, which every process has loaded: a file's index, creation time
// and attributes, which GetFileInformationByHandle gives only together with its volume's serial
// number. Taken at run time, so the program imports nothing beyond what it did.
using QueryInformationFile = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG,
                                              FILE_INFORMATION_CLASS);

[[nodiscard]] QueryInformationFile NtQueryInformationFileProc();

}  // namespace clearnook::platform::winfs
