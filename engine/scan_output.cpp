#include "engine/scan_output.h"

#include <atomic>

namespace clearnook {

namespace {
constexpr char kSep = platform::kPathSeparator;
}

ScanOutput::ScanOutput(const ScanParams& params)
    : m_state(*params.state), m_sink(params.statusSink.get()) {
    m_status.append(kScanningPrefix).append(params.path);
}

void ScanOutput::Send() {
    if (m_sink != nullptr) {
        m_sink->SetStatusText(m_status);
    }
}

void ScanOutput::RootEntered(const platform::FileIdentity& identity) {
    m_state.results.rootIdentity = identity;
    m_state.directoriesEntered.store(++m_directories, std::memory_order_relaxed);
    m_frames.push_back(m_status.size());
}

std::string_view ScanOutput::Push(std::string_view name) {
    if (m_status.back() != kSep) {
        m_status.push_back(kSep);
    }
    m_status.append(name);
    return {m_status.data() + m_status.size() - name.size(), name.size()};
}

void ScanOutput::Entered() {
    m_state.directoriesEntered.store(++m_directories, std::memory_order_relaxed);
    Send();
    m_frames.push_back(m_status.size());
}

void ScanOutput::NoteUnreadable(int error) {
    CategoryResults& results = m_state.results;
    if (results.unreadableDirectories++ == 0) {
        results.firstUnreadable = m_status.substr(kScanningPrefix.size());
        results.firstUnreadableReason = platform::ErrorText(error);
    }
}

void ScanOutput::RootUnlistable(int error) { NoteUnreadable(error); }

void ScanOutput::CutShort(int error) { NoteUnreadable(error); }

void ScanOutput::Unlistable(int error) {
    NoteUnreadable(error);
    Send();
    CutBackToTop();
    Send();
}

void ScanOutput::Skipped() { CutBackToTop(); }

void ScanOutput::Left() {
    m_frames.pop_back();
    if (!m_frames.empty()) {
        CutBackToTop();
        Send();
    }
}

std::string ScanOutput::PathOf(std::string_view name) const {
    const std::string_view dir = std::string_view(m_status).substr(kScanningPrefix.size());
    std::string path;
    path.reserve(dir.size() + 1 + name.size());
    path.append(dir);
    if (path.empty() || path.back() != kSep) {
        path.push_back(kSep);
    }
    path.append(name);
    return path;
}

void ScanOutput::Record(CleanupCategory category, std::uint64_t size,
                        const platform::FileIdentity& identity, std::string path) {
    const auto c = static_cast<std::size_t>(category);
    m_state.results.lists[c].push_back(FoundFile{std::move(path), identity});
    std::atomic<std::uint64_t>& total = m_state.results.totals[c];
    total.store(total.load(std::memory_order_relaxed) + size, std::memory_order_relaxed);
}

std::optional<FoundEntry> ExamineFile(PathClassifier& classifier, platform::DirectoryStack& dirs,
                                      std::string_view name) {
    const std::optional<CleanupCategory> category = classifier.Classify(name);
    if (!category) {
        return std::nullopt;
    }
    const std::optional<platform::FileInfo> info = dirs.StatEntry(name);
    if (!info) {
        return std::nullopt;  // gone since the listing was read
    }
    return FoundEntry{*category, *info};
}

}  // namespace clearnook
