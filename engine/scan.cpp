#include "engine/scan.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <thread>

#include "engine/path_classifier.h"
#include "engine/read_ahead_walk.h"
#include "engine/scan_output.h"
#include "engine/tree_walker.h"
#include "platform/fs_services.h"

namespace clearnook {
namespace {

// The walk on one thread: lists each directory as it comes to it and puts out what it meets at
// once.
void WalkOnOneThread(const ScanParams& params) {
    ScanOutput out(params);
    out.Begin();
    TreeWalker walker(out, PathClassifier(params.path, params.state->results.rules), *params.state);
    if (!walker.OpenRoot(params.path)) {
        return;
    }
    while (walker.Walk() == TreeWalker::Progress::More) {
    }
}

}  // namespace

unsigned DefaultWalkThreads() {
    // On a cold cache a thread mostly waits for the disk, and more reads in flight pay far past
    // the processors (the benchmark corpus on two: 0.92 s on two threads, 0.36 s on sixteen).
    // The threads beyond the processors join in only while the processors stay idle, so on a
    // hot cache sixteen cost what two do.
    const unsigned cpus = std::max(1u, std::thread::hardware_concurrency());
    return std::clamp(8 * cpus, 8u, 16u);
}

RuleSet ResolveRules(const ScanParams& params) {
    if (!platform::kClassifyRootText) {  // Linux: the program's rules are the tree's
        switch (params.rules) {
            case RuleChoice::Windows:
                return RuleSet::Windows;
            case RuleChoice::Linux:
                return RuleSet::Linux;
            case RuleChoice::Auto:
                return platform::IsWindowsFileSystem(params.path) ? RuleSet::Windows
                                                                  : RuleSet::Linux;
        }
    }
    return RuleSet::Windows;
}

ScanEnd ScanDirectory(const ScanParams& params) {
    params.state->results.rules = ResolveRules(params);
    const unsigned threads = params.threads != 0 ? params.threads : DefaultWalkThreads();
    if (threads > 1) {
        switch (RunReadAheadWalk(params, threads)) {
            case ReadAheadEnd::Walked:
                return ScanEnd::Walked;
            case ReadAheadEnd::OutOfMemory:
                return ScanEnd::OutOfMemory;
            case ReadAheadEnd::NotRun:
                break;
        }
    }
    WalkOnOneThread(params);
    return ScanEnd::Walked;
}

unsigned ScanThreadProc(const ScanParams& shared) {
    // Memory can run out anywhere in a walk (the lists, a huge listing). The walk's results are
    // then incomplete: they are never marked done, so nothing is ever deleted on their strength.
    ScanEnd end = ScanEnd::Walked;
    try {
        end = ScanDirectory(shared);
    } catch (const std::bad_alloc&) {  // how the containers and new say memory ran out
        end = ScanEnd::OutOfMemory;
    }
    if (end == ScanEnd::OutOfMemory) {
        shared.state->outOfMemory.store(true, std::memory_order_release);
        return 0;
    }
    shared.state->m_bScanDone.store(true, std::memory_order_release);
    if (shared.statusSink) {
        shared.statusSink->ScanFinished();
    }
    return 0;
}

bool StartScanThread(ScanParams params) {
    PrepareForWalkThreads();  // while no walk thread shares the table or allocates
    // std::thread reports a thread it cannot create only by throwing.
    try {
        std::thread(ScanThreadProc, std::move(params)).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

}  // namespace clearnook
