#include "cli/cli_options.h"

namespace clearnook::cli {

const char* CliUsage() {
    return "usage: clearnook-cli [--json] [--list] [-0] [--quiet] ROOT\n"
           "Scans the directory tree ROOT (staying on its file system) for disposable files and\n"
           "prints one row per category found.\n"
           "  --json   print one JSON object with all six categories\n"
           "  --list   print the recorded paths instead, in category and recording order\n"
           "  -0       with --list: end each path with NUL instead of a line break\n"
           "  --quiet  no progress line on stderr\n";
}

std::string NormalizeRoot(std::string root) {
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return root;
}

ParseResult ParseCliArgs(const std::vector<std::string>& args) {
    ParseResult r;
    bool haveRoot = false;
    bool optionsDone = false;
    for (const std::string& a : args) {
        if (!optionsDone && a.size() > 1 && a[0] == '-') {
            if (a == "--json") {
                r.options.json = true;
            } else if (a == "--list") {
                r.options.list = true;
            } else if (a == "-0") {
                r.options.nul = true;
            } else if (a == "--quiet" || a == "-q") {
                r.options.quiet = true;
            } else if (a == "--help" || a == "-h") {
                r.options.help = true;
            } else if (a == "--") {
                optionsDone = true;
            } else {
                r.error = "unknown option '" + a + "'";
                return r;
            }
            continue;
        }
        if (haveRoot) {
            r.error = "only one ROOT may be given";
            return r;
        }
        if (a.empty()) {
            r.error = "ROOT must not be empty";
            return r;
        }
        r.options.root = NormalizeRoot(a);
        haveRoot = true;
    }
    if (r.options.help) {
        r.ok = true;
        return r;
    }
    if (!haveRoot) {
        r.error = "missing ROOT";
        return r;
    }
    if (r.options.nul && !r.options.list) {
        r.error = "-0 goes with --list";
        return r;
    }
    r.ok = true;
    return r;
}

}  // namespace clearnook::cli
