// The largest hostile cases, too slow for every test run: `make stress` runs them.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/delete.h"
#include "engine/scan.h"
#include "tests/support/cli_run.h"
#include "tests/support/temp_tree.h"
#include "tests/support/wide_directory.h"

namespace clearnook {
namespace {

TEST(StressTest, AMillionEntriesInOneDirectory) {
    testing::TempDir t(testing::TempDir::Where::Memory);
    const testing::WideDirectory made = testing::MakeWideDirectory(t / "wide", 1000000);
    const std::shared_ptr<ScanState> state = testing::ScanWideDirectory(t.path(), made);

    // clearnook-cli reports the same
    const testing::ProgramRun cli = testing::RunCli({"--json", "--quiet", t.path()});
    EXPECT_EQ(cli.status, 0);
    const std::string& out = cli.out;
    EXPECT_NE(out.find("\"bytes\": " + std::to_string(made.tempBytes) + ", \"size\": "),
              std::string::npos);
    EXPECT_NE(out.find("\"count\": " + std::to_string(made.temp)), std::string::npos);

    // and the delete pass removes exactly the recorded files
    const std::vector<int> ticked = {CAT_TEMP_FILES};
    const DeleteReport report = RunDeletePass(ticked, state->results, t.path());
    EXPECT_EQ(report.removed, static_cast<std::int32_t>(made.temp));
    EXPECT_FALSE(report.anyFailed);
    EXPECT_TRUE(testing::Exists(t / "wide/Thumbs.db"));
    EXPECT_TRUE(testing::Exists(t / "wide/0000001"));
    EXPECT_FALSE(testing::Exists(t / "wide/0000010.TMP"));
}

}  // namespace
}  // namespace clearnook
