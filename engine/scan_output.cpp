#include "engine/scan_output.h"

#include <algorithm>
#include <atomic>

namespace clearnook {

ScanOutput::ScanOutput(const ScanParams& params)
    : m_state(*params.state), m_sink(params.statusSink.get()) {
    m_status.append(kScanningPrefix).append(params.path);
}

void ScanOutput::Send() {
    if (m_sink != nullptr) {
        m_sink->EditStatusText(m_sentKeep, std::string_view(m_status).substr(m_sentKeep));
    }
    m_sentKeep = m_status.size();
}

void ScanOutput::CutBack(std::size_t length) {
    m_status.resize(length);
    m_sentKeep = std::min(m_sentKeep, length);
}

void ScanOutput::RootEntered(const platform::RootIdentity& identity) {
    m_state.results.rootIdentity = identity;
    m_state.directoriesEntered.store(++m_directories, std::memory_order_relaxed);
    const std::string_view root = std::string_view(m_status).substr(kScanningPrefix.size());
    if constexpr (platform::kRecordLowerCasePaths) {
        m_lowered.clear();
        platform::AppendLowered(m_lowered, root);
        m_state.results.directories.SetRoot(m_lowered);
    } else {
        m_state.results.directories.SetRoot(root);
    }
    m_frames.push_back({kScanningPrefix.size(), m_status.size(), RecordedDirectories::kRoot});
}

void ScanOutput::NoteUnreadable(int error) {
    CategoryResults& results = m_state.results;
    if (results.unreadableDirectories++ == 0) {
        results.firstUnreadable = m_status.substr(kScanningPrefix.size());
        results.firstUnreadableReason = platform::ErrorText(error);
    }
}

void ScanOutput::RootUnlistable(int error) {
    NoteUnreadable(error);
}

void ScanOutput::CutShort(int error) {
    NoteUnreadable(error);
}

std::string_view ScanOutput::Push(std::string_view name) {
    platform::AppendPathComponent(m_status, name);
    m_nameAt = m_status.size() - name.size();
    return {m_status.data() + m_nameAt, name.size()};
}

void ScanOutput::Entered() {
    m_state.directoriesEntered.store(++m_directories, std::memory_order_relaxed);
    Send();
    m_frames.push_back({m_nameAt, m_status.size(), kNotRecorded});
}

void ScanOutput::Unlistable(int error) {
    NoteUnreadable(error);
    Send();
    CutBackToTop();
    Send();
}

void ScanOutput::Skipped() {
    CutBackToTop();
}

void ScanOutput::Left() {
    m_frames.pop_back();
    if (!m_frames.empty()) {
        CutBackToTop();
        Send();
    }
}

std::uint32_t ScanOutput::CurrentDirectory() {
    std::size_t first = m_frames.size() - 1;
    while (m_frames[first].recorded == kNotRecorded) {
        --first;  // the root's is always there
    }
    RecordedDirectories& dirs = m_state.results.directories;
    for (std::size_t i = first + 1; i < m_frames.size(); ++i) {
        Frame& f = m_frames[i];
        std::string_view name(m_status.data() + f.nameAt, f.end - f.nameAt);
        if constexpr (platform::kRecordLowerCasePaths) {
            m_lowered.clear();
            platform::AppendLowered(m_lowered, name);
            name = m_lowered;
        }
        f.recorded = dirs.Add(m_frames[i - 1].recorded, name);
    }
    return m_frames.back().recorded;
}

void ScanOutput::Record(CleanupCategory category, std::uint64_t size,
                        const platform::FileIdentity& identity, std::string_view name) {
    const auto c = static_cast<std::size_t>(category);
    FoundFile file{CurrentDirectory(), {}, identity};
    if constexpr (platform::kRecordLowerCasePaths) {
        platform::AppendLowered(file.name, name);
    } else {
        file.name.assign(name);
    }
    m_state.results.lists[c].push_back(std::move(file));
    std::atomic<std::uint64_t>& total = m_state.results.totals[c];
    total.store(total.load(std::memory_order_relaxed) + size, std::memory_order_relaxed);
}

}  // namespace clearnook
