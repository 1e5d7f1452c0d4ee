// The files a result row stands for, path and size, in a window of their own beside the main
// dialog: sortable by either column, with a way to open the folder that holds a file. It only
// shows; nothing is removed from it.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>

#include <vector>

#include "ui/recorded_files.h"

class QLabel;
class QPushButton;
class QTableView;

namespace clearnook::qt {

// The rows of the file list: path and size, sorted as the header asks.
class RecordedFilesModel final : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { PathColumn, SizeColumn };

    explicit RecordedFilesModel(std::vector<RecordedFile> files, QObject* parent = nullptr);

    [[nodiscard]] const RecordedFile& File(int row) const;

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;
    void sort(int column, Qt::SortOrder order) override;

  private:
    std::vector<RecordedFile> m_files;
};

class FileListDialog final : public QDialog {
    Q_OBJECT

  public:
    // `category` names the window; `total` is its row's size text.
    FileListDialog(int category, const QString& total, std::vector<RecordedFile> files,
                   QWidget* parent);

    [[nodiscard]] QTableView* Table() const { return m_table; }
    [[nodiscard]] QPushButton* OpenFolderButton() const { return m_btnOpenFolder; }

  private:
    // Opens the folder that holds the current row's file in the desktop's file manager.
    void OpenFolder();

    RecordedFilesModel* m_model;
    QTableView* m_table;
    QPushButton* m_btnOpenFolder;
};

}  // namespace clearnook::qt
