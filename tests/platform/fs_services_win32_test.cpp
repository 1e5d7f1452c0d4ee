// The Windows file-system services on real trees made with the ANSI file interfaces.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/directory_stack.h"
#include "tests/support/temp_tree.h"

namespace clearnook::platform {
namespace {

using testing::TempDir;

std::string Lowered(std::string_view s) {
    std::string out = "kept:";
    AppendLowered(out, s);
    EXPECT_EQ(out.substr(0, 5), "kept:");  // appends, never touches what was there
    return out.substr(5);
}

struct LowerCase {
    const char* in;
    const char* out;
};

void PrintTo(const LowerCase& c, std::ostream* os) {
    *os << c.in;
}

class AsciiLoweringTest : public ::testing::TestWithParam<LowerCase> {};

TEST_P(AsciiLoweringTest, LowersLettersAndKeepsEveryOtherByte) {
    EXPECT_EQ(Lowered(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AsciiLoweringTest,
    ::testing::Values(LowerCase{"", ""},
                      LowerCase{"C:\\Photos\\Thumbs.DB", "c:\\photos\\thumbs.db"},
                      LowerCase{"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz"},
                      LowerCase{"@[`{ 0-9 .~\\/", "@[`{ 0-9 .~\\/"},
                      LowerCase{"Content.IE5", "content.ie5"}));

// What this run's ANSI code page is must be known for the byte-level cases below; the test run
// in the Japanese locale says which one it expects.
UINT ExpectedCodePage() {
    const char* want = std::getenv("CLEARNOOK_EXPECT_ACP");
    return want != nullptr ? static_cast<UINT>(std::atoi(want)) : 0;
}

TEST(CodePageLoweringTest, RunsInTheCodePageTheTestAsksFor) {
    if (ExpectedCodePage() != 0) {
        EXPECT_EQ(GetACP(), ExpectedCodePage());
    }
}

TEST(CodePageLoweringTest, SingleByteCodePageLowersItsOwnLetters) {
    if (GetACP() != 1252) {
        GTEST_SKIP() << "code page " << GetACP();
    }
    EXPECT_EQ(Lowered("CAF\xC9\\\xC0.TMP"), "caf\xE9\\\xE0.tmp");  // É and À of Windows-1252
    EXPECT_EQ(Lowered("\xDF\xFF\xD7"), "\xDF\xFF\xD7");            // ß, ÿ, × have no upper half
}

TEST(CodePageLoweringTest, DoubleByteCharactersKeepBothBytes) {
    if (GetACP() != 932) {
        GTEST_SKIP() << "code page " << GetACP();
    }
    // Katakana A is 0x83 0x41: its trail byte is the code of 'A' and must not be lowered.
    EXPECT_EQ(Lowered("\x83\x41.TMP"), "\x83\x41.tmp");
    // A trail byte 0x5C (the code of '\') stays too; the letters around it are lowered.
    EXPECT_EQ(Lowered("AB\x95\x5C"
                      "CD"),
              "ab\x95\x5C"
              "cd");
    // A lead byte at the very end has no trail: it is kept as it is.
    EXPECT_EQ(Lowered("X\x83"), "x\x83");
    // Single-byte katakana (0xA1-0xDF) are characters of their own.
    EXPECT_EQ(Lowered("\xB1Z"), "\xB1z");
}

struct Listed {
    EntryType type;
    std::uint64_t size;
};

// Lists the top directory of `stack` whole, by name.
std::map<std::string, Listed> ListTop(DirectoryStack& stack) {
    std::map<std::string, Listed> out;
    DirEntry e;
    while (stack.NextEntry(e)) {
        std::uint64_t size = 0;
        if (e.type == EntryType::File) {
            const auto info = stack.StatEntry(e.name);
            EXPECT_TRUE(info.has_value()) << e.name;
            size = info ? info->size : 0;
        }
        EXPECT_TRUE(out.emplace(std::string(e.name), Listed{e.type, size}).second) << e.name;
    }
    return out;
}

struct CharacterCase {
    const char* text;
    std::size_t pos;
    bool starts;
};

void PrintTo(const CharacterCase& c, std::ostream* os) {
    *os << ::testing::PrintToString(c.text) << " at " << c.pos;
}

class DoubleByteCharacterTest : public ::testing::TestWithParam<CharacterCase> {};

// Only the bytes that can begin a double-byte character, read back from the position, decide.
TEST_P(DoubleByteCharacterTest, TellsWhereCharactersBegin) {
    if (GetACP() != 932) {
        GTEST_SKIP() << "code page " << GetACP();
    }
    EXPECT_EQ(StartsCharacter(GetParam().text, GetParam().pos), GetParam().starts);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DoubleByteCharacterTest,
    ::testing::Values(CharacterCase{"\x83\x5C", 1, false}, CharacterCase{"\x83\x5C", 0, true},
                      CharacterCase{"a\x83\x5C\\", 3, true}, CharacterCase{"\x83\x83\x5C", 2, true},
                      CharacterCase{"\x83\x83\x83\x5C", 3, false},
                      CharacterCase{"\xB1\x5C", 1, true},  // 0xB1: a one-byte katakana
                      CharacterCase{"\\\x95\x5C", 2, false}));

// A folder whose name ends in the byte 0x5C (katakana so, 0x83 0x5C) is listed as itself.
TEST(DoubleByteListingTest, AFolderEndingInTheByte0x5CIsListedAsItself) {
    if (GetACP() != 932) {
        GTEST_SKIP() << "code page " << GetACP();
    }
    TempDir t;
    const std::string so = "\x83\x5C";
    t.File("docs/" + so + "/inside.tmp", 4);
    t.File("docs/" + so + "sibling.tmp", 1);
    EXPECT_TRUE(IsListableDirectory(t / ("docs/" + so)));
    DirectoryStack direct;
    ASSERT_TRUE(direct.OpenRoot(t / ("docs/" + so)));
    DirectoryStack stack;
    ASSERT_TRUE(stack.OpenRoot(t / "docs"));
    ASSERT_EQ(stack.EnterChild(so), DirectoryStack::EnterResult::Entered);
    for (DirectoryStack* s : {&direct, &stack}) {
        const auto listed = ListTop(*s);
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed.count("inside.tmp"), 1u);
        ASSERT_TRUE(s->StatEntry("INSIDE.TMP").has_value());
        EXPECT_NE(s->StatEntry("INSIDE.TMP")->identity, FileIdentity{});
    }
}

TEST(DirectoryStackTest, ListsEveryEntryButTheDotsWithTypeAndSize) {
    TempDir t;
    t.File("Thumbs.db", 20480);
    t.File("empty.tmp", 0);
    t.File("backup.tmp/inner.txt", 3);
    t.Dir("Hidden");
    ASSERT_NE(
        SetFileAttributesA((t / "Hidden").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
        0);
    t.File("ReadOnly.TXT", 7);
    ASSERT_NE(SetFileAttributesA((t / "ReadOnly.TXT").c_str(), FILE_ATTRIBUTE_READONLY), 0);

    DirectoryStack stack;
    ASSERT_TRUE(stack.OpenRoot(t.path()));
    EXPECT_EQ(stack.Depth(), 1u);
    const auto listed = ListTop(stack);
    ASSERT_EQ(listed.size(), 5u);
    EXPECT_EQ(listed.at("Thumbs.db").type, EntryType::File);
    EXPECT_EQ(listed.at("Thumbs.db").size, 20480u);
    EXPECT_EQ(listed.at("empty.tmp").size, 0u);
    EXPECT_EQ(listed.at("backup.tmp").type, EntryType::Directory);
    EXPECT_EQ(listed.at("Hidden").type, EntryType::Directory);
    EXPECT_EQ(listed.at("ReadOnly.TXT").size, 7u);
    SetFileAttributesA((t / "ReadOnly.TXT").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(DirectoryStackTest, EntersAndLeavesResumingWhereTheParentWas) {
    TempDir t;
    for (const char* d : {"a", "b", "c"}) {
        t.File(std::string(d) + "/x" + d + ".tmp", 1);
    }
    DirectoryStack stack;
    ASSERT_TRUE(stack.OpenRoot(t.path() + "\\"));  // a trailing separator is taken as well
    std::vector<std::string> seen;
    DirEntry e;
    while (stack.Depth() > 0) {
        if (!stack.NextEntry(e)) {
            stack.Leave();
            continue;
        }
        seen.emplace_back(std::string(stack.Depth(), '>') + std::string(e.name));
        if (e.type == EntryType::Directory) {
            ASSERT_EQ(stack.EnterChild(e.name), DirectoryStack::EnterResult::Entered);
        }
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen,
              (std::vector<std::string>{">>xa.tmp", ">>xb.tmp", ">>xc.tmp", ">a", ">b", ">c"}));
}

TEST(DirectoryStackTest, MissingRootAndMissingChildCannotBeListed) {
    TempDir t;
    DirectoryStack missing;
    EXPECT_FALSE(missing.OpenRoot(t / "nothing"));
    EXPECT_EQ(missing.Depth(), 0u);
    DirEntry e;
    EXPECT_FALSE(missing.NextEntry(e));

    t.File("f.txt", 1);
    DirectoryStack stack;
    ASSERT_TRUE(stack.OpenRoot(t.path()));
    EXPECT_EQ(stack.EnterChild("gone"), DirectoryStack::EnterResult::Unlistable);
    EXPECT_EQ(stack.Depth(), 1u);
    ASSERT_TRUE(stack.NextEntry(e));  // the parent is where it was
    EXPECT_EQ(e.name, "f.txt");
}

TEST(DirectoryStackTest, StatEntryAsksTheDiskForAnyOtherName) {
    TempDir t;
    t.File("a.tmp", 5);
    t.File("b.tmp", 9);
    DirectoryStack stack;
    ASSERT_TRUE(stack.OpenRoot(t.path()));
    EXPECT_EQ(stack.StatEntry("b.tmp")->size, 9u);
    EXPECT_EQ(stack.StatEntry("A.TMP")->size, 5u);
    EXPECT_FALSE(stack.StatEntry("missing").has_value());
}

// The identity the delete pass checks: the same for a file however it is asked for, another for
// another file, never zero for a file that is there.
TEST(DirectoryStackTest, StatEntryReadsEachFilesIdentity) {
    TempDir t;
    t.File("a.tmp", 1);
    t.File("b.tmp", 1);
    DirectoryStack stack;
    ASSERT_TRUE(stack.OpenRoot(t.path()));
    std::map<std::string, FileIdentity> listed;
    DirEntry e;
    while (stack.NextEntry(e)) {
        listed[std::string(e.name)] = stack.StatEntry(e.name)->identity;
    }
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_NE(listed["a.tmp"], FileIdentity{});
    EXPECT_NE(listed["a.tmp"], listed["b.tmp"]);
    EXPECT_EQ(stack.StatEntry("A.TMP")->identity, listed["a.tmp"]);
}

// A directory path of 256 characters or more makes a pattern past MAX_PATH: it is not listed.
class PathLimitTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(PathLimitTest, ListsUpTo255Characters) {
    TempDir t;
    const std::size_t length = GetParam();
    ASSERT_LT(t.path().size() + 2, length);
    const std::string name(length - t.path().size() - 1, 'd');
    t.File(name + "/inside.tmp", 1);
    const std::string dir = t / name;
    ASSERT_EQ(dir.size(), length);

    EXPECT_EQ(IsListableDirectory(dir), length < 256);
    DirectoryStack stack;
    ASSERT_TRUE(stack.OpenRoot(t.path()));
    EXPECT_EQ(stack.EnterChild(name), length < 256 ? DirectoryStack::EnterResult::Entered
                                                   : DirectoryStack::EnterResult::Unlistable);
    DirectoryStack direct;
    EXPECT_EQ(direct.OpenRoot(dir), length < 256);
}

INSTANTIATE_TEST_SUITE_P(Lengths, PathLimitTest, ::testing::Values(200u, 255u, 256u, 280u));

TEST(IsListableDirectoryTest, TellsDirectoriesFromTheRest) {
    TempDir t;
    t.File("file.txt", 1);
    t.Dir("empty");
    EXPECT_TRUE(IsListableDirectory(t.path()));
    EXPECT_TRUE(IsListableDirectory(t / "empty"));
    EXPECT_FALSE(IsListableDirectory(t / "missing"));
    EXPECT_FALSE(IsListableDirectory(t / "file.txt"));
    char windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 2u);
    EXPECT_TRUE(IsListableDirectory(std::string(windows, 2)));  // a drive's two-character name
}

}  // namespace
}  // namespace clearnook::platform
