#include "cli/cli_options.h"
#include "cli/confirm.h"
#include "engine/categories.h"

#include <gtest/gtest.h>

namespace clearnook::cli {
namespace {

struct ArgsCase {
    std::vector<std::string> args;
    bool ok;
    std::string root;  // when ok
};

void PrintTo(const ArgsCase& c, std::ostream* os) {
    for (const std::string& a : c.args) {
        *os << '[' << a << ']';
    }
}

class ParseCliArgsTest : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(ParseCliArgsTest, AcceptsOrRejects) {
    const ParseResult r = ParseCliArgs(GetParam().args);
    EXPECT_EQ(r.ok, GetParam().ok) << r.error;
    if (r.ok) {
        EXPECT_EQ(r.options.root, GetParam().root);
    } else {
        EXPECT_FALSE(r.error.empty());
        EXPECT_EQ(r.error.find('\n'), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseCliArgsTest,
    ::testing::Values(
        ArgsCase{{"/"}, true, "/"}, ArgsCase{{"//"}, true, "/"},
        ArgsCase{{"/home/"}, true, "/home"}, ArgsCase{{"a//"}, true, "a"},
        ArgsCase{{"--json", "--list", "-0", "--quiet", "x"}, true, "x"},
        ArgsCase{{"--single-thread", "--quiet", "x"}, true, "x"},
        ArgsCase{{"--", "-odd"}, true, "-odd"}, ArgsCase{{}, false, ""},
        ArgsCase{{"a", "b"}, false, ""}, ArgsCase{{"--bogus", "a"}, false, ""},
        ArgsCase{{"-0", "a"}, false, ""}, ArgsCase{{""}, false, ""},
        ArgsCase{{"--json"}, false, ""}, ArgsCase{{"--delete", "temp", "--yes", "/x/"}, true, "/x"},
        ArgsCase{{"--delete=temp", "x"}, true, "x"}, ArgsCase{{"--delete", "temp"}, false, ""},
        ArgsCase{{"x", "--delete"}, false, ""}, ArgsCase{{"--yes", "x"}, false, ""},
        ArgsCase{{"--delete", "temp", "--json", "x"}, false, ""},
        ArgsCase{{"--delete", "temp", "--list", "x"}, false, ""},
        ArgsCase{{"--delete", "bogus", "x"}, false, ""}, ArgsCase{{"--version"}, true, ""},
        ArgsCase{{"--drives"}, true, ""}, ArgsCase{{"--drives", "--json"}, true, ""},
        ArgsCase{{"--drives", "/"}, false, ""}, ArgsCase{{"--drives", "--list"}, false, ""},
        ArgsCase{{"--drives", "--delete", "temp"}, false, ""}));

// What --threads and --single-thread leave in the options; -1: a usage error.
TEST(ThreadsArgsTest, CountsFromOneToTheMost) {
    const struct {
        std::vector<std::string> args;
        long long threads;
    } cases[] = {
        {{"x"}, 0},
        {{"--threads", "4", "x"}, 4},
        {{"--threads=1", "x"}, 1},
        {{"--single-thread", "x"}, 1},
        {{"--threads", std::to_string(kMostThreads), "x"}, kMostThreads},
        {{"--threads", "0", "x"}, -1},
        {{"--threads", std::to_string(kMostThreads + 1), "x"}, -1},
        {{"--threads", "-2", "x"}, -1},
        {{"--threads", "2x", "x"}, -1},
        {{"--threads=", "x"}, -1},
        {{"x", "--threads"}, -1},
        {{"--drives", "--threads", "2"}, -1},
    };
    for (const auto& c : cases) {
        const ParseResult r = ParseCliArgs(c.args);
        SCOPED_TRACE(::testing::PrintToString(c.args));
        ASSERT_EQ(r.ok, c.threads >= 0) << r.error;
        if (r.ok) {
            EXPECT_EQ(r.options.threads, c.threads);
        }
    }
}

// A readable, single-line form of `text` for test names.
std::string Shown(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : std::string(1, c);
    }
    return out + "'";
}

// What --delete and --yes leave in the options.
struct DeleteArgsCase {
    std::vector<std::string> args;
    std::vector<int> categories;
    bool yes;
};

void PrintTo(const DeleteArgsCase& c, std::ostream* os) {
    for (const std::string& a : c.args) {
        *os << '[' << a << ']';
    }
}

class DeleteArgsTest : public ::testing::TestWithParam<DeleteArgsCase> {};

TEST_P(DeleteArgsTest, CategoriesAscendingAndOnce) {
    const ParseResult r = ParseCliArgs(GetParam().args);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.options.deleteRequested);
    EXPECT_EQ(r.options.deleteCategories, GetParam().categories);
    EXPECT_EQ(r.options.yes, GetParam().yes);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DeleteArgsTest,
    ::testing::Values(DeleteArgsCase{{"--delete", "temp", "r"}, {0}, false},
                      DeleteArgsCase{{"--delete", "thumbs,temp", "-y", "r"}, {0, 5}, true},
                      DeleteArgsCase{{"--delete=5,0,temp,thumbs", "r"}, {0, 5}, false},
                      DeleteArgsCase{
                          {"--delete", "pch", "--delete", "recent,1", "r"}, {1, 3, 4}, false},
                      DeleteArgsCase{{"--yes", "--delete", "internet,help,2", "r"}, {1, 2}, true},
                      DeleteArgsCase{{"--delete", "0,1,2,3,4,5", "r"}, {0, 1, 2, 3, 4, 5}, false}));

TEST(ParseCliArgsTest, NoDeleteByDefault) {
    const ParseResult r = ParseCliArgs({"r"});
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.options.deleteRequested);
    EXPECT_TRUE(r.options.deleteCategories.empty());
}

struct KeysCase {
    std::string keys;
    bool ok;
    std::vector<int> categories;
};

void PrintTo(const KeysCase& c, std::ostream* os) {
    *os << Shown(c.keys);
}

class CategoryKeysTest : public ::testing::TestWithParam<KeysCase> {};

TEST_P(CategoryKeysTest, ParsesOrNamesTheValidKeys) {
    std::vector<int> categories;
    std::string error;
    EXPECT_EQ(ParseCategoryKeys(GetParam().keys, categories, error), GetParam().ok) << error;
    if (GetParam().ok) {
        EXPECT_EQ(categories, GetParam().categories);
    } else {
        // The six keys, then any category's added after them, then the range of indexes.
        EXPECT_NE(error.find("(valid: temp, internet, help, pch, recent, thumbs, "),
                  std::string::npos)
            << error;
        EXPECT_NE(error.find(", or 0-" + std::to_string(CATEGORY_COUNT - 1) + ")"),
                  std::string::npos)
            << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CategoryKeysTest,
    ::testing::Values(
        KeysCase{"temp", true, {0}}, KeysCase{"internet", true, {1}}, KeysCase{"help", true, {2}},
        KeysCase{"pch", true, {3}}, KeysCase{"recent", true, {4}}, KeysCase{"thumbs", true, {5}},
        KeysCase{"3", true, {3}}, KeysCase{"thumbs,0,temp", true, {0, 5}}, KeysCase{"", false, {}},
        KeysCase{"temp,", false, {}}, KeysCase{",temp", false, {}},
        KeysCase{"temp,,pch", false, {}}, KeysCase{"Temp", false, {}},
        KeysCase{std::to_string(CATEGORY_COUNT), false, {}}, KeysCase{"-1", false, {}},
        KeysCase{"01", false, {}}, KeysCase{"temp ", false, {}}, KeysCase{"thumb", false, {}}));

struct AnswerCase {
    std::string line;
    bool yes;
};

void PrintTo(const AnswerCase& c, std::ostream* os) {
    *os << Shown(c.line);
}

class YesAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(YesAnswerTest, OnlyYMeansYes) {
    EXPECT_EQ(IsYesAnswer(GetParam().line), GetParam().yes);
}

INSTANTIATE_TEST_SUITE_P(Table, YesAnswerTest,
                         ::testing::Values(AnswerCase{"y", true}, AnswerCase{"Y", true},
                                           AnswerCase{"yes", true}, AnswerCase{"YeS", true},
                                           AnswerCase{" yes\r", true}, AnswerCase{"\ty ", true},
                                           AnswerCase{"", false}, AnswerCase{"n", false},
                                           AnswerCase{"no", false}, AnswerCase{"ye", false},
                                           AnswerCase{"yess", false}, AnswerCase{"y y", false},
                                           AnswerCase{"sure", false}, AnswerCase{"1", false}));

struct TextCase {
    const char* label;
    std::string text;
    std::string shown;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.label;
}

class PrintableTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(PrintableTest, ShowsOneQuestionMarkForEachControl) {
    EXPECT_EQ(Printable(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrintableTest,
    ::testing::Values(TextCase{"plain", "/home/a b.tmp", "/home/a b.tmp"},
                      TextCase{"c0_and_del", "\x1b[2J\t\n\x7f.", "?[2J???."},
                      TextCase{"c1_in_utf8",
                               "\xc2\x9b"
                               "2J\xc2\x9d"
                               "0;t\xc2\x9c",
                               "?2J?0;t?"},
                      TextCase{"raw_c1_bytes",
                               "\x9b"
                               "2J\x80\x9f",
                               "?2J??"},
                      TextCase{"bidi_overrides",
                               "a\xe2\x80\xae"
                               "b\xe2\x80\xaa\xe2\x80\xac",
                               "a?b??"},
                      TextCase{"bidi_isolates",
                               "\xe2\x81\xa6"
                               "x\xe2\x81\xa9",
                               "?x?"},
                      TextCase{"bidi_marks", "\xe2\x80\x8e\xe2\x80\x8f\xd8\x9c", "???"},
                      // their bytes hold 0x80-0x9F, as parts of valid characters
                      TextCase{"japanese", "\xe6\x97\xa5\xe6\x9c\xac/\xe3\x83\x91\xe3\x82\xb9",
                               "\xe6\x97\xa5\xe6\x9c\xac/\xe3\x83\x91\xe3\x82\xb9"},
                      TextCase{"accented_and_emoji", "caf\xc3\xa9 \xc4\x80 \xf0\x9f\x98\x80",
                               "caf\xc3\xa9 \xc4\x80 \xf0\x9f\x98\x80"},
                      // not UTF-8, one '?' a byte: lone, cut short, overlong ESC, surrogate
                      TextCase{"not_utf8",
                               "\xff|\xe2\x82"
                               "a|\xc0\x9b|\xed\xa0\x80",
                               "?|??a|??|???"}),
    [](const auto& p) { return std::string(p.param.label); });

struct ShortenCase {
    const char* label;
    std::string text;
    std::size_t most;
    Keep keep;
    Measure measure;
    std::string shown;
};

void PrintTo(const ShortenCase& c, std::ostream* os) {
    *os << c.label;
}

class ShortenedTest : public ::testing::TestWithParam<ShortenCase> {};

TEST_P(ShortenedTest, FitsWithoutCuttingACharacter) {
    const ShortenCase& c = GetParam();
    EXPECT_EQ(Shortened(c.text, c.most, c.keep, c.measure), c.shown);
}

// "\xc3\xa9" is an e with an accent (2 bytes, 1 column); "\xe6\x97\xa5" a Japanese character
// (3 bytes, 2 columns).
INSTANTIATE_TEST_SUITE_P(
    Table, ShortenedTest,
    ::testing::Values(
        ShortenCase{"fits", "/0123456789", 11, Keep::StartAndEnd, Measure::Bytes, "/0123456789"},
        ShortenCase{"middle", "/0123456789", 9, Keep::StartAndEnd, Measure::Bytes, "/01...789"},
        ShortenCase{"middle_odd", "/0123456789", 8, Keep::StartAndEnd, Measure::Bytes, "/01...89"},
        ShortenCase{"end", "/0123456789", 8, Keep::End, Measure::Bytes, "...56789"},
        ShortenCase{"no_room", "/0123456789", 2, Keep::End, Measure::Bytes, ".."},
        ShortenCase{"bytes_of_accents", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 8,
                    Keep::StartAndEnd, Measure::Bytes, "\xc3\xa9...\xc3\xa9"},
        ShortenCase{"columns_of_accents", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 5,
                    Keep::StartAndEnd, Measure::Columns,
                    "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"},
        ShortenCase{"wide_characters", "\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5", 7,
                    Keep::StartAndEnd, Measure::Columns, "\xe6\x97\xa5...\xe6\x97\xa5"},
        ShortenCase{"wide_end", "\xe6\x97\xa5\xe6\x97\xa5\xe6\x97\xa5/ab", 8, Keep::End,
                    Measure::Columns, "...\xe6\x97\xa5/ab"}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(ParseCliArgsTest, HelpNeedsNoRoot) {
    const ParseResult r = ParseCliArgs({"--help"});
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.options.help);
}

// What each category holds under each rule set, as the help has always said it. The help puts it
// together from the category table, where a new category's words follow these.
TEST(CliUsageTest, SaysWhatEachCategoryHoldsUnderEachRuleSet) {
    const std::string usage = CliUsage();
    EXPECT_NE(
        usage.find(
            "What each holds under the Windows rules:\n"
            "  temp *.tmp, *.swp, anything below temp\\; internet anything below temporary\n"
            "  internet files\\content.ie5\\; help *.gid; pch *.pch; recent *.lnk below recent\\;\n"
            "  thumbs thumbs.db"),
        std::string::npos)
        << usage;
    EXPECT_NE(
        usage.find(
            "and under the Linux rules:\n"
            "  temp      *.tmp; files in shared tmp directories (sticky, world-writable) whose\n"
            "            times are all over 10 days old (30 in var/tmp); vim swap files as old\n"
            "  internet  web browsers' HTTP caches below .cache (Firefox's cache2, the\n"
            "            Chromium family's Cache, Code Cache, GPUCache), Flatpak and Snap too\n"
            "  help      none\n"
            "  pch       *.pch, *.gch\n"
            "  recent    .local/share/recently-used.xbel, .local/share/RecentDocuments/*.desktop\n"
            "  thumbs    below .cache/thumbnails and .thumbnails; thumbs.db\n"),
        std::string::npos)
        << usage;
}

}  // namespace
}  // namespace clearnook::cli
