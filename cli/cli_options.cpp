#include "cli/cli_options.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>

#include "cli/utf8.h"
#include "engine/categories.h"

namespace clearnook::cli {

namespace {

// Under the Windows rules, what each category holds as one paragraph ("KEY WORDS; KEY WORDS..."),
// filled to kHoldsWidth columns.
constexpr std::size_t kHoldsWidth = 84;

std::string WindowsHolds() {
    std::string words;
    for (int c = 0; c < CATEGORY_COUNT; ++c) {
        words += c == 0 ? "" : "; ";
        words += CategoryKey(c);
        words += ' ';
        words += CategoryInfoOf(c).windowsHolds;
    }
    std::string out;
    std::string line;
    for (std::size_t from = 0; from < words.size();) {
        const std::size_t end = std::min(words.find(' ', from), words.size());
        const std::string_view word = std::string_view(words).substr(from, end - from);
        if (!line.empty() && line.size() + 1 + word.size() > kHoldsWidth) {
            out += line + "\n";
            line.clear();
        }
        line += line.empty() ? "  " : " ";
        line += word;
        from = end + 1;
    }
    return out + line + "\n";
}

// Under the Linux rules, a row per category: its key, then from kHoldsColumn on its words, which
// go on in that column after each line break they hold.
constexpr std::size_t kHoldsColumn = 12;

std::string LinuxHolds() {
    std::string out;
    for (int c = 0; c < CATEGORY_COUNT; ++c) {
        std::string row = "  " + std::string(CategoryKey(c));
        row.resize(std::max(row.size() + 2, kHoldsColumn), ' ');
        for (const char* w = CategoryInfoOf(c).linuxHolds; *w != '\0'; ++w) {
            row += *w == '\n' ? "\n" + std::string(kHoldsColumn, ' ') : std::string(1, *w);
        }
        out += row + "\n";
    }
    return out;
}

}  // namespace

std::string CliUsage() {
    std::string usage =
        "usage: clearnook-cli [--json] [--list] [-0] [--quiet] [--threads N] [--rules SET] ROOT\n"
        "       clearnook-cli --delete KEY[,KEY...] [--yes] [--quiet] [--threads N] [--rules SET]\n"
        "                     ROOT\n"
        "       clearnook-cli --drives [--json]\n"
        "       clearnook-cli --version | --help\n"
        "Scans the directory tree ROOT (staying on its file system) for disposable files and\n"
        "prints one row per category found.\n"
        "  --json    print one JSON object with every category\n"
        "  --list    print the recorded paths instead, in category and recording order\n"
        "  -0        with --list: end each path with NUL instead of a line break\n"
        "  --quiet   no progress line, no summary and no report of unreadable directories\n"
        "            on stderr\n"
        "  --threads N\n"
        "            walk on N threads, 1 to %MAXTHREADS% (same results; 1 reads no directory\n"
        "            ahead); by default 8 per processor, at least 8 and at most 16\n"
        "  --single-thread\n"
        "            the same as --threads 1\n"
        "  --delete KEY[,KEY...]\n"
        "            after the rows, permanently remove the recorded files of these\n"
        "            categories (those with a row only); asks on the terminal first, and\n"
        "            prints how many files were removed; a file a running program holds\n"
        "            open (of the processes this user can see) is kept\n"
        "  --yes     with --delete: do not ask\n"
        "  --rules auto|windows|linux\n"
        "            where each kind of file is looked for: where Windows keeps it, or where\n"
        "            Linux keeps it (Wine's drive_c still the Windows way); auto, the default,\n"
        "            picks Windows for a ROOT on NTFS, FAT or exFAT and Linux for any other\n"
        "  --drives  list the drives as the window's drive box has them: the entry, a tab,\n"
        "            the directory a scan of it walks (with --json: one object each); the\n"
        "            home folder ($HOME) first, then the mounted file systems\n"
        "  --version print the version\n"
        "Category keys (or their index):\n"
        "%KEYS%"
        "What each holds under the Windows rules:\n"
        "%WINDOWS%"
        "and under the Linux rules:\n"
        "%LINUX%"
        "Exit status:\n"
        "  0  done (also when nothing was found, or deleting was not confirmed)\n"
        "  1  some files could not be removed\n"
        "  2  bad usage, a ROOT that cannot be listed, output that cannot be written,\n"
        "     no terminal to confirm --delete on, or out of memory\n";
    std::string keys;
    for (int c = 0; c < CATEGORY_COUNT; ++c) {
        std::string key = "  " + std::string(CategoryKey(c)) + " (" + std::to_string(c) + ")";
        key.resize(std::max<std::size_t>(key.size() + 2, 16), ' ');
        keys += key + CategoryName(c) + "\n";
    }
    usage.replace(usage.find("%KEYS%"), 6, keys);
    usage.replace(usage.find("%WINDOWS%"), 9, WindowsHolds());
    usage.replace(usage.find("%LINUX%"), 7, LinuxHolds());
    usage.replace(usage.find("%MAXTHREADS%"), 12, std::to_string(kMostThreads));
    return usage;
}

std::string NormalizeRoot(std::string root) {
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    return root;
}

namespace {

bool ParseThreadCount(std::string_view text, unsigned& threads) {
    unsigned n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 1 || n > kMostThreads) {
        return false;
    }
    threads = n;
    return true;
}

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
        if (key == CategoryKey(c) || key == std::to_string(c)) {
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

namespace {

// The value of the option `name` at args[i]: "--name VALUE" (i moves to VALUE) or
// "--name=VALUE". False when "--name" is the last argument.
bool OptionValue(const std::vector<std::string>& args, std::size_t& i, std::string_view name,
                 std::string_view& value) {
    const std::string& a = args[i];
    if (a.size() > name.size()) {
        value = std::string_view(a).substr(name.size() + 1);
        return true;
    }
    if (i + 1 == args.size()) {
        return false;
    }
    value = args[++i];
    return true;
}

}  // namespace

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
                r.options.threads = 1;
            } else if (a == "--threads" || a.starts_with("--threads=")) {
                std::string_view count;
                if (!OptionValue(args, i, "--threads", count)) {
                    r.error = "--threads needs a number";
                    return r;
                }
                if (!ParseThreadCount(count, r.options.threads)) {
                    r.error = "--threads takes a number from 1 to " + std::to_string(kMostThreads) +
                              ", not '" + std::string(count) + "'";
                    return r;
                }
            } else if (a == "--rules" || a.starts_with("--rules=")) {
                std::string_view set;
                if (!OptionValue(args, i, "--rules", set)) {
                    r.error = "--rules needs auto, windows or linux";
                    return r;
                }
                if (set == "auto") {
                    r.options.rules = RuleChoice::Auto;
                } else if (set == "windows") {
                    r.options.rules = RuleChoice::Windows;
                } else if (set == "linux") {
                    r.options.rules = RuleChoice::Linux;
                } else {
                    r.error =
                        "--rules takes auto, windows or linux, not '" + std::string(set) + "'";
                    return r;
                }
            } else if (a == "--help" || a == "-h") {
                r.options.help = true;
            } else if (a == "--version") {
                r.options.version = true;
            } else if (a == "--drives") {
                r.options.drives = true;
            } else if (a == "--yes" || a == "-y") {
                r.options.yes = true;
            } else if (a == "--delete" || a.starts_with("--delete=")) {
                std::string_view keys;
                if (!OptionValue(args, i, "--delete", keys)) {
                    r.error = "--delete needs KEY[,KEY...] (valid: " + ValidKeys() + ")";
                    return r;
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
    if (r.options.help || r.options.version) {
        r.ok = true;
        return r;
    }
    if (r.options.drives) {
        if (haveRoot || r.options.list || r.options.nul || r.options.deleteRequested ||
            r.options.yes || r.options.threads != 0) {
            r.error = "--drives takes no ROOT and goes with --json only";
            return r;
        }
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

namespace {

// What a terminal acts on instead of showing: the C0 controls and DEL, the C1 controls
// (U+009B is CSI, U+009D OSC), and the bidirectional embeddings, overrides, isolates and marks,
// which reorder what follows them.
bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

constexpr std::string_view kEllipsis = "...";

// The room `c` takes as `measure` counts it. A byte that is not UTF-8 is one byte, one column.
std::size_t SizeOf(Utf8Char c, Measure measure) {
    if (c.length == 0) {
        return 1;
    }
    return measure == Measure::Bytes ? c.length : c.codePoint < 0x1100 ? 1 : 2;
}

// Where the character that ends at `end` starts (a lone byte when no valid sequence ends there).
std::size_t CharStartBefore(std::string_view text, std::size_t end) {
    for (std::size_t k = 2; k <= 4 && k <= end; ++k) {
        if (Utf8CharAt(text, end - k).length == k) {
            return end - k;
        }
    }
    return end - 1;
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = Utf8CharAt(text, i);
        if (c.length == 0 || IsControl(c.codePoint)) {
            out.push_back('?');
            i += c.length == 0 ? 1 : c.length;
        } else {
            out.append(text.substr(i, c.length));
            i += c.length;
        }
    }
    return out;
}

std::string Shortened(std::string_view text, std::size_t most, Keep keep, Measure measure) {
    std::size_t size = 0;
    for (std::size_t i = 0; i < text.size() && size <= most;) {
        const Utf8Char c = Utf8CharAt(text, i);
        size += SizeOf(c, measure);
        i += c.length == 0 ? 1 : c.length;
    }
    if (size <= most) {
        return std::string(text);
    }
    if (most <= kEllipsis.size()) {
        return std::string(most, '.');
    }
    const std::size_t room = most - kEllipsis.size();
    const std::size_t headRoom = keep == Keep::End ? 0 : (room + 1) / 2;
    std::size_t headEnd = 0;
    std::size_t used = 0;
    while (headEnd < text.size()) {
        const Utf8Char c = Utf8CharAt(text, headEnd);
        if (used + SizeOf(c, measure) > headRoom) {
            break;
        }
        used += SizeOf(c, measure);
        headEnd += c.length == 0 ? 1 : c.length;
    }
    std::size_t tailStart = text.size();  // the end takes the rest of the room
    while (tailStart > headEnd) {
        const std::size_t start = CharStartBefore(text, tailStart);
        const std::size_t charSize = SizeOf(Utf8CharAt(text, start), measure);
        if (used + charSize > room) {
            break;
        }
        used += charSize;
        tailStart = start;
    }
    std::string out(text.substr(0, headEnd));
    out += kEllipsis;
    out += text.substr(tailStart);
    return out;
}

}  // namespace clearnook::cli
