#include "engine/scan.h"

#include <thread>
#include <vector>

#include "platform/fs_services.h"

namespace clearnook {
namespace {

constexpr char kSep = platform::kPathSeparator;

// One directory on the walk's current path: where its own path ends in the two path buffers,
// and which path markers it carries.
struct Frame {
    std::size_t statusLen;
    std::size_t lowerLen;
    PathMarkers markers;
};

// The walk's two views of the current path, grown and cut back as it moves: the status text
// ("Scanning " + path as enumerated), and the classification form (backslashes, lowered, with a
// trailing backslash).
class Walk {
public:
    explicit Walk(const ScanParams& params)
        : m_state(*params.state), m_sink(params.statusSink.get()) {
        m_status.append(kScanningPrefix).append(params.path);
        AppendClassificationForm(m_lower, params.path);
        if (m_lower.empty() || m_lower.back() != '\\') {
            m_lower.push_back('\\');
        }
    }

    void Run(const std::string& root) {
        SendStatus();
        if (!m_dirs.OpenRoot(root)) {
            return;
        }
        m_state.results.rootIdentity = m_dirs.RootIdentity();
        m_frames.push_back({m_status.size(), m_lower.size(), FindPathMarkers(m_lower)});
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
    static void AppendClassificationForm(std::string& out, std::string_view path) {
        const std::size_t at = out.size();
        platform::AppendLowered(out, path);
        for (std::size_t i = at; i < out.size(); ++i) {
            if (out[i] == kSep) {
                out[i] = '\\';
            }
        }
    }

    void SendStatus() {
        if (m_sink != nullptr) {
            m_sink->SetStatusText(m_status);
        }
    }

    void CutBackToTop() {
        m_status.resize(m_frames.back().statusLen);
        m_lower.resize(m_frames.back().lowerLen);
    }

    void EnterDirectory(std::string_view name) {
        // The name lives in the listing, which entering a child may move: copy it first.
        if (m_status.back() != kSep) {
            m_status.push_back(kSep);
        }
        m_status.append(name);
        const std::size_t parentLowerLen = m_lower.size();
        AppendClassificationForm(m_lower, name);
        m_lower.push_back('\\');
        const std::string_view childName(m_status.data() + m_status.size() - name.size(),
                                         name.size());
        switch (m_dirs.EnterChild(childName)) {
            case platform::DirectoryStack::EnterResult::Entered:
                SendStatus();
                m_frames.push_back({m_status.size(), m_lower.size(),
                                    ExtendPathMarkers(m_frames.back().markers, m_lower,
                                                      parentLowerLen)});
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
        if (!m_frames.empty()) {
            CutBackToTop();
            SendStatus();
        }
    }

    void VisitFile(std::string_view name) {
        m_name.clear();
        AppendClassificationForm(m_name, name);
        std::optional<CleanupCategory> category;
        if (m_name.find('\\') == std::string::npos) {
            category = ClassifyWithMarkers(m_frames.back().markers, m_name);
        } else {
            // A name holding a backslash can complete a marker on its own: classify the whole path.
            m_full.assign(m_lower).append(m_name);
            category = ClassifyFile(m_full, m_name);
        }
        if (!category) {
            return;
        }
        const std::optional<platform::FileInfo> info = m_dirs.StatEntry(name);
        if (!info) {
            return;  // gone since the listing was read
        }
        FoundFile found;
        if constexpr (platform::kRecordLowerCasePaths) {
            found.path.reserve(m_lower.size() + m_name.size());
            found.path.append(m_lower).append(m_name);
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
    platform::DirectoryStack m_dirs;
    std::vector<Frame> m_frames;
    std::string m_status;
    std::string m_lower;
    std::string m_name;
    std::string m_full;
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
