// Runs the built clearnook-cli on real trees, as a user would.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "engine/categories.h"
#include "platform/drives_linux.h"
#include "tests/support/cli_run.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_tree.h"

namespace {

using clearnook::testing::Exists;
using clearnook::testing::SetImmutable;
using clearnook::testing::TempDir;

using clearnook::testing::ProgramRun;
using clearnook::testing::RunCli;

TEST(CliProgramTest, RowsListAndJson) {
    TempDir t;
    t.File("Temp/A.log", 3);
    t.File("Temp/b.log", 5);
    t.File("Photos/Thumbs.db", 20480);
    t.File("odd\xff.tmp", 1);

    ProgramRun rows = RunCli({t.path()});
    EXPECT_EQ(rows.status, 0);
    EXPECT_EQ(rows.out,
              "Temporary Files                 9 bytes\n"
              "Thumbnail Cache                20.00 KB\n"
              "Total                          20.01 KB\n");

    ProgramRun list = RunCli({"--list", "-0", t.path() + "/"});
    EXPECT_EQ(list.status, 0);
    EXPECT_NE(list.out.find(t.path() + "/Photos/Thumbs.db" + std::string(1, '\0')),
              std::string::npos);
    EXPECT_NE(list.out.find(t.path() + "/odd\xff.tmp" + std::string(1, '\0')), std::string::npos);

    ProgramRun json = RunCli({"--json", "--list", t.path()});
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(
        json.out.find("{\"index\": 5, \"key\": \"thumbs\", \"name\": \"Thumbnail Cache\", "
                      "\"bytes\": 20480, \"size\": \"20.00 KB\", \"count\": 1, \"files\": [\"" +
                      t.path() + "/Photos/Thumbs.db\"]}"),
        std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("/odd\\udcff.tmp\""), std::string::npos);
    EXPECT_NE(json.out.find("\"key\": \"internet\""), std::string::npos);  // empty ones too
}

TEST(CliProgramTest, SaysSoWhenNothingIsFound) {
    TempDir t;
    t.File("docs/keep.txt", 10);
    const ProgramRun rows = RunCli({t.path()});
    EXPECT_EQ(rows.status, 0);
    EXPECT_EQ(rows.out, "No files of any category were found.\n");
    EXPECT_EQ(RunCli({"--list", t.path()}).out, "");  // a list of no paths stays empty
}

TEST(CliProgramTest, VersionAndHelp) {
    EXPECT_EQ(RunCli({"--version"}).out, "clearnook-cli 2.0.0.1\n");
    const ProgramRun help = RunCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("  thumbs (5)    Thumbnail Cache\n"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("  1  some files could not be removed\n"), std::string::npos);
}

// findmnt's raw output writes a blank and other special bytes as \xHH.
std::string Unescape(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(field.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// The drive box's entries: the home folder ($HOME), then the mount table as findmnt reads it
// instead of libmount: the filesystems that hold files, the last mount at each path, in path
// order with '/' before any other byte, each labelled when findmnt knows a label.
TEST(CliProgramTest, DrivesAreHomeThenTheMountTableAsFindmntReadsIt) {
    TempDir home;
    const clearnook::testing::ScopedEnv homeVariable("HOME", home.path());
    FILE* p = ::popen("findmnt --raw --noheadings --output TARGET,FSTYPE,LABEL", "r");
    ASSERT_NE(p, nullptr);
    std::map<std::string, std::pair<std::string, std::string>> byKey;  // key -> target, label
    char line[8192];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        std::istringstream fields(line);
        std::string target, type, label;
        fields >> target >> type;
        std::getline(fields >> std::ws, label);
        target = Unescape(target);
        std::string key = target;
        std::replace(key.begin(), key.end(), '/', '\0');
        if (clearnook::platform::IsPseudoFilesystem(type)) {
            byKey.erase(key);
        } else {
            byKey[key] = {target, Unescape(label)};
        }
    }
    ::pclose(p);
    std::string expected = "[\n  {\"text\": \"~ [Home]\", \"root\": \"" + home.path() + "\"}";
    for (const auto& [key, mount] : byKey) {
        std::string text = mount.first;
        if (!mount.second.empty()) {
            text += " [" + mount.second + "]";
        }
        expected += ",\n  {\"text\": \"" + text + "\", \"root\": \"" + mount.first + "\"}";
    }
    expected += "\n]\n";
    const ProgramRun drives = RunCli({"--drives", "--json"});
    EXPECT_EQ(drives.status, 0);
    EXPECT_EQ(drives.out, expected);
    EXPECT_TRUE(RunCli({"--drives"}).out.starts_with("~ [Home]\t" + home.path() + "\n"));
}

// On a terminal the walk shows its progress and ends with a summary on stderr; --quiet says
// nothing there. The rows go to standard output either way.
TEST(CliProgramTest, SummaryOnATerminalUnlessQuiet) {
    TempDir t;
    t.File("a/Temp/x.log", 3);
    t.File("b/keep.txt", 1);
    for (const bool quiet : {false, true}) {
        std::vector<std::string> args = {t.path()};
        if (quiet) {
            args.insert(args.begin(), "--quiet");
        }
        clearnook::testing::RunOptions options;
        options.typed = "";
        options.stderrOnTerminal = true;
        const ProgramRun r = RunCli(args, options);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out,
                  "Temporary Files                 3 bytes\n"
                  "Total                           3 bytes\n");
        if (quiet) {
            EXPECT_EQ(r.terminal, "");
        } else {
            // the root, a, a/Temp and b; their five entries
            EXPECT_NE(r.terminal.find("clearnook-cli: 5 entries in 4 directories walked in "),
                      std::string::npos)
                << r.terminal;
        }
    }
}

TEST(CliProgramTest, BadUsageAndUnlistableRootExitTwo) {
    TempDir t;
    t.File("file.txt");
    EXPECT_EQ(RunCli({}).status, 2);
    EXPECT_EQ(RunCli({"--frobnicate", t.path()}).status, 2);
    EXPECT_EQ(RunCli({t / "missing"}).status, 2);
    EXPECT_EQ(RunCli({t / "file.txt"}).status, 2);
    // A message names a long argument by its start and end, in a line of bounded length: a few
    // kilobytes, or on a terminal its width (80 when it has none set).
    const std::string name = std::string(20000, 'x') + "end";
    for (const std::string& arg : {t / name, "--" + name}) {
        const ProgramRun r = RunCli({arg});
        EXPECT_EQ(r.status, 2);
        EXPECT_LT(r.err.size(), 4200u);
        EXPECT_NE(r.err.find("xxx...xxx"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("xxxend'"), std::string::npos) << r.err;
    }
    clearnook::testing::RunOptions onTerminal;
    onTerminal.typed = "";
    onTerminal.stderrOnTerminal = true;
    const ProgramRun shown = RunCli({"--" + name}, onTerminal);
    EXPECT_EQ(shown.terminal.size(), 79u + 2) << shown.terminal;  // and CR LF
    EXPECT_NE(shown.terminal.find("xxxend' (try --help)"), std::string::npos) << shown.terminal;
}

const std::string kThanks = " files were removed.\nThank you for using Clearnook!\n";
const std::string kNote =
    "\nNOTE: All selected files could not be removed. Try closing all running programs and "
    "re-scanning your hard drive.\n";

// Temporary files of 8 bytes, a precompiled header of 9, an empty thumbnail cache (recorded, but
// its total of 0 gives it no row) and a file of no category.
void MakeTree(const TempDir& t) {
    t.File("Temp/a.log", 3);
    t.File("Temp/sub/b.log", 4);
    t.File("x.tmp", 1);
    t.File("src/app.pch", 9);
    t.File("Photos/Thumbs.db", 0);
    t.File("notes.txt", 2);
}

const std::string kRows =
    "Temporary Files                 8 bytes\n"
    "Pre-Compiled Header Files       9 bytes\n"
    "Total                          17 bytes\n";

struct DeleteRunCase {
    const char* label;
    std::vector<std::string> options;  // before ROOT
    std::vector<std::string> removed;  // of the tree above
    int count;
};

void PrintTo(const DeleteRunCase& c, std::ostream* os) {
    *os << c.label;
}

class CliDeleteTest : public ::testing::TestWithParam<DeleteRunCase> {};

TEST_P(CliDeleteTest, DeletesChosenCategoriesWithARowAndReports) {
    TempDir t;
    MakeTree(t);
    std::vector<std::string> args = GetParam().options;
    args.push_back(t.path() + "/");
    const ProgramRun r = RunCli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kRows + std::to_string(GetParam().count) + kThanks);
    for (const char* f : {"Temp/a.log", "Temp/sub/b.log", "x.tmp", "src/app.pch",
                          "Photos/Thumbs.db", "notes.txt"}) {
        const bool removed = std::find(GetParam().removed.begin(), GetParam().removed.end(),
                                       std::string(f)) != GetParam().removed.end();
        EXPECT_EQ(Exists(t / f), !removed) << f;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliDeleteTest,
    ::testing::Values(DeleteRunCase{"temp_by_key",
                                    {"--delete", "temp", "--yes"},
                                    {"Temp/a.log", "Temp/sub/b.log", "x.tmp"},
                                    3},
                      DeleteRunCase{"by_index", {"--yes", "--delete=3"}, {"src/app.pch"}, 1},
                      DeleteRunCase{
                          "zero_total_category_untouched", {"--delete", "thumbs", "-y"}, {}, 0},
                      DeleteRunCase{"mixed",
                                    {"--delete", "thumbs,pch,0", "--yes", "--quiet"},
                                    {"Temp/a.log", "Temp/sub/b.log", "x.tmp", "src/app.pch"},
                                    4},
                      DeleteRunCase{"category_not_found", {"--delete", "recent", "--yes"}, {}, 0}),
    [](const auto& p) { return std::string(p.param.label); });

TEST(CliProgramTest, DeleteWithoutYesAndWithoutTerminalRemovesNothing) {
    TempDir t;
    MakeTree(t);
    const ProgramRun r = RunCli({"--delete", "temp,pch", t.path()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");  // refused before the walk
    EXPECT_NE(r.err.find("--yes"), std::string::npos) << r.err;
    EXPECT_TRUE(Exists(t / "Temp/a.log"));
    EXPECT_TRUE(Exists(t / "src/app.pch"));
}

TEST(CliProgramTest, DeleteWithUnknownKeyNamesTheValidOnes) {
    TempDir t;
    MakeTree(t);
    const ProgramRun r = RunCli({"--delete", "temp,cookies", "--yes", t.path()});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("'cookies'"), std::string::npos) << r.err;
    // The six keys, then any category's added after them, then the range of indexes.
    EXPECT_NE(r.err.find("(valid: temp, internet, help, pch, recent, thumbs, "), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(", or 0-" + std::to_string(clearnook::CATEGORY_COUNT - 1) + ")"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(Exists(t / "Temp/a.log"));
}

struct AnswerRunCase {
    const char* typed;  // once the question is there
    bool deletes;
    const char* first = "";  // before the program started
};

void PrintTo(const AnswerRunCase& c, std::ostream* os) {
    const std::string typed = c.typed;
    *os << "typed '" << typed.substr(0, typed.size() - 1) << "' and Enter";
    if (*c.first != '\0') {
        *os << " after typing ahead";
    }
}

class CliConfirmTest : public ::testing::TestWithParam<AnswerRunCase> {};

TEST_P(CliConfirmTest, AsksOnTheTerminalAfterTheRows) {
    TempDir t;
    MakeTree(t);
    clearnook::testing::RunOptions options;
    options.typed = GetParam().typed;
    options.typedFirst = GetParam().first;
    const ProgramRun r = RunCli({"--delete", "pch", t.path()}, options);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string echo = GetParam().first;  // the terminal echoes a line break as CR LF
    for (std::size_t at = 0; (at = echo.find('\n', at)) != std::string::npos; at += 2) {
        echo.insert(at, 1, '\r');
    }
    EXPECT_TRUE(r.terminal.starts_with(echo +
                                       "Are you sure you want to permanently remove the selected "
                                       "items? [y/N] "))
        << r.terminal;
    EXPECT_EQ(r.out, GetParam().deletes ? kRows + "1" + kThanks : kRows);
    EXPECT_EQ(Exists(t / "src/app.pch"), !GetParam().deletes);
    EXPECT_TRUE(Exists(t / "Temp/a.log"));
}

INSTANTIATE_TEST_SUITE_P(Answers, CliConfirmTest,
                         ::testing::Values(AnswerRunCase{"y\n", true}, AnswerRunCase{"YES\n", true},
                                           AnswerRunCase{"n\n", false}, AnswerRunCase{"\n", false},
                                           AnswerRunCase{"yep\n", false},
                                           // typed before the question: never an answer
                                           AnswerRunCase{"\n", false, "y\n"},
                                           AnswerRunCase{"y\n", true, "yes\ny\n"}));

TEST(CliProgramTest, DeleteFailureAddsTheNoteAndExitsOne) {
    TempDir t;
    MakeTree(t);
    if (!SetImmutable(t / "Temp/a.log", true)) {
        GTEST_SKIP() << "the file system here has no immutable attribute";
    }
    const ProgramRun r = RunCli({"--delete", "temp", "--yes", t.path()});
    EXPECT_TRUE(SetImmutable(t / "Temp/a.log", false));
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, kRows + "2" + kThanks + kNote);
    EXPECT_TRUE(Exists(t / "Temp/a.log"));
    EXPECT_FALSE(Exists(t / "x.tmp"));
}

// A run under a condition a user can meet (output to a full disk, a root spelled through a
// marker, a directory that cannot be opened, little memory): what it must and must not do.
// "ROOT" in `args` stands for the tree below; `wrapper` goes before the program.
//   tree:  home/Temp/x.tmp (1 byte)  home/docs/thesis.odt (7)  home/deep/Temp/y.log (3)
//          home/locked/z.log (1; the directory of mode 000)
//          home/many/f0000.tmp ... f0199.tmp (1 each: a list of well over 4 KiB)
struct ConditionCase {
    const char* label;
    std::vector<std::string> wrapper;
    std::vector<std::string> args;
    int status;
    std::string err;      // must be found in stderr ("" : stderr must be empty)
    std::string out;      // must be found in stdout ("" : anything)
    bool removesNothing;  // else only the recorded files of the categories deleted go
};

void PrintTo(const ConditionCase& c, std::ostream* os) {
    *os << c.label;
}

const std::vector<std::string> kAsNobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};

class CliConditionTest : public ::testing::TestWithParam<ConditionCase> {};

TEST_P(CliConditionTest, FailsLoudlyAndDeletesOnlyWhatItShowed) {
    const ConditionCase& c = GetParam();
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (c.wrapper.size() > 1 && c.wrapper[1].starts_with("--as=")) {
        GTEST_SKIP() << "a sanitizer's shadow memory takes far more address space than the limit";
    }
#endif
    TempDir t;
    t.File("home/Temp/x.tmp", 1);
    t.File("home/docs/thesis.odt", 7);
    t.File("home/deep/Temp/y.log", 3);
    t.File("home/locked/z.log", 1);
    ASSERT_EQ(::chmod((t / "home/locked").c_str(), 0), 0);
    ASSERT_EQ(::chmod(t.path().c_str(), 0755), 0);
    for (int i = 0; i < 200; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "home/many/f%04d.tmp", i);
        t.File(name, 1);
    }
    std::vector<std::string> argv = c.wrapper;
    if (c.wrapper == kAsNobody && ::getuid() != 0) {
        argv.clear();  // the tests' own user is as unprivileged as it gets
    }
    argv.push_back(CLEARNOOK_CLI);
    argv.insert(argv.end(), {"--rules", "windows"});  // the tree is laid out for them
    for (const std::string& a : c.args) {
        argv.push_back(a.starts_with("ROOT") ? t / "home" + a.substr(4) : a);
    }
    const ProgramRun r = clearnook::testing::RunProgram(argv);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.err.empty()) {
        EXPECT_EQ(r.err, "");
    } else {
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
    EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    EXPECT_TRUE(Exists(t / "home/docs/thesis.odt"));
    if (c.removesNothing) {
        for (const std::string f : {"Temp/x.tmp", "deep/Temp/y.log", "many/f0000.tmp"}) {
            EXPECT_TRUE(Exists(t / "home/" + f)) << f;
        }
    }
}

const std::vector<std::string> kToFullDisk = {"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full"};
const std::string kFull = "clearnook-cli: cannot write output: No space left on device";

INSTANTIATE_TEST_SUITE_P(
    Table, CliConditionTest,
    ::testing::Values(
        // A category depends on the path below the root alone, however the root is written.
        ConditionCase{"root_through_a_marker",
                      {},
                      {"--delete", "temp", "--yes", "ROOT/Temp/.."},
                      0,
                      "",
                      "202 files were removed.",
                      false},
        ConditionCase{"rows_to_a_full_disk", kToFullDisk, {"ROOT"}, 2, kFull, "", true},
        ConditionCase{
            "list_to_a_full_disk", kToFullDisk, {"--list", "-0", "ROOT"}, 2, kFull, "", true},
        ConditionCase{"large_json_to_a_full_disk",
                      kToFullDisk,
                      {"--json", "--list", "ROOT"},
                      2,
                      kFull,
                      "",
                      true},
        ConditionCase{"delete_to_a_full_disk",
                      kToFullDisk,
                      {"--delete", "temp", "--yes", "ROOT"},
                      2,
                      kFull,
                      "",
                      true},
        // A user without privileges cannot open locked/.
        ConditionCase{"unreadable_directory",
                      kAsNobody,
                      {"--list", "ROOT"},
                      0,
                      "clearnook-cli: 1 directory could not be read: ",
                      "",
                      true},
        ConditionCase{"unreadable_directory_in_json",
                      kAsNobody,
                      {"--json", "--quiet", "ROOT"},
                      0,
                      "",
                      "\"unreadable\": 1,",
                      true},
        // Too little address space for a second thread: the walk goes on one.
        ConditionCase{"little_memory",
                      {"/usr/bin/prlimit", "--as=14336000"},
                      {"--list", "ROOT"},
                      0,
                      "",
                      "/deep/Temp/y.log\n",
                      true},
        ConditionCase{"usage_error_with_escapes",
                      {},
                      {"--x\x1b[31m", "ROOT"},
                      2,
                      "unknown option '--x?[31m'",
                      "",
                      true}),
    [](const auto& p) { return std::string(p.param.label); });

}  // namespace
