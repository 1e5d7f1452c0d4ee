// Runs a built program of ours the way a user would, for tests of the command line.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace clearnook::testing {

struct ProgramRun {
    int status = -1;       // exit status; -1 when it did not exit normally
    std::string out;       // standard output
    std::string err;       // standard error
    std::string terminal;  // what it wrote on its terminal, when it was given one
};

struct ProgramUser {
    uid_t uid;
    gid_t gid;
};

struct RunOptions {
    // Given: a new pseudo-terminal becomes the program's controlling terminal, and this is typed
    // on it once the program has asked its "[y/N] " question there. Not given: the program has no
    // terminal at all, whatever terminal the tests were started from.
    std::optional<std::string> typed;
    // Given: the program runs as this user, with no supplementary groups (the caller is root).
    std::optional<ProgramUser> user;
    // With `typed`: standard error goes to that terminal too (and into ProgramRun::terminal).
    bool stderrOnTerminal = false;
    // With `typed`: typed on that terminal before the program starts, as one types ahead while
    // something else runs; it waits there, echoed, when the program starts.
    std::string typedFirst = {};
};

// Runs `argv` (argv[0] the program's path) in a session of its own, standard input from
// /dev/null, and collects what it writes until it exits. A program still running after two
// minutes is killed, and the test fails.
[[nodiscard]] ProgramRun RunProgram(std::vector<std::string> argv, const RunOptions& options = {});

}  // namespace clearnook::testing
