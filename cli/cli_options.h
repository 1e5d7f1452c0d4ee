// The command line of clearnook-cli, parsed without side effects.
#pragma once

#include <string>
#include <vector>

namespace clearnook::cli {

struct CliOptions {
    bool json = false;   // one JSON object instead of rows
    bool list = false;   // the recorded paths instead of the rows
    bool nul = false;    // with --list: NUL after each path instead of a line break
    bool quiet = false;  // no progress line
    bool help = false;
    std::string root;    // trailing slashes dropped ("/" stays "/")
};

struct ParseResult {
    bool ok = false;
    std::string error;  // one line, for stderr, when !ok
    CliOptions options;
};

[[nodiscard]] ParseResult ParseCliArgs(const std::vector<std::string>& args);

[[nodiscard]] const char* CliUsage();

// `root` without trailing slashes, keeping a lone "/".
[[nodiscard]] std::string NormalizeRoot(std::string root);

}  // namespace clearnook::cli
