#include "ui/drive_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include "platform/drives_linux.h"
#include "tests/support/root_mount.h"
#endif

namespace clearnook {
namespace {

// Lettered drives as a table: a mask, and per drive name either a label or a failing query.
class FakeLogicalDrives : public platform::LogicalDrives {
  public:
    std::uint32_t mask = 0;
    std::map<std::string, std::string> labels;  // a name missing here fails its query

    struct Query {
        std::string name;
        std::size_t bufferSize;
    };
    std::vector<Query> queries;

    std::uint32_t DriveMask() override { return mask; }

    bool VolumeLabel(const std::string& driveName, std::span<char> labelBuffer) override {
        queries.push_back({driveName, labelBuffer.size()});
        const auto it = labels.find(driveName);
        if (it == labels.end()) {
            // A failed query may leave anything in the buffer.
            std::memset(labelBuffer.data(), 'X', labelBuffer.size());
            return false;
        }
        // A label too long for the buffer arrives cut, without its NUL.
        std::memcpy(labelBuffer.data(), it->second.c_str(),
                    std::min(it->second.size() + 1, labelBuffer.size()));
        return true;
    }
};

constexpr std::uint32_t Bit(char letter) {
    return 1u << (letter - 'A');
}

std::vector<std::string> Texts(const std::vector<DriveEntry>& entries) {
    std::vector<std::string> texts;
    for (const DriveEntry& e : entries) {
        texts.push_back(e.text);
    }
    return texts;
}

TEST(LetteredDrives, MaskWithLabelledBareAndFailingDrives) {
    FakeLogicalDrives drives;
    drives.mask = Bit('A') | Bit('C') | Bit('D');
    drives.labels = {{"C:", "SYSTEM"}, {"D:", ""}};  // A: has no medium, its query fails
    const std::vector<DriveEntry> entries = ListDriveEntries(drives);
    EXPECT_EQ(Texts(entries), (std::vector<std::string>{"A:", "C: [SYSTEM]", "D:"}));
    // Every drive present is queried, in letter order, by its bare name with a 256-byte buffer.
    ASSERT_EQ(drives.queries.size(), 3u);
    const char* const names[] = {"A:", "C:", "D:"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(drives.queries[i].name, names[i]);
        EXPECT_EQ(drives.queries[i].bufferSize, 256u);
    }
}

TEST(LetteredDrives, EntryTextsByMaskAndLabels) {
    struct Case {
        const char* what;
        std::uint32_t mask;
        std::map<std::string, std::string> labels;
        std::vector<std::string> texts;
    };
    const std::string longest(255, 'L');
    std::vector<std::string> everyLetter;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        everyLetter.push_back(std::string{letter, ':'});
    }
    const Case cases[] = {
        {"no drive", 0, {}, {}},
        {"one bare drive", Bit('C'), {{"C:", ""}}, {"C:"}},
        {"label with blanks and brackets", Bit('E'), {{"E:", "MY [DISK] 2"}}, {"E: [MY [DISK] 2]"}},
        {"label filling the buffer", Bit('F'), {{"F:", longest}}, {"F: [" + longest + "]"}},
        {"label overflowing the buffer",
         Bit('G'),
         {{"G:", std::string(300, 'O')}},
         {"G: [" + std::string(256, 'O') + "]"}},
        {"first and last letter", Bit('A') | Bit('Z'), {{"Z:", "LAST"}}, {"A:", "Z: [LAST]"}},
        {"bits past Z name no drive", Bit('B') | (1u << 26) | (1u << 31), {}, {"B:"}},
        {"every letter", (1u << 26) - 1, {}, everyLetter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeLogicalDrives drives;
        drives.mask = c.mask;
        drives.labels = c.labels;
        EXPECT_EQ(Texts(ListDriveEntries(drives)), c.texts);
    }
}

TEST(LetteredDrives, ScanRootIsTheDriveNameWithOrWithoutLabel) {
    FakeLogicalDrives drives;
    drives.mask = Bit('C') | Bit('D');
    drives.labels = {{"C:", "SYSTEM"}, {"D:", ""}};
    const std::vector<DriveEntry> entries = ListDriveEntries(drives);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(ScanRootOf(entries[0]), "C:");
    EXPECT_EQ(ScanRootOf(entries[1]), "D:");
    // The root is the first two characters of the text, whatever follows them.
    for (const DriveEntry& e : entries) {
        EXPECT_EQ(ScanRootOf(e), e.text.substr(0, 2));
    }
}

#ifndef _WIN32
TEST(MountedDrives, EntryTextIsPathThenLabelInBrackets) {
    const std::vector<platform::MountedVolume> volumes = {
        {"/", "SYSTEM"},
        {"/home", ""},
        {"/mnt/a [b]", "DATA"},
        {"/mnt/c [d]", ""},
    };
    const std::vector<DriveEntry> entries = ListMountEntries(volumes);
    const std::vector<DriveEntry> expected = {
        {"/ [SYSTEM]", "/"},
        {"/home", "/home"},
        {"/mnt/a [b] [DATA]", "/mnt/a [b]"},
        {"/mnt/c [d]", "/mnt/c [d]"},
    };
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(ScanRootOf(entries[2]), "/mnt/a [b]");
    EXPECT_EQ(ScanRootOf(entries[3]), "/mnt/c [d]");
}

TEST(MountedDrives, HomeFolderComesFirstThenTheMounts) {
    const std::vector<platform::MountedVolume> volumes = {{"/", "SYSTEM"}, {"/home/me", ""}};
    struct Case {
        const char* label;
        std::optional<std::string> home;
        std::vector<DriveEntry> expected;
    };
    const std::vector<Case> cases = {
        {"a home folder",
         "/home/me/work",
         {{"~ [Home]", "/home/me/work"}, {"/ [SYSTEM]", "/"}, {"/home/me", "/home/me"}}},
        {"a home folder that is a mount point",
         "/home/me",
         {{"~ [Home]", "/home/me"}, {"/ [SYSTEM]", "/"}, {"/home/me", "/home/me"}}},
        {"no home folder", std::nullopt, {{"/ [SYSTEM]", "/"}, {"/home/me", "/home/me"}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ListHomeAndMountEntries(c.home, volumes), c.expected) << c.label;
    }
    EXPECT_EQ(ListHomeAndMountEntries("/home/me", {}),
              (std::vector<DriveEntry>{{"~ [Home]", "/home/me"}}));
}

// Where "/" is mounted, it is the first entry after the home folder's.
TEST(MountedDrives, ThisMachineListsHomeThenRoot) {
    if (const std::string why = testing::WhyRootIsNoDrive(); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::vector<DriveEntry> entries = ListDriveEntries();
    const std::optional<std::string> home = platform::HomeDirectory();
    const std::size_t root = home ? 1 : 0;
    ASSERT_GT(entries.size(), root);
    if (home) {
        EXPECT_EQ(entries.front(), (DriveEntry{"~ [Home]", *home}));
    }
    EXPECT_EQ(ScanRootOf(entries[root]), "/");
    EXPECT_TRUE(entries[root].text == "/" || entries[root].text.starts_with("/ ["));
}
#endif

// The drive box as a list of what was done to it.
class FakeDriveBox : public DriveBox {
  public:
    std::vector<std::string> calls;
    void AddDriveText(std::string_view text) override {
        calls.push_back("add " + std::string(text));
    }
    void SelectDriveEntry(int index) override {
        calls.push_back("select " + std::to_string(index));
    }
    std::optional<int> SelectedDriveIndex() override { return std::nullopt; }
};

TEST(FillDriveList, AddsInOrderThenSelectsTheFirst) {
    FakeDriveBox box;
    FillDriveList(box, {{"A:", "A:"}, {"C: [SYSTEM]", "C:"}, {"D:", "D:"}});
    EXPECT_EQ(box.calls,
              (std::vector<std::string>{"add A:", "add C: [SYSTEM]", "add D:", "select 0"}));
}

TEST(FillDriveList, EmptyListSelectsNothing) {
    FakeDriveBox box;
    FillDriveList(box, {});
    EXPECT_TRUE(box.calls.empty());
}

}  // namespace
}  // namespace clearnook
