// The main dialog's behaviour, without a toolkit: starting the scan, following it on a timer,
// finishing it, descriptions on click, the delete pass and its report, About, cancel. It reaches
// its window only through CleanupView; each front end's window implements that view, owns one
// CCleanupDlg and routes its messages to the handlers below.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/results.h"
#include "engine/scan.h"
#include "ui/drive_list.h"
#include "ui/status_mailbox.h"

namespace clearnook {

// The refresh timer: its id and its period.
inline constexpr int SCAN_TIMER_ID = 0;
inline constexpr unsigned SCAN_TIMER_PERIOD_MS = 100;

// How the dialog ends: OK after a delete pass, Cancel otherwise.
enum class DialogResult { Ok, Cancel };

// The window operations the controller uses. Implemented by each front end's window (and by a
// fake in tests). Every operation is called on the UI thread, except PostStatusWake.
class CleanupView {
  public:
    virtual ~CleanupView() = default;

    // Enable or disable the drive box, the Scan/Cancel button, the Delete Selected button.
    virtual void EnableDriveBox(bool enable) = 0;
    virtual void EnableScanButton(bool enable) = 0;
    virtual void EnableDeleteButton(bool enable) = 0;

    // Set the Scan/Cancel button's text, the status line's text, the description area's text.
    virtual void SetScanButtonText(std::string_view text) = 0;
    virtual void SetStatusText(std::string_view text) = 0;
    virtual void SetDescriptionText(std::string_view text) = 0;

    // The drive box: filled once at start with the texts of the controller's entries, then asked
    // which index is selected.
    virtual DriveBox& DriveCombo() = 0;

    // The result list, which RebuildResultList empties and refills; turn on its checkboxes.
    virtual ResultListView& ResultList() = 0;
    virtual void EnableCheckboxes() = 0;

    // The first selected row, if any; the number of rows; whether row `row` is ticked; the item
    // data of row `row` (its category). `row` is below RowCount().
    [[nodiscard]] virtual std::optional<int> FirstSelectedRow() = 0;
    [[nodiscard]] virtual int RowCount() = 0;
    [[nodiscard]] virtual bool IsRowTicked(int row) = 0;
    [[nodiscard]] virtual int RowItemData(int row) = 0;

    // Start the timer `id`, ticking every `periodMs` into CCleanupDlg::OnTimer; stop it.
    virtual void StartTimer(int id, unsigned periodMs) = 0;
    virtual void StopTimer(int id) = 0;

    // Start the worker thread on ScanThreadProc(params) (StartScanThread does). Nobody waits for
    // it; the params hold the shared state that keeps it safe after the window is gone.
    virtual void StartWorker(const ScanParams& params) = 0;

    // A question with Yes and No buttons, Yes the default, the exclamation icon. True for Yes
    // only: a box dismissed otherwise, or that cannot be shown, answers No.
    [[nodiscard]] virtual bool AskYesNo(std::string_view text, std::string_view caption) = 0;

    // A message with an OK button and the information icon. Without a caption of its own the box
    // shows the application's name (the executable's base name).
    virtual void ShowInformation(std::string_view text,
                                 std::optional<std::string_view> caption) = 0;

    // End the modal dialog with `result`; the program ends after it.
    virtual void EndDialog(DialogResult result) = 0;

    // Called on the worker thread when status text is waiting: arrange for
    // CCleanupDlg::OnStatusWake to run on the UI thread (a queued call, a posted message) and
    // return at once. Must not call into the controller.
    virtual void PostStatusWake() = 0;
};

// The delete pass as the controller runs it: removes the recorded files of the ticked categories
// (item data of the ticked rows, in row order) below `root` and returns the report text.
using DeletePass =
    std::function<std::string(const std::vector<int>& tickedCategories,
                              const CategoryResults& results, const std::string& root)>;

// The engine's delete pass, the one the dialog runs unless it is given another.
[[nodiscard]] std::string EngineDeletePass(const std::vector<int>& tickedCategories,
                                           const CategoryResults& results, const std::string& root);

// The controller half of the main dialog. Lives on the UI thread, for as long as its window; the
// scan state it hands the worker is shared, so the window may close while the walk goes on.
class CCleanupDlg {
  public:
    // Ready, Scanning, Complete, then Ended once the dialog has been told to end.
    enum class State { Ready, Scanning, Complete, Ended };

    // `view` must outlive the controller. `deletePass` runs the delete pass (tests give their own).
    explicit CCleanupDlg(CleanupView& view, DeletePass deletePass = EngineDeletePass);
    // Asks a walk still running to stop and closes the status mailbox; never waits for the walk.
    ~CCleanupDlg();
    CCleanupDlg(const CCleanupDlg&) = delete;
    CCleanupDlg& operator=(const CCleanupDlg&) = delete;

    // Keeps `drives`, fills the drive box with their texts and selects the first; with no drive
    // at all the Scan button is disabled, since a scan of nothing would never complete.
    void OnInitDialog(std::vector<DriveEntry> drives);

    // IDOK, the Scan/Cancel button. In Ready with a drive selected: starts the scan. In Scanning
    // or Complete: ends the dialog with Cancel, asking the walk to stop.
    void OnOK();

    // IDCANCEL, the close box or Escape, in any state: ends the dialog with Cancel, asking a walk
    // still running to stop. Never waits for it.
    void OnCancel();

    // The refresh timer's tick: rebuilds the result list from the totals and, once the walk has
    // finished, moves to Complete. Ticks outside Scanning change nothing.
    void OnTimer();

    // A click in the result list: shows the description of the first selected row, if any.
    void OnResultClick();

    // Delete Selected, in Complete: after a Yes, runs the delete pass over the ticked rows, shows
    // its report and ends the dialog with OK.
    void OnDeleteSelected();

    // The About box, in any state. Changes nothing.
    void OnAbout();

    // The wake PostStatusWake arranged: shows the newest status text of the walk, if any, and
    // completes at once (as the refresh tick would) when the walk has finished.
    void OnStatusWake();

    [[nodiscard]] State GetState() const;

    // What the walk recorded, in Complete only (null in any other state): the lists may be read
    // once the walk has finished, and after a delete pass they name files that are gone.
    [[nodiscard]] const CategoryResults* FinishedResults() const;

    // True once the walk has raised its completion flag: a window that holds status texts back
    // to spare the UI thread lets the wake through at once then, so completion is not delayed.
    [[nodiscard]] bool WalkFinished() const {
        return m_scan.state->m_bScanDone.load(std::memory_order_acquire);
    }

  private:
    CleanupView& m_view;
    DeletePass m_deletePass;
    // The drive box's entries, by their index in the box: the window keeps only the texts.
    std::vector<DriveEntry> m_drives;
    bool m_bScanning = false;  // a scan was started in this run; never reset
    bool m_bComplete = false;  // the tick that saw the walk finished has run
    bool m_bEnded = false;     // EndDialog has been called
    std::shared_ptr<StatusMailbox> m_pMailbox;
    ScanParams m_scan;           // the worker's record; m_scan.state is shared with the worker
    CategoryResults& m_results;  // what the walk found, inside m_scan.state

    // The entry selected in the drive box; null when none is, or the box's index names none
    // of m_drives.
    [[nodiscard]] const DriveEntry* SelectedDrive();
    void EndWithCancel();
};

}  // namespace clearnook
