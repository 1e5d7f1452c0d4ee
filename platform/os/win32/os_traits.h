// What the engine must know of how Windows names files. CMake puts this folder on the include
// path of Windows builds; each OS has a header of this name in its own folder.
#pragma once

#include <cstddef>
#include <string_view>

namespace clearnook::platform {

inline constexpr char kPathSeparator = '\\';
// The file system ignores case, so the lists record the lowered, backslash-separated path that
// classification sees; it names the same file.
inline constexpr bool kRecordLowerCasePaths = true;
// The walk's root is a drive name ("C:"), which holds no path marker: classification sees it as
// given.
inline constexpr bool kClassifyRootText = true;

// True when the byte at `pos` of `text` begins a character. The second byte of a double-byte
// character of the ANSI code page can be 0x5C, the backslash, or an ASCII letter, so a search for
// a separator or a path marker counts only the matches that begin a character. Any thread.
[[nodiscard]] bool StartsCharacter(std::string_view text, std::size_t pos);

}  // namespace clearnook::platform
