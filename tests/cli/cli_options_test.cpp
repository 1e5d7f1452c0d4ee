#include "cli/cli_options.h"

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
    ::testing::Values(ArgsCase{{"/"}, true, "/"}, ArgsCase{{"//"}, true, "/"},
                      ArgsCase{{"/home/"}, true, "/home"}, ArgsCase{{"a//"}, true, "a"},
                      ArgsCase{{"--json", "--list", "-0", "--quiet", "x"}, true, "x"},
                      ArgsCase{{"--", "-odd"}, true, "-odd"}, ArgsCase{{}, false, ""},
                      ArgsCase{{"a", "b"}, false, ""}, ArgsCase{{"--bogus", "a"}, false, ""},
                      ArgsCase{{"-0", "a"}, false, ""}, ArgsCase{{""}, false, ""},
                      ArgsCase{{"--json"}, false, ""}));

TEST(ParseCliArgsTest, HelpNeedsNoRoot) {
    const ParseResult r = ParseCliArgs({"--help"});
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.options.help);
}

}  // namespace
}  // namespace clearnook::cli
