#include "ui/cleanup_dlg.h"

#include "engine/delete.h"

#include <utility>

#include "engine/categories.h"

namespace clearnook {
namespace {

// The texts the controller shows, word for word.
constexpr std::string_view kCancelButtonText = "Cancel";
constexpr std::string_view kScanCompleteText =
    "Scan complete. Select the items to delete and click Delete Selected.";
constexpr std::string_view kConfirmDeleteText =
    "Are you sure you want to permanently remove the selected items?";
constexpr std::string_view kConfirmDeleteCaption = "Confirm Delete";
constexpr std::string_view kAboutCaption = "About Clearnook";
constexpr std::string_view kAboutText =
    "Clearnook 2.0\n"
    "Copyright (C) 2026 The Clearnook developers\n"
    "\n"
    "This program is FREEWARE.\n"
    "\n"
    "https://clearnook.org";

}  // namespace

std::string EngineDeletePass(const std::vector<int>& tickedCategories,
                             const CategoryResults& results, const std::string& root) {
    return RunDeletePass(tickedCategories, results, root).text;
}

CCleanupDlg::CCleanupDlg(CleanupView& view, DeletePass deletePass)
    : m_view(view),
      m_deletePass(std::move(deletePass)),
      // The wake runs on the worker thread under the mailbox's lock; closing the mailbox (at the
      // latest in the destructor) guarantees it never runs once the view may be gone.
      m_pMailbox(std::make_shared<StatusMailbox>([&view] { view.PostStatusWake(); })),
      m_scan{std::string(), m_pMailbox, std::make_shared<ScanState>()},
      m_results(m_scan.state->results) {}

CCleanupDlg::~CCleanupDlg() {
    m_scan.state->stopRequested.store(true, std::memory_order_relaxed);
    m_pMailbox->Close();
}

void CCleanupDlg::OnInitDialog(std::vector<DriveEntry> drives) {
    m_drives = std::move(drives);
    FillDriveList(m_view.DriveCombo(), m_drives);
    if (m_drives.empty()) {
        m_view.EnableScanButton(false);
    }
}

const DriveEntry* CCleanupDlg::SelectedDrive() {
    const std::optional<int> index = m_view.DriveCombo().SelectedDriveIndex();
    if (!index || *index < 0 || static_cast<std::size_t>(*index) >= m_drives.size()) {
        return nullptr;
    }
    return &m_drives[static_cast<std::size_t>(*index)];
}

void CCleanupDlg::OnOK() {
    if (m_bEnded) {
        return;
    }
    if (m_bScanning) {
        EndWithCancel();
        return;
    }
    const DriveEntry* drive = SelectedDrive();
    if (drive == nullptr) {
        return;  // an empty drive box: there is nothing to scan
    }
    m_view.EnableDriveBox(false);
    m_view.SetScanButtonText(kCancelButtonText);
    m_view.StartTimer(SCAN_TIMER_ID, SCAN_TIMER_PERIOD_MS);
    m_scan.path = ScanRootOf(*drive);
    m_view.StartWorker(m_scan);
    m_bScanning = true;
}

void CCleanupDlg::OnCancel() {
    if (!m_bEnded) {
        EndWithCancel();
    }
}

void CCleanupDlg::EndWithCancel() {
    // The walk may be anywhere, even blocked in the file system: ask it to stop and let it finish
    // on its own. Closing the mailbox keeps its last texts off a window that is going away.
    m_scan.state->stopRequested.store(true, std::memory_order_relaxed);
    m_pMailbox->Close();
    m_bEnded = true;
    m_view.EndDialog(DialogResult::Cancel);
}

void CCleanupDlg::OnTimer() {
    // A tick queued before the timer stopped must not rebuild the list: that would drop the ticks.
    if (GetState() != State::Scanning) {
        return;
    }
    // The flag first: the worker raises it after its last write, so when it is seen here the
    // rebuild below shows the final totals.
    const bool bScanDone = m_scan.state->m_bScanDone.load(std::memory_order_acquire);
    RebuildResultList(m_view.ResultList(), m_results.SnapshotTotals());
    if (!bScanDone) {
        return;
    }
    m_bComplete = true;
    m_view.StopTimer(SCAN_TIMER_ID);
    m_view.EnableScanButton(false);
    m_view.EnableDeleteButton(true);
    // Closed before the completion text is set, so no status text of the walk can follow it.
    m_pMailbox->Close();
    m_view.SetStatusText(kScanCompleteText);
    m_view.EnableCheckboxes();
}

void CCleanupDlg::OnResultClick() {
    if (m_bEnded) {
        return;
    }
    const std::optional<int> row = m_view.FirstSelectedRow();
    if (!row) {
        return;
    }
    const int category = m_view.RowItemData(*row);
    if (category >= 0 && category < CATEGORY_COUNT) {
        m_view.SetDescriptionText(CategoryDescription(category));
    }
}

void CCleanupDlg::OnDeleteSelected() {
    // The button is enabled in Complete only, and the lists may be read only once the walk has
    // finished.
    if (GetState() != State::Complete) {
        return;
    }
    // The question runs a modal loop of its own; the dialog may have been ended meanwhile.
    if (!m_view.AskYesNo(kConfirmDeleteText, kConfirmDeleteCaption) || m_bEnded) {
        return;
    }
    std::vector<int> ticked;
    const int rows = m_view.RowCount();
    for (int row = 0; row < rows; ++row) {
        if (m_view.IsRowTicked(row)) {
            ticked.push_back(m_view.RowItemData(row));
        }
    }
    const std::string report = m_deletePass(ticked, m_results, m_scan.path);
    m_view.ShowInformation(report, std::nullopt);
    m_bEnded = true;
    m_view.EndDialog(DialogResult::Ok);
}

void CCleanupDlg::OnAbout() {
    m_view.ShowInformation(kAboutText, kAboutCaption);
}

void CCleanupDlg::OnStatusWake() {
    if (std::optional<std::string> text = m_pMailbox->Take()) {
        m_view.SetStatusText(*text);
    }
    // The walk wakes us once more when it has finished: complete now rather than at the next
    // tick, up to a refresh period later.
    if (GetState() == State::Scanning &&
        m_scan.state->m_bScanDone.load(std::memory_order_acquire)) {
        OnTimer();
    }
}

CCleanupDlg::State CCleanupDlg::GetState() const {
    if (m_bEnded) {
        return State::Ended;
    }
    if (m_bComplete) {
        return State::Complete;
    }
    return m_bScanning ? State::Scanning : State::Ready;
}

const CategoryResults* CCleanupDlg::FinishedResults() const {
    return GetState() == State::Complete ? &m_results : nullptr;
}

}  // namespace clearnook
