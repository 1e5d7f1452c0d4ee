#include "engine/scan.h"

#include <thread>
#include <vector>

#include "engine/path_classifier.h"
#include "platform/fs_services.h"

namespace clearnook {
namespace {

constexpr char kSep = platform::kPathSeparator;

// One directory on the walk's current path: where its own path ends in the status text.
struct Frame {
    std::size_t statusLen;
};

// The walk's two views of the current path, grown and cut back as it moves: the status text
// ("Scanning " + path as enumerated), and the classifier's form of it.
class Walk {
public:
    explicit Walk(const ScanParams& params)
        : m_state(*params.state), m_sink(params.statusSink.get()), m_classifier(params.path) {
        m_status.append(kScanningPrefix).append(params.path);
    }

    void Run(const std::string& root) {
        SendStatus();
        if (!m_dirs.OpenRoot(root)) {
            return;
        }
        m_state.results.rootIdentity = m_dirs.RootIdentity();
        m_frames.push_back({m_status.size()});
        platform::DirEntry entry;
        while (!m_frames.empty()) {
            if (m_state.stopRequested.load(std::memory_order_relaxed)) {
                return;
            }
            if (!m_dirs.NextEntry(entry)) {
                LeaveDirectory();
            } else if (entry.type == platform::EntryType::Directory) {
                EnterDirectory(entry.name);
            } else if (entry.type == platform::EntryType::File) {
                VisitFile(entry.name);
            }
        }
    }

private:
    void SendStatus() {
        if (m_sink != nullptr) {
            m_sink->SetStatusText(m_status);
        }
    }

    void CutBackToTop() {
        m_status.resize(m_frames.back().statusLen);
    }

    void EnterDirectory(std::string_view name) {
        // The name lives in the listing, which entering a child may move: copy it first.
        if (m_status.back() != kSep) {
            m_status.push_back(kSep);
        }
        m_status.append(name);
        const std::string_view childName(m_status.data() + m_status.size() - name.size(),
                                         name.size());
        switch (m_dirs.EnterChild(childName)) {
            case platform::DirectoryStack::EnterResult::Entered:
                SendStatus();
                m_frames.push_back({m_status.size()});
                m_classifier.EnterDirectory(childName);
                break;
            case platform::DirectoryStack::EnterResult::Unlistable:
                // Still a directory the walk met: the line shows it, then its parent again.
                SendStatus();
                CutBackToTop();
                SendStatus();
                break;
            case platform::DirectoryStack::EnterResult::Skipped:
                CutBackToTop();
                break;
        }
    }

    void LeaveDirectory() {
        m_dirs.Leave();
        m_frames.pop_back();
        m_classifier.LeaveDirectory();
        if (!m_frames.empty()) {
            CutBackToTop();
            SendStatus();
        }
    }

    void VisitFile(std::string_view name) {
        const std::optional<CleanupCategory> category = m_classifier.Classify(name);
        if (!category) {
            return;
        }
        const std::optional<platform::FileInfo> info = m_dirs.StatEntry(name);
        if (!info) {
            return;  // gone since the listing was read
        }
        FoundFile found;
        if constexpr (platform::kRecordLowerCasePaths) {
            const std::string_view dir = m_classifier.LowerPath();
            const std::string_view lowerName = m_classifier.LowerName();
            found.path.reserve(dir.size() + lowerName.size());
            found.path.append(dir).append(lowerName);
        } else {
            const std::string_view dir = std::string_view(m_status).substr(kScanningPrefix.size());
            found.path.reserve(dir.size() + 1 + name.size());
            found.path.append(dir);
            if (found.path.empty() || found.path.back() != kSep) {
                found.path.push_back(kSep);
            }
            found.path.append(name);
        }
        found.identity = info->identity;
        const auto c = static_cast<std::size_t>(*category);
        m_state.results.lists[c].push_back(std::move(found));
        std::atomic<std::uint64_t>& total = m_state.results.totals[c];
        total.store(total.load(std::memory_order_relaxed) + info->size, std::memory_order_relaxed);
    }

    ScanState& m_state;
    StatusSink* m_sink;
    PathClassifier m_classifier;
    platform::DirectoryStack m_dirs;
    std::vector<Frame> m_frames;
    std::string m_status;
};

}  // namespace

void ScanDirectory(ScanParams params) {
    Walk walk(params);
    walk.Run(params.path);
}

unsigned ScanThreadProc(ScanParams shared) {
    ScanDirectory(shared);
    shared.state->m_bScanDone.store(true, std::memory_order_release);
    if (shared.statusSink) {
        shared.statusSink->ScanFinished();
    }
    return 0;
}

void StartScanThread(ScanParams params) {
    std::thread(ScanThreadProc, std::move(params)).detach();
}

}  // namespace clearnook

namespace clearnook::scan_testing {

std::uint64_t HandOffCount() { return 0; }

}  // namespace clearnook::scan_testing
