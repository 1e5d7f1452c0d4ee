#include "engine/tree_walker.h"

#include <chrono>
#include <utility>

namespace clearnook {

namespace {

// Entries per call of Walk: what a reader goes through between looks at the rest of the walk.
constexpr int kBatchEntries = 128;

}  // namespace

TreeWalker::TreeWalker(WalkSink& sink, PathClassifier classifier, ScanState& state)
    : m_sink(sink),
      m_classifier(std::move(classifier)),
      m_entries(state),
      m_now(static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                           std::chrono::system_clock::now().time_since_epoch())
                                           .count())) {
    m_dirs.SetExaminer(&m_examiner);
}

void TreeWalker::CheckSharedTemporary() {
    if (m_classifier.AwaitsSharedTemporaryCheck()) {
        m_classifier.ConfirmSharedTemporary(m_dirs.TopIsSharedTemporary());
    }
}

bool TreeWalker::OpenRoot(const std::string& path) {
    if (!m_dirs.OpenRoot(path)) {
        m_sink.RootUnlistable(m_dirs.LastError());
        return false;
    }
    m_sink.RootEntered(m_dirs.RootIdentity());
    return true;
}

TreeWalker::Progress TreeWalker::Walk() {
    platform::DirEntry entry;
    for (int n = 0; n < kBatchEntries; ++n) {
        if (!m_sink.BeforeEntry()) {
            return Progress::Stopped;
        }
        if (!m_dirs.NextEntry(entry)) {
            if (const int error = m_dirs.ListingError()) {
                m_sink.CutShort(error);
            }
            m_dirs.Leave();
            m_classifier.LeaveDirectory();
            m_sink.Left();
            if (m_dirs.Depth() == 0) {
                return Progress::Done;
            }
            continue;
        }
        if (entry.tag == platform::kUnexamined) {  // the examiner counted the others
            m_entries.Count();
        }
        switch (entry.type) {
            case platform::EntryType::Directory:
                EnterDirectory(entry.name);
                break;
            case platform::EntryType::File:
                VisitFile(entry);
                break;
            case platform::EntryType::HandedOff:
                m_sink.HandedOff();
                break;
            case platform::EntryType::Other:
                break;
        }
    }
    return Progress::More;
}

void TreeWalker::EnterDirectory(std::string_view name) {
    const std::string_view copy = m_sink.Push(name);
    // The classifier goes first: the stack's examiner classifies the child's files as it reads
    // the child's listing.
    m_classifier.EnterDirectory(copy);
    switch (m_dirs.EnterChild(copy)) {
        case platform::DirectoryStack::EnterResult::Entered:
            CheckSharedTemporary();
            m_sink.Entered();
            break;
        case platform::DirectoryStack::EnterResult::Unlistable:
            m_classifier.LeaveDirectory();
            m_sink.Unlistable(m_dirs.LastError());
            break;
        case platform::DirectoryStack::EnterResult::Skipped:
            m_classifier.LeaveDirectory();
            m_sink.Skipped();
            break;
    }
}

// Its category comes from the stack's examiner, or from the classifier for a file the stack did
// not examine; its size and identity only for a file of a category (none: gone since the listing
// was read). A category that depends on the file's age is settled by its times.
void TreeWalker::VisitFile(const platform::DirEntry& entry) {
    Verdict verdict = entry.tag == platform::kUnexamined ? m_classifier.Classify(entry.name)
                                                         : VerdictOf(entry.tag);
    if (verdict.matched && verdict.olderThanDays != 0 && entry.tag != platform::kUnexamined) {
        // Tagged while the listing was read, before the walk knew whether its directory is a
        // shared temporary one.
        verdict = m_classifier.Classify(entry.name);
    }
    if (!verdict.matched) {
        return;
    }
    const std::optional<platform::FileInfo> info = m_dirs.StatEntry(entry.name);
    if (!info) {
        return;
    }
    if (verdict.olderThanDays != 0) {
        constexpr std::uint64_t kDay = 86'400ULL * 1'000'000'000ULL;
        const std::uint64_t age = verdict.olderThanDays * kDay;
        if (info->newestTime == 0 || m_now < age || info->newestTime > m_now - age) {
            return;  // in use within the age, or times unknown
        }
    }
    m_sink.Record(verdict.category, info->size, info->identity, entry.name);
}

}  // namespace clearnook
