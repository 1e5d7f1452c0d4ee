// What the engine must know of how Linux names files. CMake puts this folder on the include path
// of Linux builds; each OS has a header of this name in its own folder.
#pragma once

#include <cstddef>
#include <string_view>

namespace clearnook::platform {

inline constexpr char kPathSeparator = '/';
// Case matters here: the lists record the path as enumerated, byte for byte.
inline constexpr bool kRecordLowerCasePaths = false;
// A root here can be any directory, spelled any way ("x/temp/..", a mount point under a
// directory called temp): classification sees a neutral prefix in its place, as it sees a drive
// name on Windows, so neither where the root lies nor how it is written changes a category.
inline constexpr bool kClassifyRootText = false;

// Every byte that looks like '/' is a separator here, whatever the encoding (see the Windows
// header's StartsCharacter for why that is not so everywhere). Any thread.
[[nodiscard]] inline bool StartsCharacter(std::string_view /*text*/, std::size_t /*pos*/) {
    return true;
}

}  // namespace clearnook::platform
