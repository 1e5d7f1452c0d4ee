#include "cli/cli_options.h"

#include <algorithm>

#include "engine/categories.h"

namespace clearnook::cli {

const char* CliUsage() {
    return "usage: clearnook-cli [--json] [--list] [-0] [--quiet] [--single-thread] ROOT\n"
           "       clearnook-cli --delete KEY[,KEY...] [--yes] [--quiet] [--single-thread] ROOT\n"
           "Scans the directory tree ROOT (staying on its file system) for disposable files and\n"
           "prints one row per category found.\n"
           "  --json    print one JSON object with all six categories\n"
           "  --list    print the recorded paths instead, in category and recording order\n"
           "  -0        with --list: end each path with NUL instead of a line break\n"
           "  --quiet   no progress line on stderr\n"
           "  --single-thread\n"
           "            walk on one thread, without reading directories ahead on a second\n"
           "            (same results, usually slower)\n"
           "  --delete KEY[,KEY...]\n"
           "            after the rows, permanently remove the recorded files of these\n"
           "            categories (those with a row only): temp, internet, help, pch,\n"
           "            recent, thumbs, or 0-5; asks on the terminal first, and prints how\n"
           "            many files were removed\n"
           "  --yes     with --delete: do not ask\n"
           "Exit status: 0 done, 1 some files could not be removed, 2 bad usage.\n";
}

std::string NormalizeRoot(std::string root) {
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return root;
}

namespace {

std::string ValidKeys() {
    std::string valid;
    for (int c = 0; c < CATEGORY_COUNT; ++c) {
        valid += CategoryKey(c);
        valid += ", ";
    }
    return valid + "or 0-" + std::to_string(CATEGORY_COUNT - 1);
}

int CategoryOfKey(std::string_view key) {
    for (int c = 0; c < CATEGORY_COUNT; ++c) {
        if (key == CategoryKey(c) || (key.size() == 1 && key[0] == static_cast<char>('0' + c))) {
            return c;
        }
    }
    return -1;
}

}  // namespace

bool ParseCategoryKeys(std::string_view keys, std::vector<int>& categories, std::string& error) {
    for (;;) {
        const std::size_t comma = keys.find(',');
        const std::string_view key = keys.substr(0, comma);
        if (key.empty()) {
            error = "--delete needs KEY[,KEY...] with no empty KEY (valid: " + ValidKeys() + ")";
            return false;
        }
        const int c = CategoryOfKey(key);
        if (c < 0) {
            error = "unknown category '" + std::string(key) + "' (valid: " + ValidKeys() + ")";
            return false;
        }
        if (std::find(categories.begin(), categories.end(), c) == categories.end()) {
            categories.push_back(c);
        }
        if (comma == std::string_view::npos) {
            break;
        }
        keys.remove_prefix(comma + 1);
    }
    // The window deletes in row order, which is category order; so does the command line.
    std::sort(categories.begin(), categories.end());
    return true;
}

ParseResult ParseCliArgs(const std::vector<std::string>& args) {
    ParseResult r;
    bool haveRoot = false;
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsDone && a.size() > 1 && a[0] == '-') {
            if (a == "--json") {
                r.options.json = true;
            } else if (a == "--list") {
                r.options.list = true;
            } else if (a == "-0") {
                r.options.nul = true;
            } else if (a == "--quiet" || a == "-q") {
                r.options.quiet = true;
            } else if (a == "--single-thread") {
                r.options.singleThread = true;
            } else if (a == "--help" || a == "-h") {
                r.options.help = true;
            } else if (a == "--yes" || a == "-y") {
                r.options.yes = true;
            } else if (a == "--delete" || a.starts_with("--delete=")) {
                std::string_view keys;
                if (a == "--delete") {
                    if (i + 1 == args.size()) {
                        r.error = "--delete needs KEY[,KEY...] (valid: " + ValidKeys() + ")";
                        return r;
                    }
                    keys = args[++i];
                } else {
                    keys = std::string_view(a).substr(std::string_view("--delete=").size());
                }
                if (!ParseCategoryKeys(keys, r.options.deleteCategories, r.error)) {
                    return r;
                }
                r.options.deleteRequested = true;
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
    if (r.options.yes && !r.options.deleteRequested) {
        r.error = "--yes goes with --delete";
        return r;
    }
    if (r.options.deleteRequested && (r.options.json || r.options.list)) {
        r.error = "--delete prints the rows; it does not go with --json or --list";
        return r;
    }
    r.ok = true;
    return r;
}

std::string Printable(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            c = '?';
        }
    }
    return out;
}

}  // namespace clearnook::cli
