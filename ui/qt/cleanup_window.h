// The Qt window half of the main dialog: the controls of dialog template 102 laid out in dialog
// units of the window's font, the view operations the controller uses, and the routing of the
// window's events to the controller's handlers.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QIcon>
#include <QPointer>
#include <QTimer>

#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "ui/cleanup_dlg.h"
#include "ui/dialog_template.h"
#include "ui/qt/file_list_dialog.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace clearnook::qt {

// Where a control of the template sits, in dialog units.
using DialogUnitsRect = dialog_template::Rect;

// The dialog base units of `font` as the Windows dialog manager takes them: the average
// character width and the character height, in pixels.
[[nodiscard]] QSize DialogBaseUnits(const QFont& font);

// Converts dialog units to pixels for `font` as the Windows dialog manager does: a horizontal
// unit is a quarter of the font's average character width, a vertical unit an eighth of its
// height.
[[nodiscard]] QRect DialogUnitsToPixels(const QFont& font, const DialogUnitsRect& r);

// The main dialog. Owns its controller (CCleanupDlg); lives on the UI thread. `drives` lists the
// drive box's entries at start (tests give a folder of their own).
class CleanupWindow final : public QDialog,
                            public CleanupView,
                            private ResultListView,
                            private DriveBox {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CleanupWindow)

  public:
    explicit CleanupWindow(
        const DriveSource& drives = [] { return ListDriveEntries(); }, QWidget* parent = nullptr);
    ~CleanupWindow() override;

    // The controls, for tests and screenshots.
    [[nodiscard]] QComboBox* DriveBoxWidget() const { return m_comboDrive; }
    [[nodiscard]] QPushButton* ScanButton() const { return m_btnScan; }
    [[nodiscard]] QLabel* StatusLabel() const { return m_staticStatus; }
    [[nodiscard]] QTreeWidget* ResultsWidget() const { return m_listResults; }
    [[nodiscard]] QGroupBox* DescriptionGroup() const { return m_groupDescription; }
    [[nodiscard]] QLabel* DescriptionLabel() const { return m_staticDescription; }
    [[nodiscard]] QPushButton* AboutButton() const { return m_btnAbout; }
    [[nodiscard]] QPushButton* DeleteButton() const { return m_btnDelete; }
    [[nodiscard]] QLabel* DriveLabel() const { return m_staticDrive; }
    [[nodiscard]] const CCleanupDlg& Controller() const { return m_dlg; }
    // The file list open now, if any.
    [[nodiscard]] FileListDialog* FileList() const { return m_fileList; }

    // CleanupView
    void EnableDriveBox(bool enable) override;
    void EnableScanButton(bool enable) override;
    void EnableDeleteButton(bool enable) override;
    void SetScanButtonText(std::string_view text) override;
    void SetStatusText(std::string_view text) override;
    void SetDescriptionText(std::string_view text) override;
    DriveBox& DriveCombo() override;
    ResultListView& ResultList() override;
    void EnableCheckboxes() override;
    [[nodiscard]] std::optional<int> FirstSelectedRow() override;
    [[nodiscard]] int RowCount() override;
    [[nodiscard]] bool IsRowTicked(int row) override;
    [[nodiscard]] int RowItemData(int row) override;
    void StartTimer(int id, unsigned periodMs) override;
    void StopTimer(int id) override;
    void StartWorker(const ScanParams& params) override;
    [[nodiscard]] bool AskYesNo(std::string_view text, std::string_view caption) override;
    void ShowInformation(std::string_view text, std::optional<std::string_view> caption) override;
    void EndDialog(DialogResult result) override;
    void PostStatusWake() override;

    // Escape and the close box: IDCANCEL.
    void reject() override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // ResultListView
    void DeleteAllItems() override;
    void InsertItem(int row, std::string_view text, int image) override;
    void SetItemText(int row, int column, std::string_view text) override;
    void SetItemData(int row, int category) override;
    // DriveBox
    void AddDriveText(std::string_view text) override;
    void SelectDriveEntry(int index) override;
    [[nodiscard]] std::optional<int> SelectedDriveIndex() override;

    void LayOutControls();
    // The height the result list needs to show every category's row, checkbox and icon
    // included, without a scroll bar.
    [[nodiscard]] int ResultListHeightForAllRows() const;
    // Shows m_statusText in the status line's one line: a path too long for it loses its
    // middle, so the folder the walk is in stays readable at its end.
    void ShowStatusText();
    // Opens the list of the files of `item`'s row, once the scan is complete (the lists may not
    // be read before). A list open already gives way to it.
    void ShowRecordedFiles(QTreeWidgetItem* item);
    void ShowResultMenu(const QPoint& pos);
    // Passes a status wake to the controller now, or once kStatusIntervalMs have gone by since
    // the last one.
    void ShowStatusSoon();

    QLabel* m_staticDrive;
    QComboBox* m_comboDrive;
    QPushButton* m_btnScan;
    QLabel* m_staticStatus;
    QTreeWidget* m_listResults;
    QGroupBox* m_groupDescription;
    QLabel* m_staticDescription;
    QPushButton* m_btnAbout;
    QPushButton* m_btnDelete;
    QIcon m_hIcon;
    std::array<QIcon, CATEGORY_COUNT> m_imageList;
    QTimer m_timer;
    QTimer m_statusTimer;
    QElapsedTimer m_statusShown;
    bool m_bCheckboxes = false;
    QString m_statusText;
    QPointer<FileListDialog> m_fileList;
    CCleanupDlg m_dlg;  // last: built once the controls exist, destroyed before them
};

}  // namespace clearnook::qt
