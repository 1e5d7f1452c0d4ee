// Runs the built clearnook-cli on real trees, as a user would.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/temp_tree.h"

namespace {

using clearnook::testing::TempDir;

struct CliRun {
    int status = -1;
    std::string out;
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

CliRun Cli(const std::string& args) {
    CliRun r;
    const std::string cmd = std::string(CLEARNOOK_CLI) + " " + args + " 2>/dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        r.out.append(buf, n);
    }
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

TEST(CliProgramTest, RowsListAndJson) {
    TempDir t;
    t.File("Temp/A.log", 3);
    t.File("Temp/b.log", 5);
    t.File("Photos/Thumbs.db", 20480);
    t.File("odd\xff.tmp", 1);

    CliRun rows = Cli(Quote(t.path()));
    EXPECT_EQ(rows.status, 0);
    EXPECT_EQ(rows.out,
              "Temporary Files                 9 bytes\n"
              "Thumbnail Cache                20.00 KB\n");

    CliRun list = Cli("--list -0 " + Quote(t.path() + "/"));
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find(t.path() + "/Photos/Thumbs.db" + std::string(1, '\0')), std::string::npos);
    EXPECT_NE(list.out.find(t.path() + "/odd\xff.tmp" + std::string(1, '\0')), std::string::npos);

    CliRun json = Cli("--json --list " + Quote(t.path()));
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(json.out.find("{\"index\": 5, \"key\": \"thumbs\", \"name\": \"Thumbnail Cache\", "
                            "\"bytes\": 20480, \"size\": \"20.00 KB\", \"count\": 1, \"files\": [\"" +
                            t.path() + "/Photos/Thumbs.db\"]}"),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("/odd\\udcff.tmp\""), std::string::npos);
    EXPECT_NE(json.out.find("\"key\": \"internet\""), std::string::npos);  // empty ones too
}

TEST(CliProgramTest, BadUsageAndUnlistableRootExitTwo) {
    TempDir t;
    t.File("file.txt");
    EXPECT_EQ(Cli("").status, 2);
    EXPECT_EQ(Cli("--frobnicate " + Quote(t.path())).status, 2);
    EXPECT_EQ(Cli(Quote(t / "missing")).status, 2);
    EXPECT_EQ(Cli(Quote(t / "file.txt")).status, 2);
}

}  // namespace
