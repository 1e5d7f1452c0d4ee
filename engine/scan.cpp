#include "engine/scan.h"

#include <new>
#include <system_error>
#include <thread>

#include "engine/path_classifier.h"
#include "engine/read_ahead_walk.h"
#include "engine/scan_output.h"
#include "platform/fs_services.h"

namespace clearnook {
namespace {

// The walk on one thread: lists each directory as it comes to it.
class Walk {
  public:
    explicit Walk(const ScanParams& params)
        : m_out(params),
          m_classifier(params.path),
          m_examiner(m_classifier),
          m_entries(*params.state) {
        m_dirs.SetExaminer(&m_examiner);
    }

    void Run(const std::string& root) {
        m_out.Begin();
        if (!m_dirs.OpenRoot(root)) {
            m_out.RootUnlistable(m_dirs.LastError());
            return;
        }
        m_out.RootEntered(m_dirs.RootIdentity());
        const std::atomic<bool>& stop = m_out.State().stopRequested;
        platform::DirEntry entry;
        while (!m_out.Outside()) {
            if (stop.load(std::memory_order_relaxed)) {
                return;
            }
            if (!m_dirs.NextEntry(entry)) {
                if (const int error = m_dirs.ListingError()) {
                    m_out.CutShort(error);
                }
                m_dirs.Leave();
                m_classifier.LeaveDirectory();
                m_out.Left();
                continue;
            }
            m_entries.Count();
            if (entry.type == platform::EntryType::Directory) {
                EnterDirectory(entry.name);
            } else if (entry.type == platform::EntryType::File) {
                VisitFile(entry);
            }
        }
    }

  private:
    void EnterDirectory(std::string_view name) {
        const std::string_view childName = m_out.Push(name);
        // The classifier goes first: the stack's examiner classifies the child's files as it
        // reads the child's listing.
        m_classifier.EnterDirectory(childName);
        switch (m_dirs.EnterChild(childName)) {
            case platform::DirectoryStack::EnterResult::Entered:
                m_out.Entered();
                break;
            case platform::DirectoryStack::EnterResult::Unlistable:
                m_classifier.LeaveDirectory();
                m_out.Unlistable(m_dirs.LastError());
                break;
            case platform::DirectoryStack::EnterResult::Skipped:
                m_classifier.LeaveDirectory();
                m_out.Skipped();
                break;
        }
    }

    void VisitFile(const platform::DirEntry& entry) {
        const std::optional<FoundEntry> found = ExamineFile(m_classifier, m_dirs, entry);
        if (found) {
            m_out.Record(found->category, found->info.size, found->info.identity, entry.name);
        }
    }

    ScanOutput m_out;
    PathClassifier m_classifier;
    CategoryExaminer m_examiner;
    platform::DirectoryStack m_dirs;
    EntryCounter m_entries;
};

}  // namespace

void ScanDirectory(ScanParams params) {
    if (params.readAhead && RunReadAheadWalk(params)) {
        return;
    }
    Walk walk(params);
    walk.Run(params.path);
}

unsigned ScanThreadProc(ScanParams shared) {
    // Memory can run out anywhere in a walk (the lists, a huge listing). The walk's results are
    // then incomplete: they are never marked done, so nothing is ever deleted on their strength.
    try {
        ScanDirectory(shared);
    } catch (const std::bad_alloc&) {
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
    // std::thread reports a thread it cannot create only by throwing.
    try {
        std::thread(ScanThreadProc, std::move(params)).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

}  // namespace clearnook
