#include "ui/qt/cleanup_window.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

#include "ui/dialog_template.h"
#include "ui/recorded_files.h"

namespace clearnook::qt {
namespace {

namespace dt = dialog_template;

// The status line follows the walk at most this often. Laying out the label's text for each of
// the thousands of directories a second a walk enters would take the processor the walk needs.
constexpr qint64 kStatusIntervalMs = 40;

constexpr int kCategoryRole = Qt::UserRole;

// Engine texts are 8-bit strings; paths among them are whatever bytes the file system holds.
QString FromEngine(std::string_view text) {
    return QFile::decodeName(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
}

int MulDiv(int value, int numerator, int denominator) {
    return static_cast<int>((static_cast<long long>(value) * numerator + denominator / 2) /
                            denominator);
}

}  // namespace

QSize DialogBaseUnits(const QFont& font) {
    const QFontMetrics fm(font);
    // The dialog manager's average width: the extent of the 52 Latin letters, halved to a
    // rounded 26th.
    const int letters = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, fm.height()};
}

QRect DialogUnitsToPixels(const QFont& font, const DialogUnitsRect& r) {
    const QSize base = DialogBaseUnits(font);
    return {MulDiv(r.x, base.width(), 4), MulDiv(r.y, base.height(), 8),
            MulDiv(r.width, base.width(), 4), MulDiv(r.height, base.height(), 8)};
}

CleanupWindow::CleanupWindow(const DriveSource& drives, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_staticDrive(new QLabel(QString::fromLatin1(dt::kDriveLabel.text), this)),
      m_comboDrive(new QComboBox(this)),
      m_btnScan(new QPushButton(QString::fromLatin1(dt::kScan.text), this)),
      m_staticStatus(new QLabel(this)),
      m_listResults(new QTreeWidget(this)),
      m_groupDescription(new QGroupBox(QString::fromLatin1(dt::kDescriptionGroup.text), this)),
      m_staticDescription(new QLabel(QString::fromLatin1(dt::kDescription.text), this)),
      m_btnAbout(new QPushButton(QString::fromLatin1(dt::kAbout.text), this)),
      m_btnDelete(new QPushButton(QString::fromLatin1(dt::kDelete.text), this)),
      m_hIcon(QStringLiteral(":/icons/128.ico")),
      m_dlg(*this) {
    setWindowTitle(QString::fromLatin1(dt::kCaption));
    m_statusText = QString::fromLatin1(dt::kStatus.text);
    setWindowIcon(m_hIcon);
    for (int i = 0; i < CATEGORY_COUNT; ++i) {
        m_imageList[static_cast<std::size_t>(i)] =
            QIcon(QStringLiteral(":/icons/%1.ico").arg(dt::CategoryIconId(i)));
    }

    m_comboDrive->setEditable(false);
    m_comboDrive->setInsertPolicy(QComboBox::NoInsert);
    m_staticStatus->setTextFormat(Qt::PlainText);  // a file name is no markup
    m_staticStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_staticDescription->setWordWrap(true);
    m_staticDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_groupDescription->lower();  // a sibling frame behind the description, as in the template

    m_listResults->setColumnCount(2);
    m_listResults->setHeaderHidden(true);
    m_listResults->setRootIsDecorated(false);
    m_listResults->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listResults->setUniformRowHeights(true);
    m_listResults->header()->setStretchLastSection(false);
    // The name column gives up what a vertical scroll bar takes, so the size column always shows
    // whole and the list never scrolls sideways.
    m_listResults->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_listResults->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_listResults->setIconSize(QSize(16, 16));
    // The selection is shown only while the list has the focus.
    QPalette pal = m_listResults->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Inactive, QPalette::Base));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Inactive, QPalette::Text));
    m_listResults->setPalette(pal);
    m_listResults->viewport()->installEventFilter(this);
    m_listResults->setContextMenuPolicy(Qt::CustomContextMenu);

    m_btnScan->setDefault(true);
    m_btnDelete->setEnabled(false);
    for (QWidget* w :
         {static_cast<QWidget*>(m_staticDrive), static_cast<QWidget*>(m_staticStatus),
          static_cast<QWidget*>(m_staticDescription), static_cast<QWidget*>(m_groupDescription)}) {
        w->setFocusPolicy(Qt::NoFocus);
    }
    setTabOrder(m_comboDrive, m_btnScan);
    setTabOrder(m_btnScan, m_listResults);
    setTabOrder(m_listResults, m_btnAbout);
    setTabOrder(m_btnAbout, m_btnDelete);

    LayOutControls();

    connect(m_btnScan, &QPushButton::clicked, this, [this] { m_dlg.OnOK(); });
    connect(m_btnDelete, &QPushButton::clicked, this, [this] { m_dlg.OnDeleteSelected(); });
    connect(m_btnAbout, &QPushButton::clicked, this, [this] { m_dlg.OnAbout(); });
    connect(&m_timer, &QTimer::timeout, this, [this] { m_dlg.OnTimer(); });
    // The keys that move through the rows show each row's description, as a click does.
    connect(m_listResults, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_dlg.OnResultClick(); });
    connect(m_listResults, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { ShowRecordedFiles(item); });
    connect(m_listResults, &QTreeWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ShowResultMenu(pos); });
    m_statusTimer.setSingleShot(true);
    connect(&m_statusTimer, &QTimer::timeout, this, [this] { ShowStatusSoon(); });

    m_dlg.OnInitDialog(drives());
    m_comboDrive->setFocus();
}

CleanupWindow::~CleanupWindow() = default;

int CleanupWindow::ResultListHeightForAllRows() const {
    // A row as the list draws it once the scan is complete, measured on a list of its own.
    QTreeWidget probe;
    probe.setFont(m_listResults->font());
    probe.setIconSize(m_listResults->iconSize());
    probe.setColumnCount(2);
    probe.setHeaderHidden(true);
    auto* item = new QTreeWidgetItem(&probe, {QStringLiteral("Ag"), QStringLiteral("9")});
    item->setIcon(0, m_imageList[0]);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    return CATEGORY_COUNT * probe.sizeHintForRow(0) + 2 * m_listResults->frameWidth();
}

void CleanupWindow::LayOutControls() {
    const QFont f = font();
    // The template's list shows three or four rows; here it grows to show all of them, and what
    // lies below it moves down as far.
    const int listTemplateHeight = DialogUnitsToPixels(f, dt::kResults.rect).height();
    const int grow = std::max(0, ResultListHeightForAllRows() - listTemplateHeight);
    const auto below = [grow](QRect r) { return r.translated(0, grow); };
    setFixedSize(DialogUnitsToPixels(f, dt::kDialogRect).size() + QSize(0, grow));
    // The template sizes its label for MS Sans Serif; a wider font may need the gap before the
    // drive box to show the whole text.
    QRect label = DialogUnitsToPixels(f, dt::kDriveLabel.rect);
    const int gapEnd = DialogUnitsToPixels(f, dt::kDrive.rect).x() - 1;
    label.setWidth(
        std::clamp(m_staticDrive->sizeHint().width(), label.width(), gapEnd - label.x()));
    m_staticDrive->setGeometry(label);
    // A drop-down list's template height is that of the open list; closed, it is as tall as its
    // font needs.
    const QRect drive = DialogUnitsToPixels(f, dt::kDrive.rect);
    const int closedHeight = m_comboDrive->sizeHint().height();
    m_comboDrive->setGeometry(drive.x(), drive.y(), drive.width(), closedHeight);
    m_comboDrive->setMaxVisibleItems(
        std::max(1, (drive.height() - closedHeight) / std::max(1, QFontMetrics(f).height() + 2)));
    m_btnScan->setGeometry(DialogUnitsToPixels(f, dt::kScan.rect));
    m_staticStatus->setGeometry(DialogUnitsToPixels(f, dt::kStatus.rect));
    m_listResults->setGeometry(DialogUnitsToPixels(f, dt::kResults.rect).adjusted(0, 0, 0, grow));
    const int baseX = DialogBaseUnits(f).width();
    m_listResults->setColumnWidth(0, MulDiv(dt::kNameColumnWidth, baseX, dt::kTemplateBaseX));
    m_listResults->setColumnWidth(1, MulDiv(dt::kSizeColumnWidth, baseX, dt::kTemplateBaseX));
    m_groupDescription->setGeometry(below(DialogUnitsToPixels(f, dt::kDescriptionGroup.rect)));
    m_staticDescription->setGeometry(below(DialogUnitsToPixels(f, dt::kDescription.rect)));
    m_btnAbout->setGeometry(below(DialogUnitsToPixels(f, dt::kAbout.rect)));
    m_btnDelete->setGeometry(below(DialogUnitsToPixels(f, dt::kDelete.rect)));
    ShowStatusText();
}

void CleanupWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        LayOutControls();
    }
    QDialog::changeEvent(event);
}

void CleanupWindow::EnableDriveBox(bool enable) {
    m_comboDrive->setEnabled(enable);
}
void CleanupWindow::EnableScanButton(bool enable) {
    m_btnScan->setEnabled(enable);
}
void CleanupWindow::EnableDeleteButton(bool enable) {
    m_btnDelete->setEnabled(enable);
}
void CleanupWindow::SetScanButtonText(std::string_view text) {
    m_btnScan->setText(FromEngine(text));
}
void CleanupWindow::SetStatusText(std::string_view text) {
    m_statusText = FromEngine(text);
    ShowStatusText();
}

void CleanupWindow::ShowStatusText() {
    const QString shown = m_staticStatus->fontMetrics().elidedText(
        m_statusText, Qt::ElideMiddle, m_staticStatus->contentsRect().width());
    m_staticStatus->setText(shown);
    m_staticStatus->setToolTip(shown == m_statusText ? QString() : m_statusText);
}
void CleanupWindow::SetDescriptionText(std::string_view text) {
    m_staticDescription->setText(FromEngine(text));
}

DriveBox& CleanupWindow::DriveCombo() {
    return *this;
}

void CleanupWindow::AddDriveText(std::string_view text) {
    m_comboDrive->addItem(FromEngine(text));
}

void CleanupWindow::SelectDriveEntry(int index) {
    m_comboDrive->setCurrentIndex(index);
}

std::optional<int> CleanupWindow::SelectedDriveIndex() {
    const int i = m_comboDrive->currentIndex();
    return i < 0 ? std::nullopt : std::optional<int>(i);
}

ResultListView& CleanupWindow::ResultList() {
    return *this;
}

void CleanupWindow::DeleteAllItems() {
    m_listResults->clear();
}

void CleanupWindow::InsertItem(int row, std::string_view text, int image) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, FromEngine(text));
    if (image >= 0 && image < CATEGORY_COUNT) {
        item->setIcon(0, m_imageList[static_cast<std::size_t>(image)]);
    }
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    if (m_bCheckboxes) {
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
    m_listResults->insertTopLevelItem(row, item);
}

void CleanupWindow::SetItemText(int row, int column, std::string_view text) {
    if (QTreeWidgetItem* item = m_listResults->topLevelItem(row)) {
        item->setText(column, FromEngine(text));
    }
}

void CleanupWindow::SetItemData(int row, int category) {
    if (QTreeWidgetItem* item = m_listResults->topLevelItem(row)) {
        item->setData(0, kCategoryRole, category);
    }
}

void CleanupWindow::EnableCheckboxes() {
    m_bCheckboxes = true;
    for (int i = 0; i < m_listResults->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = m_listResults->topLevelItem(i);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
    }
}

std::optional<int> CleanupWindow::FirstSelectedRow() {
    for (int i = 0; i < m_listResults->topLevelItemCount(); ++i) {
        if (m_listResults->topLevelItem(i)->isSelected()) {
            return i;
        }
    }
    return std::nullopt;
}

int CleanupWindow::RowCount() {
    return m_listResults->topLevelItemCount();
}

bool CleanupWindow::IsRowTicked(int row) {
    const QTreeWidgetItem* item = m_listResults->topLevelItem(row);
    return item != nullptr && m_bCheckboxes && item->checkState(0) == Qt::Checked;
}

int CleanupWindow::RowItemData(int row) {
    const QTreeWidgetItem* item = m_listResults->topLevelItem(row);
    return item != nullptr ? item->data(0, kCategoryRole).toInt() : -1;
}

void CleanupWindow::StartTimer(int /*id*/, unsigned periodMs) {
    m_timer.start(static_cast<int>(periodMs));
}

void CleanupWindow::StopTimer(int /*id*/) {
    m_timer.stop();
}

// A worker that cannot be started leaves the window in Scanning, where Cancel ends it.
void CleanupWindow::StartWorker(const ScanParams& params) {
    (void)StartScanThread(params);
}

bool CleanupWindow::AskYesNo(std::string_view text, std::string_view caption) {
    QMessageBox box(QMessageBox::Warning, FromEngine(caption), FromEngine(text),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void CleanupWindow::ShowInformation(std::string_view text,
                                    std::optional<std::string_view> caption) {
    const QString title = caption ? FromEngine(*caption) : QCoreApplication::applicationName();
    QMessageBox box(QMessageBox::Information, title, FromEngine(text), QMessageBox::Ok, this);
    box.exec();
}

void CleanupWindow::EndDialog(DialogResult result) {
    m_timer.stop();
    done(result == DialogResult::Ok ? QDialog::Accepted : QDialog::Rejected);
}

void CleanupWindow::PostStatusWake() {
    // Worker thread. The mailbox calls this under its lock and the controller closes the mailbox
    // before the window goes, so `this` is alive here; a queued call to a destroyed object is
    // dropped by Qt.
    QMetaObject::invokeMethod(
        this, [this] { ShowStatusSoon(); }, Qt::QueuedConnection);
}

void CleanupWindow::ShowStatusSoon() {
    // While a text waits in the mailbox the walk posts no further wake, so the texts that arrive
    // meanwhile collapse into the newest one. The wake the walk sends when it has finished goes
    // through at once: completion must not wait for the next text's turn.
    const qint64 since = m_statusShown.isValid() ? m_statusShown.elapsed() : kStatusIntervalMs;
    if (since < kStatusIntervalMs && !m_dlg.WalkFinished()) {
        if (!m_statusTimer.isActive()) {
            m_statusTimer.start(static_cast<int>(kStatusIntervalMs - since));
        }
        return;
    }
    m_statusTimer.stop();  // this wake takes the text a pending turn would have
    m_statusShown.start();
    m_dlg.OnStatusWake();
}

void CleanupWindow::reject() {
    m_dlg.OnCancel();
}

void CleanupWindow::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier &&
        qobject_cast<QPushButton*>(focusWidget()) == nullptr) {
        // IDOK, as the default button would send it; the Windows dialog manager sends nothing
        // while that button is disabled (Complete), and neither does this window.
        if (m_btnScan->isEnabled()) {
            m_dlg.OnOK();
        } else if (focusWidget() == m_listResults) {
            ShowRecordedFiles(m_listResults->currentItem());
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

void CleanupWindow::ShowRecordedFiles(QTreeWidgetItem* item) {
    const CategoryResults* results = m_dlg.FinishedResults();
    if (results == nullptr || item == nullptr) {
        return;
    }
    const int category = item->data(0, kCategoryRole).toInt();
    if (m_fileList != nullptr) {
        m_fileList->close();
    }
    // Each file's size is read again now, which takes a while for a large cache.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::vector<RecordedFile> files = ListRecordedFiles(*results, category);
    QApplication::restoreOverrideCursor();
    m_fileList = new FileListDialog(category, item->text(1), std::move(files), this);
    m_fileList->setAttribute(Qt::WA_DeleteOnClose);
    m_fileList->show();
}

void CleanupWindow::ShowResultMenu(const QPoint& pos) {
    QTreeWidgetItem* item = m_listResults->itemAt(pos);
    if (item == nullptr) {
        return;
    }
    m_listResults->setCurrentItem(item);
    QMenu menu(this);
    QAction* show = menu.addAction(tr("Show &Files..."));
    show->setEnabled(m_dlg.FinishedResults() != nullptr);
    if (menu.exec(m_listResults->viewport()->mapToGlobal(pos)) == show) {
        ShowRecordedFiles(item);
    }
}

bool CleanupWindow::eventFilter(QObject* watched, QEvent* event) {
    // A click on a row shows its description, even where it toggles the row's checkbox, which
    // the list does without selecting the row.
    if (watched == m_listResults->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        const QPoint pos = static_cast<QMouseEvent*>(event)->position().toPoint();
        if (QTreeWidgetItem* item = m_listResults->itemAt(pos)) {
            m_listResults->setCurrentItem(item);
        }
        m_dlg.OnResultClick();
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace clearnook::qt
