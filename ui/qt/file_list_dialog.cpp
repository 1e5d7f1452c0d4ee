#include "ui/qt/file_list_dialog.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "engine/categories.h"

namespace clearnook::qt {
namespace {

QString PathText(const std::string& path) {
    return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

}  // namespace

RecordedFilesModel::RecordedFilesModel(std::vector<RecordedFile> files, QObject* parent)
    : QAbstractTableModel(parent), m_files(std::move(files)) {}

const RecordedFile& RecordedFilesModel::File(int row) const {
    return m_files[static_cast<std::size_t>(row)];
}

int RecordedFilesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_files.size());
}

int RecordedFilesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 2;
}

QVariant RecordedFilesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    const RecordedFile& file = File(index.row());
    if (role == Qt::DisplayRole) {
        if (index.column() == PathColumn) {
            return PathText(file.path);
        }
        // A file removed or renamed since the walk has no size to show.
        return file.size ? QString::fromStdString(FormatSize(*file.size)) : tr("gone");
    }
    if (role == Qt::TextAlignmentRole && index.column() == SizeColumn) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    return {};
}

QVariant RecordedFilesModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) {
        return section == PathColumn ? tr("Path") : tr("Size");
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

void RecordedFilesModel::sort(int column, Qt::SortOrder order) {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<std::size_t> rows(m_files.size());  // the old row of each new one
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = i;
    }
    // Paths byte by byte, so the files of one folder stay together; sizes as numbers, a file
    // that is gone below the smallest. Equal keys keep the order found.
    std::stable_sort(rows.begin(), rows.end(), [&](std::size_t a, std::size_t b) {
        if (order == Qt::DescendingOrder) {
            std::swap(a, b);
        }
        const RecordedFile& x = m_files[a];
        const RecordedFile& y = m_files[b];
        return column == SizeColumn ? x.size < y.size : x.path < y.path;
    });
    std::vector<RecordedFile> sorted;
    sorted.reserve(m_files.size());
    std::vector<int> newRow(m_files.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        newRow[rows[i]] = static_cast<int>(i);
        sorted.push_back(std::move(m_files[rows[i]]));
    }
    m_files = std::move(sorted);
    // The current row and the selection follow their file.
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    for (const QModelIndex& i : before) {
        after.push_back(index(newRow[static_cast<std::size_t>(i.row())], i.column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

FileListDialog::FileListDialog(int category, const QString& total, std::vector<RecordedFile> files,
                               QWidget* parent)
    : QDialog(parent),
      m_model(new RecordedFilesModel(std::move(files), this)),
      m_table(new QTableView(this)),
      m_btnOpenFolder(new QPushButton(tr("&Open Folder"), this)) {
    setWindowTitle(tr("%1 - Clearnook").arg(QString::fromLatin1(CategoryName(category))));
    const int count = m_model->rowCount();
    auto* summary = new QLabel(
        tr("%1 files, %2 when scanned. Nothing is removed from this list.").arg(count).arg(total),
        this);
    summary->setTextFormat(Qt::PlainText);

    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);  // a long path keeps its start and its name
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setSectionResizeMode(RecordedFilesModel::PathColumn,
                                                      QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(RecordedFilesModel::SizeColumn,
                                                      QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSortIndicator(RecordedFilesModel::PathColumn,
                                                  Qt::AscendingOrder);
    m_table->setSortingEnabled(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(m_btnOpenFolder, QDialogButtonBox::ActionRole);
    m_btnOpenFolder->setDefault(true);
    m_btnOpenFolder->setEnabled(false);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_btnOpenFolder, &QPushButton::clicked, this, [this] { OpenFolder(); });
    connect(m_table, &QTableView::doubleClicked, this, [this] { OpenFolder(); });
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { m_btnOpenFolder->setEnabled(current.isValid()); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summary);
    layout->addWidget(m_table);
    layout->addWidget(buttons);
    const QFontMetrics fm = fontMetrics();
    resize(fm.averageCharWidth() * 100, fm.height() * 28);
    m_table->setFocus();
}

void FileListDialog::OpenFolder() {
    const QModelIndex current = m_table->currentIndex();
    if (!current.isValid()) {
        return;
    }
    const QString folder = QFileInfo(PathText(m_model->File(current.row()).path)).absolutePath();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) {
        QMessageBox::warning(this, windowTitle(), tr("Cannot open the folder %1.").arg(folder));
    }
}

}  // namespace clearnook::qt
