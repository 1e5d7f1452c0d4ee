// clearnook-cli run as a user would run it, and its --json output read back.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/program_run.h"

namespace clearnook::testing {

#ifdef CLEARNOOK_CLI
// Runs the built clearnook-cli (CLEARNOOK_CLI, which the suites that run it define) with `args`,
// as RunProgram runs a program: no terminal unless `options` asks for one. With the Windows
// rules, which most suites' trees are laid out for, unless `args` names rules.
[[nodiscard]] inline ProgramRun RunCli(std::vector<std::string> args,
                                       const RunOptions& options = {}) {
    if (std::none_of(args.begin(), args.end(),
                     [](const std::string& a) { return a.starts_with("--rules"); })) {
        args.insert(args.begin(), {"--rules", "windows"});
    }
    args.insert(args.begin(), CLEARNOOK_CLI);
    return RunProgram(std::move(args), options);
}
#endif

// One category of clearnook-cli --json.
struct CliJsonCategory {
    std::string key;
    std::string name;
    std::uint64_t bytes = 0;
    std::string size;
    std::uint64_t count = 0;
    bool listed = false;             // whether it had "files" (--list)
    std::vector<std::string> files;  // with --list: the recorded paths
};

// What clearnook-cli --json printed.
struct CliJson {
    std::string root;
    std::string rules;  // "windows" or "linux"
    std::uint64_t unreadable = 0;
    std::vector<CliJsonCategory> categories;  // in index order
};

// Reads the JSON that clearnook-cli --json (with or without --list) prints. Strings are decoded
// back to the bytes they stand for (\udcXX is the byte XX that was not UTF-8). False on anything
// it does not expect, a category out of index order included.
[[nodiscard]] bool ReadCliJson(const std::string& text, CliJson& json);

}  // namespace clearnook::testing
