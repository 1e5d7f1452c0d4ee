// The read-ahead walk held against the one-thread walk: on every kind of tree the same lists, in
// the same order, the same totals, root identity and status texts; a stop request while the
// second thread is busy; and the completion flag of the worker.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/scan.h"
#include "platform/read_ahead_support.h"
#include "tests/support/process_probe.h"
#include "tests/support/recording_sink.h"
#include "tests/support/rule_examples.h"
#include "tests/support/scan_run.h"
#include "tests/support/temp_tree.h"
#include "tests/support/wide_directory.h"

namespace clearnook {
namespace {

using testing::RecordingSink;
using testing::TempDir;

// Long enough for a walk of the trees here on a loaded machine under the thread sanitizer; a walk
// that takes longer has hung.
constexpr auto kWatchdog = std::chrono::seconds(60);

// Everything a walk hands back, and how it went about it.
struct WalkRecord {
    testing::RecordedLists lists;
    CategoryTotals totals{};
    platform::RootIdentity rootIdentity;
    std::vector<std::string> texts;
    std::uint64_t entriesSeen = 0;
    std::uint64_t directoriesEntered = 0;
    std::uint64_t subtreesHandedOff = 0;
    // Status texts sent on a thread other than the one that called ScanDirectory: the sink
    // belongs to the walk's own thread.
    std::size_t textsOnOtherThreads = 0;
    // The most descriptors the process held at any sampled status text.
    std::size_t mostDescriptors = 0;
};

// Walks `root` on the calling thread and `threads` - 1 helpers (1: the one-thread walk); samples
// the process's descriptors at every `sampleEvery`th status text (0: never).
WalkRecord Walk(const std::string& root, unsigned threads, std::size_t sampleEvery = 0) {
    WalkRecord r;
    auto sink = std::make_shared<RecordingSink>();
    auto state = std::make_shared<ScanState>();
    const std::thread::id caller = std::this_thread::get_id();
    RecordingSink* texts = sink.get();
    sink->onText = [&r, texts, caller, sampleEvery](std::string_view) {
        if (std::this_thread::get_id() != caller) {
            ++r.textsOnOtherThreads;
        }
        if (sampleEvery != 0 && texts->texts.size() % sampleEvery == 0) {
            r.mostDescriptors = std::max(r.mostDescriptors, testing::OpenDescriptorCount());
        }
    };
    ScanParams p;
    p.rules = RuleChoice::Windows;  // the trees here are laid out for them
    p.path = root;
    p.statusSink = sink;
    p.state = state;
    p.threads = threads;
    EXPECT_EQ(ScanDirectory(p), ScanEnd::Walked);
    r.lists = testing::ResolvedLists(state->results);
    r.totals = state->results.SnapshotTotals();
    r.rootIdentity = state->results.rootIdentity;
    r.texts = std::move(sink->texts);
    r.entriesSeen = state->entriesSeen.load();
    r.directoriesEntered = state->directoriesEntered.load();
    r.subtreesHandedOff = state->subtreesHandedOff.load();
    return r;
}

bool SameFile(const testing::RecordedFile& a, const testing::RecordedFile& b) {
    return a == b;
}

std::string Show(const testing::RecordedFile& f) {
    return f.path + " (" + std::to_string(f.identity.device) + ":" +
           std::to_string(f.identity.inode) + ")";
}

std::string Show(const std::string& text) {
    constexpr std::size_t kTail = 160;  // deep paths differ at their end
    return text.size() <= kTail ? text : "..." + text.substr(text.size() - kTail);
}

// Notes in `bad` where `actual` first departs from `expected`, if it does.
template <typename T, typename Same>
void NoteFirstDifference(std::ostringstream& bad, const std::string& what,
                         const std::vector<T>& expected, const std::vector<T>& actual, Same same) {
    const auto [e, a] =
        std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end(), same);
    if (e == expected.end() && a == actual.end()) {
        return;
    }
    bad << "\n  " << what << ": " << expected.size() << " expected, " << actual.size()
        << " got; first difference at " << (e - expected.begin()) << ": expected "
        << (e == expected.end() ? "(end)" : Show(*e)) << ", got "
        << (a == actual.end() ? "(end)" : Show(*a));
}

// The read-ahead walk `actual` gave exactly what the one-thread walk `expected` gave.
::testing::AssertionResult SameWalk(const WalkRecord& expected, const WalkRecord& actual) {
    std::ostringstream bad;
    for (std::size_t c = 0; c < CATEGORY_COUNT; ++c) {
        NoteFirstDifference(bad, "list of category " + std::to_string(c), expected.lists[c],
                            actual.lists[c], SameFile);
    }
    for (std::size_t c = 0; c < CATEGORY_COUNT; ++c) {
        if (expected.totals[c] != actual.totals[c]) {
            bad << "\n  total of category " << c << ": expected " << expected.totals[c] << ", got "
                << actual.totals[c];
        }
    }
    if (!(expected.rootIdentity == actual.rootIdentity)) {
        bad << "\n  root identity: expected " << expected.rootIdentity.directory.device << ":"
            << expected.rootIdentity.directory.inode << ", got "
            << actual.rootIdentity.directory.device << ":" << actual.rootIdentity.directory.inode;
    }
    NoteFirstDifference(bad, "status texts", expected.texts, actual.texts, std::equal_to<>());
    if (expected.entriesSeen != actual.entriesSeen ||
        expected.directoriesEntered != actual.directoriesEntered) {
        bad << "\n  entries, directories: expected " << expected.entriesSeen << ", "
            << expected.directoriesEntered << ", got " << actual.entriesSeen << ", "
            << actual.directoriesEntered;
    }
    if (bad.str().empty()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the walks differ:" << bad.str();
}

std::size_t RecordedCount(const WalkRecord& r) {
    std::size_t n = 0;
    for (const auto& list : r.lists) {
        n += list.size();
    }
    return n;
}

// ---- the same results on every kind of tree ----

std::string Join(const std::string& dir, const std::string& name) {
    return dir.empty() ? name : dir + "/" + name;
}

// A random tree of `dirs` directories and `files` files under `t`: names that classify (by
// extension, by a marker directory above them, or both) mixed with plain ones. With `deep`, new
// directories go mostly under the newest ones, so the tree grows long branches as well as wide
// ones. With `markersOnly`, every directory has a marker name (or a near miss), so a subtree
// classified one level off shows.
void MakeRandomTree(const TempDir& t, unsigned seed, int dirs, int files, bool deep,
                    bool markersOnly) {
    static const char* const kDirNames[] = {"Temp",
                                            "TEMP",
                                            "Recent",
                                            "recent",
                                            "Content.IE5",
                                            "Temporary Internet Files",
                                            "Temporary Internet Files/Content.IE5",
                                            "x.tmp",
                                            "Build",
                                            "te",
                                            "mp",
                                            "a\\temp"};
    static const char* const kFileNames[] = {"a.TMP",     "b.swp",     "c.gid", "d.pch", "e.lnk",
                                             "Thumbs.db", "thumbs.DB", "f.Tmp", "g.LNK", "h.txt"};
    std::mt19937 rng(seed);
    std::vector<std::string> made = {""};
    for (int i = 0; i < dirs; ++i) {
        const std::size_t n = made.size();
        const std::size_t at =
            deep && rng() % 4 != 0 ? n - 1 - rng() % std::min<std::size_t>(n, 4) : rng() % n;
        const std::string name = markersOnly || rng() % 3 == 0
                                     ? kDirNames[rng() % std::size(kDirNames)]
                                     : "d" + std::to_string(i);
        const std::string dir = Join(made[at], name);
        t.Dir(dir);
        made.push_back(dir);
    }
    for (int i = 0; i < files; ++i) {
        const std::string& dir = made[rng() % made.size()];
        const auto kind = rng() % 3;
        const std::string name = kind == 0   ? kFileNames[rng() % std::size(kFileNames)]
                                 : kind == 1 ? "f" + std::to_string(i) + ".tmp"
                                             : "f" + std::to_string(i);
        t.File(Join(dir, name), rng() % 5000);
    }
    // every kind of file at least once, whatever the seed
    for (const char* dir : {"", "Recent", "Temporary Internet Files/Content.IE5"}) {
        for (const char* name : kFileNames) {
            t.File(Join(dir, name), 1 + rng() % 5000);
        }
    }
    // and every file the examples of the Windows rules have them take, below "examples" for the
    // drive's root
    for (const testing::RuleExample& e : testing::TakenExamples(testing::kWindowsRuleExamples)) {
        std::string path = e.path;
        std::replace(path.begin(), path.end(), '\\', '/');
        t.File("examples" + path.substr(path.find('/')), 1 + rng() % 5000);
    }
}

struct RandomTree {
    unsigned seed;
    int dirs;
    int files;
    bool deep;
    bool markersOnly;
    int readAheadRuns;  // how the work splits changes from run to run
};

// A subtree handed to another thread shows in the walk's count of them; a one-thread walk never
// hands one off. Read-ahead may decline any single tree, so only the sum over all of them must be
// above 0: were it never to engage, every other test here would compare the one-thread walk with
// itself.
TEST(ReadAheadTest, RandomTreesGiveTheOneThreadWalksResultsAndTexts) {
    const RandomTree trees[] = {
        {1, 1500, 3000, false, false, 2}, {2, 1500, 3000, true, false, 2},
        {3, 600, 4000, false, false, 2},  {4, 2500, 2500, true, false, 2},
        {5, 80, 400, false, true, 25},    {6, 80, 400, true, true, 25},
    };
    std::uint64_t handedOff = 0;
    for (const RandomTree& tree : trees) {
        SCOPED_TRACE("seed " + std::to_string(tree.seed));
        TempDir t(TempDir::Where::Memory);
        MakeRandomTree(t, tree.seed, tree.dirs, tree.files, tree.deep, tree.markersOnly);

        const WalkRecord oneThread = Walk(t.path(), 1);
        EXPECT_EQ(oneThread.subtreesHandedOff, 0u) << "the one-thread walk handed work off";
        for (const testing::RuleExample& e :
             testing::TakenExamples(testing::kWindowsRuleExamples)) {  // every kind of file
            ASSERT_FALSE(oneThread.lists[static_cast<std::size_t>(e.category)].empty()) << e.path;
        }

        for (int run = 0; run < tree.readAheadRuns; ++run) {
            for (const unsigned threads : {2u, 3u, 8u}) {
                const WalkRecord readAhead = Walk(t.path(), threads);
                ASSERT_TRUE(SameWalk(oneThread, readAhead))
                    << "read-ahead run " << run << " on " << threads << " threads";
                EXPECT_EQ(readAhead.textsOnOtherThreads, 0u);
                handedOff += readAhead.subtreesHandedOff;
            }
        }
    }
    EXPECT_GT(handedOff, 0u) << "the read-ahead walk never handed a subtree to its second thread";
}

// Directories of these modes cannot be listed by a user without privileges; "r" can be listed,
// but nothing in it can be opened or looked at.
void MakeClosedDirectories(const TempDir& t) {
    struct Closed {
        const char* dir;
        mode_t mode;
    };
    const Closed closed[] = {{"a/none", 0},      {"a/x", 0111},        {"b/wx", 0333},
                             {"b/deep/r", 0444}, {"c/rw", 0666},       {"c/Temp/none", 0},
                             {"d/none", 0},      {"d/none/open", 0755}};
    for (int i = 0; i < 8; ++i) {
        const std::string n = std::to_string(i);
        for (const char* top : {"a", "b", "c", "d"}) {
            t.File(std::string(top) + "/before" + n + "/Temp/f.tmp", 3);
            t.File(std::string(top) + "/after" + n + "/g.TMP", 5);
        }
    }
    for (const Closed& c : closed) {
        t.File(std::string(c.dir) + "/in.tmp", 7);
        t.File(std::string(c.dir) + "/sub/Thumbs.db", 11);
    }
    ASSERT_EQ(::chmod(t.path().c_str(), 0755), 0);  // mkdtemp made it the owner's alone
    // closed from the bottom up, so each is still reachable while it is closed
    for (auto c = std::rbegin(closed); c != std::rend(closed); ++c) {
        ASSERT_EQ(::chmod((t / c->dir).c_str(), c->mode), 0) << c->dir;
    }
}

void MakeClosedRoot(const TempDir& t) {
    t.File("closed/Temp/a.tmp", 1);
    ASSERT_EQ(::chmod(t.path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod((t / "closed").c_str(), 0), 0);
}

void MakeDirectoryLinks(const TempDir& t) {
    for (int i = 0; i < 20; ++i) {
        t.File("real" + std::to_string(i) + "/Temp/a.tmp", 2);
        t.File("real" + std::to_string(i) + "/Recent/b.lnk", 3);
    }
    const struct {
        const char* link;
        const char* target;
    } links[] = {
        {"alias", "real3"},       // a sibling subtree with files of every kind above
        {"real5/Temp/up", ".."},  // up into the tree again
        {"real7/loop", "."},      // itself
        {"real9/root", "/"},      // out of the tree
        {"x.tmp", "real11"},      // a link that classifies: recorded as a file, not walked
        {"real13/Temp/back", "../../real2"},
        {"Temp", "real15/Temp"},
        {"dangling.tmp", "nowhere"},
    };
    for (const auto& l : links) {
        ASSERT_EQ(::symlink(l.target, (t / l.link).c_str()), 0) << l.link;
    }
}

void MakeWide(const TempDir& t) {
    t.File("a/Temp/first.tmp", 1);
    testing::MakeWideDirectory(t / "wide", 20000);
    t.File("z/Temp/last.tmp", 1);
}

// Thousands of small subtrees, hundreds of siblings at a time: the most there is to hand off.
void MakeManySubtrees(const TempDir& t) {
    for (int i = 0; i < 3000; ++i) {
        const std::string d = "g" + std::to_string(i / 300) + "/s" + std::to_string(i);
        t.File(d + (i % 3 == 0 ? "/Temp/x" : "/y.tmp"), static_cast<std::uint64_t>(i % 97));
    }
}

// Chains far deeper than any descriptor budget, with side chains branching off them, so that
// directories are closed and opened again below branches either thread may be in.
void MakeChains(const TempDir& t) {
    constexpr std::size_t kDepth = 400;
    for (int c = 0; c < 4; ++c) {
        const std::string top = "c" + std::to_string(c);
        t.File(top + "/before.tmp", 1);
        testing::MakeChain(t / top, kDepth, "d", "bottom.tmp");
        std::string at = top;
        for (std::size_t level = 1; level < kDepth; ++level) {
            at += "/d";
            if (level % 100 == 0) {
                t.File(at + "/Temp/side.txt", 2);
                testing::MakeChain(t / at, 150, "e", "end.TMP");
            }
        }
    }
}

struct TreeCase {
    const char* name;
    std::function<void(const TempDir&)> build;
    std::string walked = "";    // the root to walk, below the temporary directory; "": itself
    rlim_t softLimit = 0;       // the descriptor limit during the walks; 0: as it is
    bool unprivileged = false;  // walk as a user without privileges
    // What the one-thread walk must record, where that shows the tree is what the case is
    // about (the closed directories really closed to the walk, say); -1: not checked.
    int recorded = -1;
};

void PrintTo(const TreeCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadAheadTreeTest : public ::testing::TestWithParam<TreeCase> {};

TEST_P(ReadAheadTreeTest, GivesTheOneThreadWalksResultsAndTexts) {
    const TreeCase& tc = GetParam();
    TempDir t(TempDir::Where::Memory);
    if (tc.build) {
        tc.build(t);
    }
    if (::testing::Test::HasFatalFailure()) {
        return;
    }
    const std::string root = tc.walked.empty() ? t.path() : t / tc.walked;
    std::optional<testing::SoftDescriptorLimit> low;
    if (tc.softLimit != 0) {
        low.emplace(tc.softLimit);
    }
    const std::size_t budget = platform::StackSharing::ProcessDescriptorShare();
    const std::size_t before = testing::OpenDescriptorCount();
    WalkRecord oneThread;
    WalkRecord readAhead;
    const auto walkBoth = [&] {
        oneThread = Walk(root, 1, 3);
        readAhead = Walk(root, 4, 3);
    };
    if (tc.unprivileged) {
        if (!testing::RunUnprivileged(walkBoth)) {
            GTEST_SKIP() << "cannot take the file access of a user without privileges";
        }
    } else {
        walkBoth();
    }
    low.reset();

    if (tc.recorded >= 0) {
        ASSERT_EQ(RecordedCount(oneThread), static_cast<std::size_t>(tc.recorded));
    }
    EXPECT_TRUE(SameWalk(oneThread, readAhead));
    EXPECT_EQ(readAhead.textsOnOtherThreads, 0u);
    // The walk's directories, whichever thread holds them, stay within what one walker may hold,
    // give or take the one a walker may open for a moment before it closes another (the same slack
    // DeepChainTest allows).
    EXPECT_LE(oneThread.mostDescriptors, before + budget + 1);
    EXPECT_LE(readAhead.mostDescriptors, before + budget + 1);
    EXPECT_EQ(testing::OpenDescriptorCount(), before);
}

std::string CaseName(const ::testing::TestParamInfo<TreeCase>& info) {
    return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(
    , ReadAheadTreeTest,
    ::testing::Values(TreeCase{"empty_root", nullptr}, TreeCase{"missing_root", nullptr, "missing"},
                      TreeCase{"closed_root", MakeClosedRoot, "closed", 0, true, 0},
                      // only the files of the 64 open directories
                      TreeCase{"closed_directories", MakeClosedDirectories, "", 0, true, 64},
                      TreeCase{"directory_links", MakeDirectoryLinks},
                      TreeCase{"wide_directory", MakeWide},
                      TreeCase{"many_subtrees", MakeManySubtrees},
                      TreeCase{"chains_16_descriptors", MakeChains, "", 16},
                      TreeCase{"chains_64_descriptors", MakeChains, "", 64},
                      TreeCase{"chains_usual_limit", MakeChains}),
    CaseName);

// ---- a stop request while the second thread reads ahead ----

// Runs ScanDirectory(p) on a thread of its own and waits for it at most kWatchdog. False when
// it is still running then: it is left to run (all it uses it holds by shared pointers), so the
// test fails instead of hanging.
bool ScanReturns(ScanParams p) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> returned = done->get_future();
    std::thread walker([p = std::move(p), done]() mutable {
        EXPECT_EQ(ScanDirectory(std::move(p)), ScanEnd::Walked);
        done->set_value();
    });
    if (returned.wait_for(kWatchdog) != std::future_status::ready) {
        walker.detach();
        return false;
    }
    walker.join();
    return true;
}

// The threads of this process, once every thread that has ended is gone from /proc: a joined
// thread may stay listed for a moment after its join returned.
std::size_t SettledThreadCount(std::size_t expected) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    std::size_t n = testing::ThreadCount();
    while (n != expected && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        n = testing::ThreadCount();
    }
    return n;
}

bool IsPrefix(const std::vector<testing::RecordedFile>& part,
              const std::vector<testing::RecordedFile>& whole) {
    return part.size() <= whole.size() &&
           std::equal(part.begin(), part.end(), whole.begin(), SameFile);
}

// Stopped after the nth status text, each walk keeps only what it had found by then: every list
// a beginning of the whole walk's, each total the sum of its list's files, nothing from a
// directory the status line never showed, no text after the stop; and it gives back every
// descriptor and thread it took.
TEST(ReadAheadTest, StopWithReadAheadInFlightEndsTheWalkCleanly) {
    TempDir t(TempDir::Where::Memory);
    MakeRandomTree(t, 7, 2500, 6000, false, false);
    MakeManySubtrees(t);
    const WalkRecord whole = Walk(t.path(), 1);
    ASSERT_GT(whole.texts.size(), 10000u);
    std::map<std::string, std::uint64_t> sizes;
    for (const auto& list : whole.lists) {
        for (const testing::RecordedFile& f : list) {
            struct stat st {};
            ASSERT_EQ(::lstat(f.path.c_str(), &st), 0) << f.path;
            sizes[f.path] = static_cast<std::uint64_t>(st.st_size);
        }
    }

    // A runtime may start threads of its own at the first thread a process creates (the thread
    // sanitizer does): let that happen before threads are counted.
    std::thread([] {}).join();

    const std::size_t stops[] = {1, 2, 3, 40, 777, 5000, whole.texts.size() - 1};
    for (const unsigned walkThreads : {1u, 2u, 4u}) {
        for (const std::size_t n : stops) {
            SCOPED_TRACE(std::to_string(walkThreads) + "-thread" + " walk stopped at status text " +
                         std::to_string(n));
            auto sink = std::make_shared<RecordingSink>();
            auto state = std::make_shared<ScanState>();
            RecordingSink* texts = sink.get();
            ScanState* stop = state.get();
            sink->onText = [texts, stop, n](std::string_view) {
                if (texts->texts.size() == n) {
                    stop->stopRequested = true;
                }
            };
            ScanParams p;
            p.rules = RuleChoice::Windows;  // the trees here are laid out for them
            p.path = t.path();
            p.statusSink = sink;
            p.state = state;
            p.threads = walkThreads;

            const std::size_t descriptors = testing::OpenDescriptorCount();
            const std::size_t threads = testing::ThreadCount();
            ASSERT_TRUE(ScanReturns(std::move(p))) << "the walk went on after the stop request";
            EXPECT_EQ(testing::OpenDescriptorCount(), descriptors);
            EXPECT_EQ(SettledThreadCount(threads), threads);

            ASSERT_EQ(sink->texts.size(), n);
            EXPECT_TRUE(std::equal(sink->texts.begin(), sink->texts.end(), whole.texts.begin()));
            const std::set<std::string> shown(sink->texts.begin(), sink->texts.end());
            const testing::RecordedLists lists = testing::ResolvedLists(state->results);
            for (std::size_t c = 0; c < CATEGORY_COUNT; ++c) {
                const std::vector<testing::RecordedFile>& list = lists[c];
                EXPECT_TRUE(IsPrefix(list, whole.lists[c])) << "category " << c;
                std::uint64_t sum = 0;
                for (const testing::RecordedFile& f : list) {
                    sum += sizes[f.path];
                    const std::string dir = f.path.substr(0, f.path.rfind('/'));
                    EXPECT_EQ(shown.count(std::string(kScanningPrefix) + dir), 1u)
                        << "recorded from a directory not yet shown: " << f.path;
                }
                EXPECT_EQ(state->results.totals[c].load(), sum) << "category " << c;
            }
        }
    }
}

// ---- the worker ----

// Raises the completion flag only once both threads are through: all the lists, totals and
// texts are there when the flag is seen, and the finishing call comes after it.
TEST(ReadAheadTest, WorkerRaisesTheFlagAfterTheWholeWalk) {
    TempDir t(TempDir::Where::Memory);
    MakeRandomTree(t, 11, 1500, 3000, true, false);
    MakeManySubtrees(t);
    const WalkRecord expected = Walk(t.path(), 1);

    struct FinishSink : RecordingSink {
        std::shared_ptr<ScanState> state;
        std::atomic<bool> finished{false};
        std::atomic<bool> doneBeforeFinish{false};
        void ScanFinished() override {
            doneBeforeFinish = state->m_bScanDone.load(std::memory_order_acquire);
            finished.store(true, std::memory_order_release);
        }
    };
    auto sink = std::make_shared<FinishSink>();
    sink->state = std::make_shared<ScanState>();
    ScanParams p;
    p.rules = RuleChoice::Windows;  // the trees here are laid out for them
    p.path = t.path();
    p.statusSink = sink;
    p.state = sink->state;
    p.threads = 4;
    ASSERT_TRUE(StartScanThread(std::move(p)));

    const ScanState& state = *sink->state;
    const auto until = std::chrono::steady_clock::now() + kWatchdog;
    CategoryTotals last{};
    while (!state.m_bScanDone.load(std::memory_order_acquire)) {
        const CategoryTotals now = state.results.SnapshotTotals();
        for (std::size_t c = 0; c < CATEGORY_COUNT; ++c) {
            EXPECT_GE(now[c], last[c]) << "a total went down during the walk";
        }
        last = now;
        ASSERT_LT(std::chrono::steady_clock::now(), until) << "the worker never finished";
        std::this_thread::yield();
    }
    WalkRecord got;
    got.lists = testing::ResolvedLists(state.results);
    got.totals = state.results.SnapshotTotals();
    got.rootIdentity = state.results.rootIdentity;
    got.entriesSeen = state.entriesSeen.load(std::memory_order_relaxed);
    got.directoriesEntered = state.directoriesEntered.load(std::memory_order_relaxed);
    while (!sink->finished.load(std::memory_order_acquire)) {
        ASSERT_LT(std::chrono::steady_clock::now(), until) << "the finishing call never came";
        std::this_thread::yield();
    }
    got.texts = sink->texts;
    EXPECT_TRUE(sink->doneBeforeFinish.load());
    EXPECT_TRUE(SameWalk(expected, got));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Walks `root` on four threads, as the programs start a walk, under a limit on the address space
// a gigabyte above what the process holds, and ends the process: 0 when the walk recorded `files`
// temporary files and every thread allocated from the main arena.
[[noreturn]] void WalkUnderAnAddressLimit(const std::string& root, std::size_t files) {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    statm >> pages;
    rlimit limit{};
    limit.rlim_cur = pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) + (1ULL << 30);
    limit.rlim_max = RLIM_INFINITY;
    if (::setrlimit(RLIMIT_AS, &limit) != 0) {
        std::_Exit(3);
    }
    ScanParams p;
    p.rules = RuleChoice::Windows;  // the trees here are laid out for them
    p.path = root;
    p.state = std::make_shared<ScanState>();
    p.threads = 4;
    if (!StartScanThread(p)) {
        std::_Exit(4);
    }
    while (!p.state->m_bScanDone.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    char* info = nullptr;
    std::size_t size = 0;
    FILE* out = ::open_memstream(&info, &size);
    ::malloc_info(0, out);
    std::fclose(out);
    const std::string xml(info, size);
    std::free(info);
    std::size_t heaps = 0;
    for (std::size_t at = xml.find("<heap nr="); at != std::string::npos;
         at = xml.find("<heap nr=", at + 1)) {
        ++heaps;
    }
    std::_Exit(p.state->results.lists[CAT_TEMP_FILES].size() != files ? 1 : heaps != 1 ? 2 : 0);
}

#endif

// An arena of a thread's own reserves 64 MiB of address space: under a limit on it (ulimit -v),
// a walk on four threads ran out of it where one thread walks in a few megabytes.
TEST(ReadAheadTest, ThreadsShareOneArenaUnderAnAddressLimit) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers allocate on their own, and need more address space";
#else
    TempDir t;
    for (int d = 0; d < 100; ++d) {
        for (int f = 0; f < 10; ++f) {
            t.File("d" + std::to_string(d) + "/s/f" + std::to_string(f) + ".tmp", 1);
        }
    }
    // In a process of its own: the arenas earlier tests made would serve the walk's threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(WalkUnderAnAddressLimit(t.path(), 1000), ::testing::ExitedWithCode(0), "");
#endif
}

}  // namespace
}  // namespace clearnook
