// clearnook-cli: the scan engine without a window. Scans a directory tree, prints the rows the
// window would show, and optionally the recorded paths or a JSON report, or deletes categories.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/confirm.h"
#include "cli/json_text.h"
#include "cli/progress.h"
#include "engine/delete.h"
#include "engine/results.h"
#include "engine/scan.h"
#include "platform/drives_linux.h"
#include "platform/fs_services.h"
#include "ui/drive_list.h"
#include "ui/status_mailbox.h"

namespace {

using namespace clearnook;

// Standard output with every write checked: output cut short by a full disk or a closed file
// must not pass for success. (A closed pipe still ends the program by SIGPIPE, as a filter does.)
class Output {
  public:
    void Write(std::string_view text) {
        if (m_error == 0 && !text.empty() &&
            std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
            m_error = errno != 0 ? errno : EIO;
        }
    }
    // Flushes what is buffered. True when everything written so far has been delivered.
    [[nodiscard]] bool Flush() {
        if (m_error == 0 && std::fflush(stdout) != 0) {
            m_error = errno != 0 ? errno : EIO;
        }
        return m_error == 0;
    }
    // Says why the output failed. Returns the exit status for it.
    [[nodiscard]] int Fail() const {
        std::fprintf(stderr, "clearnook-cli: cannot write output: %s\n", std::strerror(m_error));
        return 2;
    }

  private:
    int m_error = 0;
};

int TerminalWidth() {
    struct winsize ws {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) {
        return ws.ws_col;
    }
    return 80;
}

// The most bytes a message on stderr gives a path or an argument when stderr is no terminal (a
// log, a pipe): every path the system lets a program name in one call (PATH_MAX, 4096) fits
// whole; only a deeper one, which a hostile tree can hold, loses its middle instead of filling
// the log with a line of a megabyte.
constexpr std::size_t kMessageTextBytes = 4096;
// The least room a path gets on a terminal, however little the rest of its line leaves.
constexpr std::size_t kLeastMessageColumns = 32;

// Says `before`, `text` (a path, an argument) as Printable shows it, and `after` (plain ASCII) in
// one line on stderr. `text` loses its middle when the line would not fit on the terminal, or
// when it is longer than kMessageTextBytes and stderr is no terminal.
void SayOnStderr(std::string_view before, std::string_view text, std::string_view after) {
    std::string shown = cli::Printable(text);
    if (::isatty(STDERR_FILENO) != 0) {
        const std::size_t width = static_cast<std::size_t>(TerminalWidth()) - 1;
        const std::size_t rest = before.size() + after.size();
        shown = cli::Shortened(
            shown, rest + kLeastMessageColumns < width ? width - rest : kLeastMessageColumns,
            cli::Keep::StartAndEnd, cli::Measure::Columns);
    } else {
        shown =
            cli::Shortened(shown, kMessageTextBytes, cli::Keep::StartAndEnd, cli::Measure::Bytes);
    }
    std::string line(before);
    line += shown;
    line += after;
    line += '\n';
    std::fputs(line.c_str(), stderr);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

cli::WalkCounts CountsOf(const ScanState& state, std::chrono::steady_clock::time_point start) {
    return {state.entriesSeen.load(std::memory_order_relaxed),
            state.directoriesEntered.load(std::memory_order_relaxed), SecondsSince(start)};
}

// Lets the walk's mailbox wake the thread that draws the progress line: when a text arrives
// after one was taken, and when the walk has finished.
struct ProgressWake {
    std::mutex mutex;
    std::condition_variable cv;
    void Wake() {
        { const std::lock_guard lock(mutex); }  // not between the drawer's look and its wait
        cv.notify_one();
    }
};

// Runs the walk on the worker thread and redraws the progress line on stderr ten times a second:
// the counts, the rate, a percentage when the root is a whole filesystem, and the directory the
// walk is in. The walk only publishes what it publishes anyway and this thread sleeps in between,
// so the walk does not slow; the walk's end wakes it at once. Erases the line at the end.
void ScanWithProgress(ScanParams params, std::chrono::steady_clock::time_point start) {
    auto wake = std::make_shared<ProgressWake>();
    auto mailbox = std::make_shared<StatusMailbox>([wake] { wake->Wake(); });
    params.statusSink = mailbox;
    std::shared_ptr<ScanState> state = params.state;
    const std::optional<std::uint64_t> usedInodes = platform::UsedInodesOfMountRoot(params.path);
    if (!StartScanThread(params)) {
        params.statusSink = nullptr;
        ScanThreadProc(params);  // no thread for the walk: walk here, without progress
        return;
    }
    const auto width = static_cast<std::size_t>(TerminalWidth());
    const auto over = [&state] {
        return state->m_bScanDone.load(std::memory_order_acquire) ||
               state->outOfMemory.load(std::memory_order_acquire);
    };
    std::string where = params.path;
    auto nextDraw = start + std::chrono::milliseconds(100);
    for (;;) {
        {
            std::unique_lock lock(wake->mutex);
            if (wake->cv.wait_until(lock, nextDraw, over)) {
                break;
            }
        }
        if (std::chrono::steady_clock::now() < nextDraw) {
            continue;  // a text arrived; it is shown at the next turn
        }
        nextDraw = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        if (std::optional<std::string> text = mailbox->Take()) {
            where = text->starts_with(kScanningPrefix) ? text->substr(kScanningPrefix.size())
                                                       : std::move(*text);
        }
        const std::string line =
            cli::ProgressLine(CountsOf(*state, start), usedInodes, where, width);
        std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
        std::fflush(stderr);
    }
    mailbox->Close();
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
}

// Lists the drives as the window's drive box has them: the entry text and the scan root, in
// the box's order; with `json`, one object each.
int PrintDrives(Output& out, bool json) {
    const std::vector<DriveEntry> entries = ListDriveEntries();
    if (json) {
        std::string text = "[";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            text += i == 0 ? "\n  {\"text\": " : ",\n  {\"text\": ";
            cli::AppendJsonString(text, entries[i].text);
            text += ", \"root\": ";
            cli::AppendJsonString(text, ScanRootOf(entries[i]));
            text += "}";
        }
        text += entries.empty() ? "]\n" : "\n]\n";
        out.Write(text);
    } else {
        for (const DriveEntry& e : entries) {
            out.Write(cli::Printable(e.text) + "\t" + cli::Printable(ScanRootOf(e)) + "\n");
        }
    }
    return out.Flush() ? 0 : out.Fail();
}

void PrintRows(Output& out, const CategoryTotals& totals) {
    const std::vector<ResultRow> rows = BuildResultRows(totals);
    if (rows.empty()) {
        out.Write("No files of any category were found.\n");
    }
    char line[128];
    std::uint64_t total = 0;
    for (const ResultRow& row : rows) {
        std::snprintf(line, sizeof line, "%-26s %12s\n", row.name.c_str(), row.size.c_str());
        out.Write(line);
        total += totals[static_cast<std::size_t>(row.category)];
    }
    // What ticking every row would free.
    if (!rows.empty()) {
        std::snprintf(line, sizeof line, "%-26s %12s\n", "Total", FormatSize(total).c_str());
        out.Write(line);
    }
}

void PrintList(Output& out, const CategoryResults& results, bool nul) {
    const std::string_view end = nul ? std::string_view("\0", 1) : std::string_view("\n");
    std::string path;
    for (const std::vector<FoundFile>& list : results.lists) {
        for (const FoundFile& f : list) {
            results.PathOf(f, path);
            out.Write(path);
            out.Write(end);
        }
    }
}

void PrintJson(Output& output, const std::string& root, const CategoryResults& results,
               bool withFiles) {
    const CategoryTotals totals = results.SnapshotTotals();
    std::string out = "{\"root\": ";
    cli::AppendJsonString(out, root);
    out += ", \"rules\": ";
    cli::AppendJsonString(out, RuleSetName(results.rules));
    char count[64];
    std::snprintf(count, sizeof count, ", \"unreadable\": %" PRIu64, results.unreadableDirectories);
    out += count;
    out += ", \"categories\": [";
    char num[64];
    for (int c = 0; c < CATEGORY_COUNT; ++c) {
        const auto i = static_cast<std::size_t>(c);
        out += c == 0 ? "\n  {" : ",\n  {";
        std::snprintf(num, sizeof num, "\"index\": %d, \"key\": ", c);
        out += num;
        cli::AppendJsonString(out, CategoryKey(c));
        out += ", \"name\": ";
        cli::AppendJsonString(out, CategoryName(c));
        std::snprintf(num, sizeof num, ", \"bytes\": %" PRIu64 ", \"size\": ", totals[i]);
        out += num;
        cli::AppendJsonString(out, FormatSize(totals[i]));
        std::snprintf(num, sizeof num, ", \"count\": %zu", results.lists[i].size());
        out += num;
        if (withFiles) {
            out += ", \"files\": [";
            bool first = true;
            for (const FoundFile& f : results.lists[i]) {
                out += first ? "" : ", ";
                first = false;
                cli::AppendJsonString(out, results.PathOf(f));
            }
            out += "]";
        }
        out += "}";
    }
    out += "\n]}\n";
    output.Write(out);
}

// One line on stderr when some directories could not be read: the scan missed what is in them.
void ReportUnreadable(const CategoryResults& results) {
    const std::uint64_t n = results.unreadableDirectories;
    if (n == 0) {
        return;
    }
    const std::string reason = " (" + results.firstUnreadableReason + ")";
    if (n == 1) {
        SayOnStderr("clearnook-cli: 1 directory could not be read: ", results.firstUnreadable,
                    reason);
    } else {
        SayOnStderr(
            "clearnook-cli: " + std::to_string(n) + " directories could not be read, the first: ",
            results.firstUnreadable, reason);
    }
}

// Deletes the chosen categories that have a row, as the window offers only those, once the
// person at the terminal (if asked) said yes; prints the report. The exit status: 0, or 1 when the
// report carries the note.
int DeleteCategories(Output& out, const cli::CliOptions& opt, const ScanState& state,
                     const std::optional<cli::ConfirmTerminal>& terminal) {
    const CategoryTotals totals = state.results.SnapshotTotals();
    std::vector<int> ticked;
    for (const int c : opt.deleteCategories) {
        if (totals[static_cast<std::size_t>(c)] != 0) {
            ticked.push_back(c);
        }
    }
    if (terminal && !terminal->Ask(cli::kConfirmQuestion)) {
        std::fputs("clearnook-cli: not confirmed; nothing was removed\n", stderr);
        return 0;
    }
    const DeleteReport report = RunDeletePass(ticked, state.results, opt.root);
    out.Write(report.text);
    out.Write("\n");
    if (!out.Flush()) {
        return out.Fail();
    }
    return report.anyFailed ? 1 : 0;
}

int OutOfMemory() {
    std::fputs("clearnook-cli: out of memory\n", stderr);
    return 2;
}

int Run(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const cli::ParseResult parsed = cli::ParseCliArgs(args);
    if (!parsed.ok) {
        SayOnStderr("clearnook-cli: ", parsed.error, " (try --help)");
        return 2;
    }
    const cli::CliOptions& opt = parsed.options;
    Output out;
    if (opt.help) {
        out.Write(cli::CliUsage());
        return out.Flush() ? 0 : out.Fail();
    }
    if (opt.version) {
        out.Write("clearnook-cli " CLEARNOOK_VERSION "\n");
        return out.Flush() ? 0 : out.Fail();
    }
    if (opt.drives) {
        return PrintDrives(out, opt.json);
    }
    if (!platform::IsListableDirectory(opt.root)) {
        SayOnStderr("clearnook-cli: '", opt.root, "' is not a directory that can be listed");
        return 2;
    }

    // Known before the walk, which can take long on a whole drive, that no one could say yes.
    const std::optional<cli::ConfirmTerminal> terminal =
        opt.deleteRequested && !opt.yes ? cli::ConfirmTerminal::Open() : std::nullopt;
    if (opt.deleteRequested && !opt.yes && !terminal) {
        std::fputs(
            "clearnook-cli: --delete asks for confirmation on a terminal and there is "
            "none; nothing was removed (give --yes to delete without asking)\n",
            stderr);
        return 2;
    }

    ScanParams params;
    params.path = opt.root;
    params.threads = opt.threads;
    params.rules = opt.rules;
    params.state = std::make_shared<ScanState>();
    const std::shared_ptr<ScanState> state = params.state;
    const bool onTerminal = !opt.quiet && ::isatty(STDERR_FILENO) != 0;
    const auto start = std::chrono::steady_clock::now();
    if (onTerminal) {
        ScanWithProgress(std::move(params), start);
    } else {
        ScanThreadProc(params);  // no progress to show: walk on this thread
    }
    const cli::WalkCounts walked = CountsOf(*state, start);
    if (state->outOfMemory.load(std::memory_order_acquire)) {
        return OutOfMemory();  // the scan is incomplete: nothing is deleted
    }
    if (!state->m_bScanDone.load(std::memory_order_acquire)) {
        return 1;
    }

    if (opt.json) {
        PrintJson(out, opt.root, state->results, opt.list);
    } else if (opt.list) {
        PrintList(out, state->results, opt.nul);
    } else {
        PrintRows(out, state->results.SnapshotTotals());
    }
    // The rows are delivered before anything is deleted: a failure here removes nothing.
    if (!out.Flush()) {
        return out.Fail();
    }
    if (!opt.quiet) {
        ReportUnreadable(state->results);
    }
    if (onTerminal) {
        std::fprintf(stderr, "%s\n", cli::SummaryLine(walked).c_str());
    }
    if (!opt.deleteRequested) {
        return 0;
    }
    return DeleteCategories(out, opt, *state, terminal);
}

}  // namespace

int main(int argc, char** argv) {
    // Memory that runs out (in the walk, or in putting out a large list) ends the program with a
    // word, before or instead of deleting, never with an abort.
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        return OutOfMemory();
    }
}
