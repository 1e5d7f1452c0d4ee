// One walk run the way the worker runs it, with what it recorded and sent kept for the test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/scan.h"
#include "tests/support/recording_sink.h"

namespace clearnook::testing {

// A recorded file with its whole path: what tests compare between walks and against the disk.
struct RecordedFile {
    std::string path;
    platform::FileIdentity identity;
    friend bool operator==(const RecordedFile&, const RecordedFile&) = default;
};
using RecordedLists = std::array<std::vector<RecordedFile>, CATEGORY_COUNT>;

// The lists of `results` with each file's path put together.
inline RecordedLists ResolvedLists(const CategoryResults& results) {
    RecordedLists out;
    for (std::size_t c = 0; c < CATEGORY_COUNT; ++c) {
        for (const FoundFile& f : results.lists[c]) {
            out[c].push_back({results.PathOf(f), f.identity});
        }
    }
    return out;
}

struct ScanRun {
    std::shared_ptr<ScanState> state = std::make_shared<ScanState>();
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
    unsigned threads = 0;  // as ScanParams::threads
    // Most suites' trees are laid out for the Windows rules, which they test on any file system.
    RuleChoice rules = RuleChoice::Windows;

    // Walks `root` through ScanThreadProc, texts to `sink` unless `other` is given.
    void Run(const std::string& root, std::shared_ptr<StatusSink> other = nullptr) {
        ScanParams p;
        p.rules = rules;
        p.path = root;
        p.statusSink = other ? std::move(other) : sink;
        p.state = state;
        p.threads = threads;
        EXPECT_EQ(ScanThreadProc(p), 0u);
        EXPECT_TRUE(state->m_bScanDone.load());
    }
    [[nodiscard]] std::vector<std::string> Paths(int c) const {
        std::vector<std::string> out;
        for (const FoundFile& f : state->results.lists[static_cast<std::size_t>(c)]) {
            out.push_back(state->results.PathOf(f));
        }
        return out;
    }
    [[nodiscard]] std::vector<std::string> SortedPaths(int c) const {
        std::vector<std::string> out = Paths(c);
        std::sort(out.begin(), out.end());
        return out;
    }
    [[nodiscard]] std::uint64_t Total(int c) const {
        return state->results.totals[static_cast<std::size_t>(c)].load();
    }
    [[nodiscard]] std::size_t Recorded() const {
        std::size_t n = 0;
        for (const auto& l : state->results.lists) {
            n += l.size();
        }
        return n;
    }
};

}  // namespace clearnook::testing
