// Test hooks of the Windows file-system services. Not for the programs.
#pragma once

#include <string>

namespace clearnook::platform::win32_testing {

// Wine 8 makes no file a reparse point (it shows a file link as the file it names, and refuses
// to set reparse data). From now on the listings and the opened files named `name` (any case;
// empty: none) report the reparse-point attribute as well, as a file link's would on Windows.
// Not thread-safe; set before a walk or a delete pass starts.
void PretendReparsePoint(std::string name);

}  // namespace clearnook::platform::win32_testing
