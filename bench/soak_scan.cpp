// Soak: scans one tree again and again in one process and reports the peak memory of each run,
// which must not grow from run to run.
//
//     soak_scan ROOT [--runs N]
//
// Before each run the kernel's peak-RSS mark is reset (/proc/self/clear_refs), so each line's
// peak is that run's own; where the reset is refused, the peak is the process's so far, which
// must then stay flat after the first run. Exit status 0 when every run found the same files and
// no run's peak exceeds the first run's by more than the allowance, 1 otherwise, 2 on bad usage.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/results.h"
#include "engine/scan.h"

namespace {

using namespace clearnook;

// A field of /proc/self/status in KiB ("VmHWM", "VmRSS"); 0 when it cannot be read.
std::uint64_t StatusKiB(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) {
        return 0;
    }
    char line[256];
    std::uint64_t value = 0;
    const std::size_t len = std::strlen(field);
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, field, len) == 0 && line[len] == ':') {
            value = std::strtoull(line + len + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return value;
}

// Resets the peak-RSS mark to the current RSS. False where the kernel does not allow it.
bool ResetPeak() {
    const int fd = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool ok = ::write(fd, "5", 1) == 1;
    ::close(fd);
    return ok;
}

struct RunFigures {
    double seconds = 0;
    std::size_t files = 0;
    CategoryTotals totals{};
    std::uint64_t peakKiB = 0;
    std::uint64_t rssKiB = 0;       // with the results still held
    std::uint64_t releasedKiB = 0;  // after the results were freed
};

RunFigures ScanOnce(const std::string& root) {
    RunFigures r;
    const auto start = std::chrono::steady_clock::now();
    {
        ScanParams params;
        params.path = root;
        params.state = std::make_shared<ScanState>();
        const std::shared_ptr<ScanState> state = params.state;
        ScanThreadProc(std::move(params));
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (const std::vector<FoundFile>& list : state->results.lists) {
            r.files += list.size();
        }
        r.totals = state->results.SnapshotTotals();
        r.peakKiB = StatusKiB("VmHWM");
        r.rssKiB = StatusKiB("VmRSS");
    }
    r.releasedKiB = StatusKiB("VmRSS");
    return r;
}

double MiB(std::uint64_t kib) {
    return static_cast<double>(kib) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string root;
    unsigned long runs = 10;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::strtoul(argv[++i], nullptr, 10);
        } else if (root.empty() && !a.starts_with("-")) {
            root = a;
        } else {
            root.clear();
            break;
        }
    }
    if (root.empty() || runs == 0) {
        std::fputs("usage: soak_scan ROOT [--runs N]\n", stderr);
        return 2;
    }

    // The allowance for allocator noise: 1% of the first peak, at least 2 MiB.
    std::printf("soak: %lu scans of %s in one process\n", runs, root.c_str());
    std::printf("%4s %9s %10s %14s %14s %16s\n", "run", "seconds", "recorded", "peak MiB",
                "RSS held MiB", "RSS freed MiB");
    std::vector<RunFigures> all;
    bool resets = true;
    for (unsigned long i = 0; i < runs; ++i) {
        resets = ResetPeak() && resets;
        all.push_back(ScanOnce(root));
        const RunFigures& r = all.back();
        std::printf("%4lu %9.2f %10zu %14.1f %14.1f %16.1f\n", i + 1, r.seconds, r.files,
                    MiB(r.peakKiB), MiB(r.rssKiB), MiB(r.releasedKiB));
        std::fflush(stdout);
    }
    const RunFigures& first = all.front();
    const std::uint64_t allowance = std::max<std::uint64_t>(first.peakKiB / 100, 2048);
    bool steady = true;
    bool same = true;
    std::uint64_t highest = 0;
    for (const RunFigures& r : all) {
        highest = std::max(highest, r.peakKiB);
        steady = steady && r.peakKiB <= first.peakKiB + allowance;
        same = same && r.files == first.files && r.totals == first.totals;
    }
    std::printf(
        "peak per run: %s; first %.1f MiB, highest %.1f MiB, allowance %.1f MiB: %s; "
        "results %s\n",
        resets ? "reset before each run" : "process peak (reset refused)", MiB(first.peakKiB),
        MiB(highest), MiB(allowance), steady ? "steady" : "GROWS",
        same ? "identical in every run" : "DIFFER between runs");
    return steady && same ? 0 : 1;
}
