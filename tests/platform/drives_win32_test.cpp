// The machine's lettered drives as Windows (here Wine) reports them.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>

#include "platform/drives.h"

namespace clearnook::platform {
namespace {

TEST(SystemLogicalDrivesTest, MaskHasTheSystemDrive) {
    const auto drives = MakeSystemLogicalDrives();
    ASSERT_NE(drives, nullptr);
    char windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 2u);
    const int letter = windows[0] - 'A';
    ASSERT_GE(letter, 0);
    EXPECT_NE(drives->DriveMask() & (1u << letter), 0u);
    EXPECT_EQ(drives->DriveMask(), static_cast<std::uint32_t>(GetLogicalDrives()));
}

TEST(SystemLogicalDrivesTest, LabelQueryAgreesWithTheSystem) {
    const auto drives = MakeSystemLogicalDrives();
    std::array<char, 256> label{};
    std::array<char, 256> direct{};
    const bool ok = drives->VolumeLabel("C:", label);
    const bool directOk =
        GetVolumeInformationA("C:", direct.data(), 256, nullptr, nullptr, nullptr, nullptr, 0) != 0;
    EXPECT_EQ(ok, directOk);
    if (ok) {
        EXPECT_STREQ(label.data(), direct.data());
    }
    EXPECT_FALSE(drives->VolumeLabel("C:", std::span<char>()));  // no room, no query
}

}  // namespace
}  // namespace clearnook::platform
