// The command line of clearnook-cli, parsed without side effects.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/scan.h"

namespace clearnook::cli {

// The most threads --threads takes.
inline constexpr unsigned kMostThreads = 64;

struct CliOptions {
    bool json = false;     // one JSON object instead of rows
    bool list = false;     // the recorded paths instead of the rows
    bool nul = false;      // with --list: NUL after each path instead of a line break
    bool quiet = false;    // no progress line
    unsigned threads = 0;  // --threads N (--single-thread: 1); 0: the walk's default
    bool help = false;
    bool version = false;
    bool drives = false;           // --drives: list the drive box's entries instead of scanning
    bool deleteRequested = false;  // --delete: remove categories after the rows
    std::vector<int> deleteCategories;    // their indexes, ascending, each once
    bool yes = false;                     // --yes: delete without asking
    RuleChoice rules = RuleChoice::Auto;  // --rules auto|windows|linux
    std::string root;                     // trailing slashes dropped ("/" stays "/")
};

struct ParseResult {
    bool ok = false;
    std::string error;  // one line, for stderr, when !ok
    CliOptions options;
};

// Parses the arguments after the program name. Pure: touches neither the disk nor the terminal.
[[nodiscard]] ParseResult ParseCliArgs(const std::vector<std::string>& args);

// Adds to `categories` the categories named by `keys`, a comma-separated list of category keys
// ("temp", "thumbs"...) or indexes (0 to CATEGORY_COUNT - 1), keeping them ascending and each
// once. False with a one-line `error` that names the valid keys when one is unknown or empty.
[[nodiscard]] bool ParseCategoryKeys(std::string_view keys, std::vector<int>& categories,
                                     std::string& error);

// The text of --help: usage, options, the category keys and the exit statuses.
[[nodiscard]] std::string CliUsage();

// `root` without trailing slashes, keeping a lone "/".
[[nodiscard]] std::string NormalizeRoot(std::string root);

// `text` (a user's argument, a name from the disk) fit for a terminal: one '?' for each control
// character (C0, DEL, C1), each bidirectional control or mark, and each byte that is not part of
// valid UTF-8; any other character, accented or Japanese alike, unchanged. So no escape sequence
// reaches the terminal, nothing reorders what is shown, and the terminal is handed only valid
// UTF-8, leaving nothing for a lenient decoder to piece into a control.
[[nodiscard]] std::string Printable(std::string_view text);

// What a shortened text keeps: its start and its end, or only its end.
enum class Keep { StartAndEnd, End };
// How a shortened text is measured: in terminal columns (a wide East Asian character or emoji
// counted as two; any character from U+1100 on is, so a line may come out shorter than the room,
// never longer) or in bytes.
enum class Measure { Columns, Bytes };

// `text` (valid UTF-8, as Printable gives it) when it fits in `most`; else shortened to fit, the
// part left out replaced by "...": from the middle with Keep::StartAndEnd, from the start with
// Keep::End. Never cuts a character in two. Just dots when `most` leaves room for no more.
[[nodiscard]] std::string Shortened(std::string_view text, std::size_t most, Keep keep,
                                    Measure measure);

}  // namespace clearnook::cli
