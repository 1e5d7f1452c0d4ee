#include "cli/cli_options.h"
#include "cli/confirm.h"

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
        EXPECT_NE(error.find("temp, internet, help, pch, recent, thumbs, or 0-5"),
                  std::string::npos)
            << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CategoryKeysTest,
    ::testing::Values(KeysCase{"temp", true, {0}}, KeysCase{"internet", true, {1}},
                      KeysCase{"help", true, {2}}, KeysCase{"pch", true, {3}},
                      KeysCase{"recent", true, {4}}, KeysCase{"thumbs", true, {5}},
                      KeysCase{"3", true, {3}}, KeysCase{"thumbs,0,temp", true, {0, 5}},
                      KeysCase{"", false, {}}, KeysCase{"temp,", false, {}},
                      KeysCase{",temp", false, {}}, KeysCase{"temp,,pch", false, {}},
                      KeysCase{"Temp", false, {}}, KeysCase{"6", false, {}},
                      KeysCase{"-1", false, {}}, KeysCase{"01", false, {}},
                      KeysCase{"temp ", false, {}}, KeysCase{"thumb", false, {}}));

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

TEST(ParseCliArgsTest, HelpNeedsNoRoot) {
    const ParseResult r = ParseCliArgs({"--help"});
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.options.help);
}

}  // namespace
}  // namespace clearnook::cli
