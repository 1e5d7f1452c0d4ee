// Fuzz target: clearnook-cli's argument parsing. Any arguments: no crash, and every parse it
// accepts is one the program can act on and that reads back the same from its own canonical form.
//
// Input: the arguments, separated by NUL bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_options.h"
#include "engine/categories.h"

namespace {

using clearnook::cli::CliOptions;
using clearnook::cli::ParseCliArgs;
using clearnook::cli::ParseResult;

[[noreturn]] void Fail(const char* what, const std::vector<std::string>& args) {
    std::fprintf(stderr, "%s; arguments:", what);
    for (const std::string& a : args) {
        std::fprintf(stderr, " [%s]", a.c_str());
    }
    std::fputc('\n', stderr);
    std::abort();
}

bool Same(const CliOptions& a, const CliOptions& b) {
    return a.json == b.json && a.list == b.list && a.nul == b.nul && a.quiet == b.quiet &&
           a.help == b.help && a.deleteRequested == b.deleteRequested &&
           a.deleteCategories == b.deleteCategories && a.yes == b.yes && a.root == b.root &&
           a.version == b.version && a.drives == b.drives;
}

// The arguments that say what `o` says, each option in its long form, the root after "--".
std::vector<std::string> Canonical(const CliOptions& o) {
    std::vector<std::string> args;
    if (o.json)
        args.push_back("--json");
    if (o.list)
        args.push_back("--list");
    if (o.nul)
        args.push_back("-0");
    if (o.quiet)
        args.push_back("--quiet");
    if (o.deleteRequested) {
        std::string keys;
        for (const int c : o.deleteCategories) {
            keys += (keys.empty() ? "" : ",") + std::string(clearnook::CategoryKey(c));
        }
        args.push_back("--delete=" + keys);
    }
    if (o.yes)
        args.push_back("--yes");
    if (o.drives) {
        args.push_back("--drives");  // it takes no root
        return args;
    }
    args.push_back("--");
    args.push_back(o.root);
    return args;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    for (std::size_t at = 0; at <= input.size() && args.size() < 64;) {
        const std::size_t nul = std::min(input.find('\0', at), input.size());
        args.emplace_back(input.substr(at, nul - at));
        at = nul + 1;
    }
    if (size == 0) {
        args.clear();
    }

    const ParseResult r = ParseCliArgs(args);
    const ParseResult again = ParseCliArgs(args);
    if (r.ok != again.ok || r.error != again.error || !Same(r.options, again.options)) {
        Fail("two parses of the same arguments differ", args);
    }
    if (!r.ok) {
        if (r.error.empty()) {
            Fail("refused without a message", args);
        }
        return 0;
    }
    if (!r.error.empty()) {
        Fail("accepted with a message", args);
    }
    const CliOptions& o = r.options;
    if (o.help || o.version) {
        return 0;  // --help and --version win over everything else given
    }
    if (o.drives ? !o.root.empty() || o.list || o.deleteRequested
                 : o.root.empty() || o.root != clearnook::cli::NormalizeRoot(o.root)) {
        Fail("root empty or not normalized, or --drives with a root or a scan's options", args);
    }
    if (o.deleteRequested == o.deleteCategories.empty()) {
        Fail("--delete without categories, or categories without --delete", args);
    }
    for (std::size_t i = 0; i < o.deleteCategories.size(); ++i) {
        const int c = o.deleteCategories[i];
        if (c < 0 || c >= clearnook::CATEGORY_COUNT || (i > 0 && o.deleteCategories[i - 1] >= c)) {
            Fail("categories out of range, order or repeated", args);
        }
    }
    if ((o.nul && !o.list) || (o.yes && !o.deleteRequested) ||
        (o.deleteRequested && (o.json || o.list))) {
        Fail("accepted a combination the program refuses", args);
    }
    const ParseResult back = ParseCliArgs(Canonical(o));
    if (!back.ok || !Same(back.options, o)) {
        Fail("the canonical form does not read back the same", args);
    }
    return 0;
}
