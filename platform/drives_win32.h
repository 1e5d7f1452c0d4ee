// The drives of Windows: the machine's lettered logical drives. Windows files only.
#pragma once

#include <memory>

#include "platform/drives.h"

namespace clearnook::platform {

// The machine's logical drives, over GetLogicalDrives and GetVolumeInformationA. The caller owns
// the object.
[[nodiscard]] std::unique_ptr<LogicalDrives> MakeSystemLogicalDrives();

}  // namespace clearnook::platform
