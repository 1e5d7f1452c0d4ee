#include "cli/json_text.h"

#include <gtest/gtest.h>

namespace clearnook::cli {
namespace {

struct JsonCase {
    std::string bytes;
    std::string json;
};

void PrintTo(const JsonCase& c, std::ostream* os) {
    *os << c.json;
}

class JsonStringTest : public ::testing::TestWithParam<JsonCase> {};

TEST_P(JsonStringTest, EscapesWhatJsonAndUtf8Require) {
    std::string out;
    AppendJsonString(out, GetParam().bytes);
    EXPECT_EQ(out, GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JsonStringTest,
    ::testing::Values(
        JsonCase{"plain/a.tmp", "\"plain/a.tmp\""}, JsonCase{"q\"b\\s", "\"q\\\"b\\\\s\""},
        JsonCase{"nl\ntab\t\x01\x7f", "\"nl\\ntab\\t\\u0001\\u007f\""},
        JsonCase{"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
                 "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        // invalid bytes, one escape each: lone, truncated, overlong, surrogate, past U+10FFFF
        JsonCase{"\xff", "\"\\udcff\""},
        JsonCase{"\xe2\x82"
                 "a",
                 "\"\\udce2\\udc82a\""},
        JsonCase{"\xc0\xaf", "\"\\udcc0\\udcaf\""},
        JsonCase{"\xed\xa0\x80", "\"\\udced\\udca0\\udc80\""},
        JsonCase{"\xf4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""},
        JsonCase{"\xc3", "\"\\udcc3\""}));

}  // namespace
}  // namespace clearnook::cli
