// clearnook-cli: the scan engine without a window. Scans a directory tree, prints the rows the
// window would show, and optionally the recorded paths or a JSON report, or deletes categories.
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_options.h"
#include "cli/confirm.h"
#include "cli/json_text.h"
#include "engine/delete.h"
#include "engine/results.h"
#include "engine/scan.h"
#include "platform/fs_services.h"
#include "ui/status_mailbox.h"

namespace {

using namespace clearnook;

int TerminalWidth() {
    struct winsize ws {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) {
        return ws.ws_col;
    }
    return 80;
}

// Runs the walk on the worker thread and redraws its newest status text on stderr at most ten
// times a second; erases the line at the end.
void ScanWithProgress(ScanParams params) {
    auto mailbox = std::make_shared<StatusMailbox>();
    params.statusSink = mailbox;
    std::shared_ptr<ScanState> state = params.state;
    StartScanThread(std::move(params));
    const auto width = static_cast<std::size_t>(TerminalWidth());
    auto lastDraw = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    while (!state->m_bScanDone.load(std::memory_order_acquire)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto now = std::chrono::steady_clock::now();
        if (now - lastDraw < std::chrono::milliseconds(100)) {
            continue;
        }
        if (std::optional<std::string> text = mailbox->Take()) {
            lastDraw = now;
            std::string line = *text;
            if (line.size() >= width) {
                line.resize(width - 1);
            }
            for (char& c : line) {
                if (static_cast<unsigned char>(c) < 0x20) {
                    c = '?';  // a control character in a name must not drive the terminal
                }
            }
            std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
            std::fflush(stderr);
        }
    }
    mailbox->Close();
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
}

void PrintRows(const CategoryTotals& totals) {
    for (const ResultRow& row : BuildResultRows(totals)) {
        std::printf("%-26s %12s\n", row.name.c_str(), row.size.c_str());
    }
}

void PrintList(const CategoryResults& results, bool nul) {
    const char end = nul ? '\0' : '\n';
    for (const std::vector<FoundFile>& list : results.lists) {
        for (const FoundFile& f : list) {
            std::fwrite(f.path.data(), 1, f.path.size(), stdout);
            std::fputc(end, stdout);
        }
    }
}

void PrintJson(const std::string& root, const CategoryResults& results, bool withFiles) {
    const CategoryTotals totals = results.SnapshotTotals();
    std::string out = "{\"root\": ";
    cli::AppendJsonString(out, root);
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
                cli::AppendJsonString(out, f.path);
            }
            out += "]";
        }
        out += "}";
    }
    out += "\n]}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// Deletes the chosen categories that have a row, as the window offers only those, once the
// person at the terminal (if asked) said yes; prints the report. The exit status: 0, or 1 when the
// report carries the note.
int DeleteCategories(const cli::CliOptions& opt, const ScanState& state,
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
    std::printf("%s\n", report.text.c_str());
    if (std::fflush(stdout) != 0) {
        return 1;
    }
    return report.anyFailed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const cli::ParseResult parsed = cli::ParseCliArgs(args);
    if (!parsed.ok) {
        std::fprintf(stderr, "clearnook-cli: %s (try --help)\n", parsed.error.c_str());
        return 2;
    }
    const cli::CliOptions& opt = parsed.options;
    if (opt.help) {
        std::fputs(cli::CliUsage(), stdout);
        return 0;
    }
    if (!platform::IsListableDirectory(opt.root)) {
        std::fprintf(stderr, "clearnook-cli: '%s' is not a directory that can be listed\n",
                     opt.root.c_str());
        return 2;
    }

    // Known before the walk, which can take long on a whole drive, that no one could say yes.
    const std::optional<cli::ConfirmTerminal> terminal =
        opt.deleteRequested && !opt.yes ? cli::ConfirmTerminal::Open() : std::nullopt;
    if (opt.deleteRequested && !opt.yes && !terminal) {
        std::fputs("clearnook-cli: --delete asks for confirmation on a terminal and there is "
                   "none; nothing was removed (give --yes to delete without asking)\n",
                   stderr);
        return 2;
    }

    ScanParams params;
    params.path = opt.root;
    params.readAhead = !opt.singleThread;
    params.state = std::make_shared<ScanState>();
    const std::shared_ptr<ScanState> state = params.state;
    if (!opt.quiet && ::isatty(STDERR_FILENO) != 0) {
        ScanWithProgress(std::move(params));
    } else {
        ScanThreadProc(std::move(params));  // no progress to show: walk on this thread
    }
    if (!state->m_bScanDone.load(std::memory_order_acquire)) {
        return 1;
    }

    if (opt.json) {
        PrintJson(opt.root, state->results, opt.list);
    } else if (opt.list) {
        PrintList(state->results, opt.nul);
    } else {
        PrintRows(state->results.SnapshotTotals());
    }
    if (std::fflush(stdout) != 0) {
        return 1;
    }
    if (!opt.deleteRequested) {
        return 0;
    }
    return DeleteCategories(opt, *state, terminal);
}
