// The lettered logical drives of Windows: the drive mask and the volume labels.
#include <windows.h>

#include "platform/drives.h"

namespace clearnook::platform {
namespace {

class SystemLogicalDrives final : public LogicalDrives {
  public:
    std::uint32_t DriveMask() override { return static_cast<std::uint32_t>(GetLogicalDrives()); }

    bool VolumeLabel(const std::string& driveName, std::span<char> labelBuffer) override {
        if (labelBuffer.empty()) {
            return false;
        }
        // The two-character name exactly, as the program always passed it; no other output.
        return GetVolumeInformationA(driveName.c_str(), labelBuffer.data(),
                                     static_cast<DWORD>(labelBuffer.size()), nullptr, nullptr,
                                     nullptr, nullptr, 0) != 0;
    }
};

}  // namespace

std::unique_ptr<LogicalDrives> MakeSystemLogicalDrives() {
    return std::make_unique<SystemLogicalDrives>();
}

}  // namespace clearnook::platform
