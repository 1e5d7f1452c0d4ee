// The Qt window driven as a user would, on the offscreen platform, with the real engine walking
// real temporary trees.
#include <QComboBox>
#include <QDesktopServices>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "tests/support/temp_tree.h"
#include "ui/qt/cleanup_window.h"

using clearnook::DriveEntry;
using clearnook::qt::CleanupWindow;
using clearnook::qt::DialogUnitsRect;
using clearnook::qt::DialogUnitsToPixels;
using clearnook::qt::FileListDialog;
using clearnook::testing::TempDir;

namespace {

const char* const kComplete =
    "Scan complete. Select the items to delete and click Delete Selected.";

// What a message box showed before the test answered it.
struct BoxAnswer {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool seen = false;
};

// The boxes still to answer, and what they showed.
struct Answerer {
    std::vector<QMessageBox::StandardButton> buttons;
    std::vector<std::shared_ptr<BoxAnswer>> answers;
    std::size_t next = 0;
};

// Waits for the next modal message box, records it and presses the next button, until every
// button has been pressed.
void PollForBox(const std::shared_ptr<Answerer>& a) {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || box->property("answered").toBool()) {
        QTimer::singleShot(10, [a] { PollForBox(a); });
        return;
    }
    BoxAnswer& answer = *a->answers[a->next];
    answer.caption = box->windowTitle();
    answer.text = box->text();
    answer.icon = box->icon();
    answer.seen = true;
    box->setProperty("answered", true);
    box->button(a->buttons[a->next])->click();
    if (++a->next < a->buttons.size()) {
        QTimer::singleShot(10, [a] { PollForBox(a); });
    }
}

// Answers the next message boxes that open, in order, with `buttons`, as a user would click them.
std::vector<std::shared_ptr<BoxAnswer>> AnswerBoxes(
    std::vector<QMessageBox::StandardButton> buttons) {
    auto a = std::make_shared<Answerer>();
    a->buttons = std::move(buttons);
    for (std::size_t i = 0; i < a->buttons.size(); ++i) {
        a->answers.push_back(std::make_shared<BoxAnswer>());
    }
    QTimer::singleShot(0, [a] { PollForBox(a); });
    return a->answers;
}

std::shared_ptr<BoxAnswer> AnswerNextBox(QMessageBox::StandardButton button) {
    return AnswerBoxes({button}).front();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

QPoint RowCenter(QTreeWidget* list, int row) {
    return list->visualItemRect(list->topLevelItem(row)).center();
}

// A double click as the window system delivers it: press, release, double click, release.
void DoubleClick(QTreeWidget* list, QPoint pos) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, pos);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, pos);
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, pos);
}

// The middle of row `row`'s checkbox, where the style draws it.
QPoint CheckboxCenter(QTreeWidget* list, int row) {
    QStyleOptionViewItem option;
    option.initFrom(list);
    option.rect = list->visualItemRect(list->topLevelItem(row));
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    return list->style()
        ->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list)
        .center();
}

// Takes the URLs QDesktopServices is asked to open, instead of the desktop.
class UrlCatcher : public QObject {
    Q_OBJECT

  public:
    QList<QUrl> urls;

  public slots:
    void Open(const QUrl& url) { urls.push_back(url); }
};

}  // namespace

class CleanupWindowTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TempDir> m_tree;

    std::unique_ptr<CleanupWindow> MakeWindow() {
        const std::string root = m_tree->path();
        auto w = std::make_unique<CleanupWindow>([root] {
            return std::vector<DriveEntry>{{root + " [TEST]", root}, {"/nowhere", "/nowhere"}};
        });
        w->show();
        return w;
    }

    void ScanToCompletion(CleanupWindow& w) {
        QTest::mouseClick(w.ScanButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w.StatusLabel()->text(), QString::fromLatin1(kComplete), 20000);
    }

  private slots:
    void init() {
        m_tree = std::make_unique<TempDir>();
        m_tree->File("wine/drive_c/Windows/Temp/a.log", 3);
        m_tree->File("wine/drive_c/Windows/Temp/b.log", 5);
        m_tree->File("Photos/Thumbs.db", 20480);
        m_tree->File("Docs/keep.txt", 10);
    }
    void cleanup() { m_tree.reset(); }

    void ControlsSitWhereTheTemplatePutsThemAtAnyFontSize() {
        for (int points : {8, 14}) {
            QFont font = QApplication::font();
            font.setPointSize(points);
            QApplication::setFont(font);
            auto w = MakeWindow();
            const QFont f = w->font();
            struct Expect {
                QWidget* widget;
                DialogUnitsRect rect;
            };
            const Expect expected[] = {
                {w->ScanButton(), {193, 7, 50, 14}},
                {w->StatusLabel(), {7, 27, 236, 8}},
                {w->ResultsWidget(), {7, 41, 236, 60}},
                {w->DescriptionGroup(), {7, 108, 236, 50}},
                {w->DescriptionLabel(), {13, 120, 224, 30}},
                {w->AboutButton(), {129, 164, 50, 14}},
                {w->DeleteButton(), {183, 164, 60, 14}},
            };
            // The result list may be taller than the template's, to show every row; what lies
            // below it moves down as far.
            const int grow =
                w->ResultsWidget()->height() - DialogUnitsToPixels(f, {0, 0, 0, 60}).height();
            QVERIFY(grow >= 0);
            for (const Expect& e : expected) {
                QRect r = DialogUnitsToPixels(f, e.rect);
                if (e.widget == w->ResultsWidget()) {
                    r.setHeight(r.height() + grow);
                } else if (e.rect.y > 41) {
                    r.translate(0, grow);
                }
                QCOMPARE(e.widget->geometry(), r);
            }
            const QRect drive = DialogUnitsToPixels(f, {51, 8, 138, 80});
            // the label keeps its place and may use the gap before the drive box for its text
            const QRect label = DialogUnitsToPixels(f, {7, 10, 40, 8});
            QCOMPARE(w->DriveLabel()->geometry().topLeft(), label.topLeft());
            QCOMPARE(w->DriveLabel()->height(), label.height());
            QVERIFY(w->DriveLabel()->width() >= label.width());
            QVERIFY(w->DriveLabel()->geometry().right() < drive.left());
            QCOMPARE(w->DriveBoxWidget()->geometry().topLeft(), drive.topLeft());
            QCOMPARE(w->DriveBoxWidget()->width(), drive.width());
            QCOMPARE(w->size(), DialogUnitsToPixels(f, {0, 0, 250, 185}).size() + QSize(0, grow));
            QCOMPARE(w->minimumSize(), w->maximumSize());  // fixed size
            // every control inside the window, the buttons on one line at the bottom
            for (const Expect& e : expected) {
                QVERIFY(w->rect().contains(e.widget->geometry()));
            }
            QVERIFY(w->AboutButton()->geometry().right() < w->DeleteButton()->geometry().left());
        }
        QApplication::setFont(QFont());
        const QRect small = DialogUnitsToPixels(QFont("DejaVu Sans", 8), {0, 0, 250, 185});
        const QRect large = DialogUnitsToPixels(QFont("DejaVu Sans", 16), {0, 0, 250, 185});
        QVERIFY(large.width() > small.width() * 17 / 10);
        QVERIFY(large.height() > small.height() * 17 / 10);
    }

    // The size column is pixels of the template's font (70 at a dialog base width of 6), scaled
    // with the dialog units, so the widest size text shows whole at every font size; the name
    // column has the rest, with or without a vertical scroll bar.
    void ColumnsScaleWithTheFontAndHoldTheWidestSize() {
        for (int points : {8, 10, 14, 20}) {
            QFont font = QApplication::font();
            font.setPointSize(points);
            QApplication::setFont(font);
            auto w = MakeWindow();
            QTreeWidget* list = w->ResultsWidget();
            const int margin =
                list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
            QVERIFY2(list->columnWidth(1) >=
                         QFontMetrics(list->font()).horizontalAdvance("9999.99 GB") + 2 * margin,
                     qPrintable(QString::number(points)));
            const int baseX = clearnook::qt::DialogBaseUnits(w->font()).width();
            QCOMPARE(list->columnWidth(1), (70 * baseX + 3) / 6);
            for (int rows : {0, 12}) {  // twelve rows need a vertical scroll bar
                for (int i = list->topLevelItemCount(); i < rows; ++i) {
                    list->addTopLevelItem(
                        new QTreeWidgetItem({"Temporary Internet Files", "9999.99 GB"}));
                }
                QApplication::processEvents();
                QCOMPARE(list->columnWidth(0) + list->columnWidth(1), list->viewport()->width());
                QVERIFY(!list->horizontalScrollBar()->isVisible());
            }
        }
        QApplication::setFont(QFont());
    }

    // Enter while the Scan/Cancel button is disabled does nothing, as on Windows.
    void EnterInCompleteKeepsTheWindow() {
        auto w = MakeWindow();
        ScanToCompletion(*w);
        w->ResultsWidget()->setFocus();
        QTest::keyClick(w->ResultsWidget(), Qt::Key_Return);
        QTest::keyClick(w->ResultsWidget(), Qt::Key_Enter);
        QVERIFY(w->isVisible());
        QCOMPARE(w->ResultsWidget()->topLevelItemCount(), 2);
    }

    void StartsReady() {
        auto w = MakeWindow();
        QCOMPARE(w->windowTitle(), QString("Clearnook"));
        QVERIFY(!w->windowIcon().isNull());
        QCOMPARE(w->DriveLabel()->text(), QString("Select drive:"));
        QCOMPARE(w->ScanButton()->text(), QString("&Scan"));
        QVERIFY(w->ScanButton()->isEnabled());
        QCOMPARE(w->StatusLabel()->text(), QString("Click Scan to start scanning."));
        QCOMPARE(w->DescriptionGroup()->title(), QString("Description"));
        QCOMPARE(w->DescriptionLabel()->text(),
                 QString("Click on an item in the list above for a detailed description."));
        QCOMPARE(w->AboutButton()->text(), QString("&About..."));
        QCOMPARE(w->DeleteButton()->text(), QString("&Delete Selected"));
        QVERIFY(!w->DeleteButton()->isEnabled());
        QCOMPARE(w->ResultsWidget()->topLevelItemCount(), 0);
        QVERIFY(w->ResultsWidget()->isHeaderHidden());
        QCOMPARE(w->DriveBoxWidget()->count(), 2);
        QCOMPARE(w->DriveBoxWidget()->currentIndex(), 0);
        QVERIFY(!w->DriveBoxWidget()->isEditable());
        QCOMPARE(w->focusWidget(), static_cast<QWidget*>(w->DriveBoxWidget()));
    }

    void ScanShowsRowsThenCompletesWithCheckboxes() {
        auto w = MakeWindow();
        QTest::mouseClick(w->ScanButton(), Qt::LeftButton);
        QCOMPARE(w->ScanButton()->text(), QString("Cancel"));
        QVERIFY(!w->DriveBoxWidget()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(w->StatusLabel()->text(), QString::fromLatin1(kComplete), 20000);
        QTreeWidget* list = w->ResultsWidget();
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(0), QString("Temporary Files"));
        QCOMPARE(list->topLevelItem(0)->text(1), QString("8 bytes"));
        QCOMPARE(list->topLevelItem(1)->text(0), QString("Thumbnail Cache"));
        QCOMPARE(list->topLevelItem(1)->text(1), QString("20.00 KB"));
        for (int row = 0; row < 2; ++row) {
            QVERIFY(!list->topLevelItem(row)->icon(0).isNull());
            QCOMPARE(list->topLevelItem(row)->checkState(0), Qt::Unchecked);
            QVERIFY(list->topLevelItem(row)->flags() & Qt::ItemIsUserCheckable);
        }
        QVERIFY(!w->ScanButton()->isEnabled());
        QCOMPARE(w->ScanButton()->text(), QString("Cancel"));
        QVERIFY(w->DeleteButton()->isEnabled());
    }

    // A click on a row, on its checkbox, or the keys that move through the rows show the row's
    // description; a click below the rows keeps it.
    void ClicksAndKeysShowTheDescription() {
        auto w = MakeWindow();
        ScanToCompletion(*w);
        QTreeWidget* list = w->ResultsWidget();
        const QString temp =
            "Temporary files are left over by certain programs and are "
            "generally safe to delete.";
        const QString thumbs =
            "These files are used for quick display of thumbnails of pictures. "
            "These can be deleted and will be recreated as required.";
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowCenter(list, 1));
        QCOMPARE(w->DescriptionLabel()->text(), thumbs);
        QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(list->currentItem(), list->topLevelItem(0));
        QCOMPARE(w->DescriptionLabel()->text(), temp);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(w->DescriptionLabel()->text(), thumbs);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, CheckboxCenter(list, 0));
        QCOMPARE(list->topLevelItem(0)->checkState(0), Qt::Checked);
        QCOMPARE(w->DescriptionLabel()->text(), temp);
        list->clearSelection();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          QPoint(5, list->viewport()->height() - 3));
        QCOMPARE(w->DescriptionLabel()->text(), temp);
    }

    // One row for each kind of file fits the list, without a scroll bar, at any font size.
    void EveryRowShowsWithoutAScrollBar() {
        m_tree->File(
            "wine/drive_c/Documents and Settings/A/Local Settings/Temporary Internet "
            "Files/Content.IE5/AB12/page.htm",
            1);
        m_tree->File("wine/drive_c/Windows/Help/system.gid", 1);
        m_tree->File("src/build/app.pch", 1);
        m_tree->File("wine/drive_c/Documents and Settings/A/Recent/letter.lnk", 1);
        for (int points : {8, 14, 20}) {
            QFont font = QApplication::font();
            font.setPointSize(points);
            QApplication::setFont(font);
            auto w = MakeWindow();
            ScanToCompletion(*w);
            QTreeWidget* list = w->ResultsWidget();
            QCOMPARE(list->topLevelItemCount(), 6);
            QApplication::processEvents();
            QVERIFY2(!list->verticalScrollBar()->isVisible(), qPrintable(QString::number(points)));
            QVERIFY(list->viewport()->rect().contains(list->visualItemRect(list->topLevelItem(5))));
        }
        QApplication::setFont(QFont());
    }

    // Double-click, Enter or the row's menu opens the list of its files once the scan is
    // complete: each path and size, sortable; Open Folder opens the folder of one.
    void ARowsFilesOpenOnDoubleClickEnterOrMenu() {
        enum class How { DoubleClick, Enter, Menu };
        for (How how : {How::DoubleClick, How::Enter, How::Menu}) {
            auto w = MakeWindow();
            QTreeWidget* list = w->ResultsWidget();
            ScanToCompletion(*w);
            switch (how) {
                case How::DoubleClick:
                    DoubleClick(list, RowCenter(list, 0));
                    break;
                case How::Enter:
                    list->setFocus();
                    QTest::keyClick(list, Qt::Key_Down);
                    QTest::keyClick(list, Qt::Key_Up);
                    QTest::keyClick(list, Qt::Key_Return);
                    break;
                case How::Menu:
                    QTimer::singleShot(0, [] {  // the first entry, as the keys choose it
                        QWidget* menu = QApplication::activePopupWidget();
                        QTest::keyClick(menu, Qt::Key_Down);
                        QTest::keyClick(menu, Qt::Key_Return);
                    });
                    emit list->customContextMenuRequested(RowCenter(list, 0));
                    break;
            }
            FileListDialog* files = w->FileList();
            QVERIFY2(files != nullptr, qPrintable(QString::number(static_cast<int>(how))));
            QVERIFY(files->isVisible());
            QCOMPARE(files->windowTitle(), QString("Temporary Files - Clearnook"));
            QAbstractItemModel* model = files->Table()->model();
            QCOMPARE(model->rowCount(), 2);
            const QString dir = QString::fromStdString(*m_tree / "wine/drive_c/Windows/Temp");
            const auto row = [model](int r) {
                return model->index(r, 0).data().toString() + " " +
                       model->index(r, 1).data().toString();
            };
            QCOMPARE(row(0), dir + "/a.log 3 bytes");
            QCOMPARE(row(1), dir + "/b.log 5 bytes");
            files->Table()->sortByColumn(1, Qt::DescendingOrder);
            QCOMPARE(row(0), dir + "/b.log 5 bytes");
            QVERIFY(QFile::exists(dir + "/a.log"));  // showing removes nothing
        }
    }

    void OpenFolderOpensTheFolderOfTheFile() {
        UrlCatcher opened;
        QDesktopServices::setUrlHandler("file", &opened, "Open");
        auto w = MakeWindow();
        QTreeWidget* list = w->ResultsWidget();
        ScanToCompletion(*w);
        DoubleClick(list, RowCenter(list, 1));
        QVERIFY(w->FileList() != nullptr);
        QTableView* table = w->FileList()->Table();
        table->selectRow(0);
        QTest::mouseClick(w->FileList()->OpenFolderButton(), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(opened.urls,
                 QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(*m_tree / "Photos"))});
    }

    // The status line has room for one line: a long path loses its middle, not its end.
    void StatusLineKeepsBothEndsOfALongPath() {
        auto w = MakeWindow();
        const QString text = "Scanning /home/" + QString(300, 'x') + "/the-folder-it-is-in";
        w->SetStatusText(text.toStdString());
        const QString shown = w->StatusLabel()->text();
        QVERIFY(shown.startsWith("Scanning /home/"));
        QVERIFY(shown.endsWith("/the-folder-it-is-in"));
        QVERIFY(w->StatusLabel()->fontMetrics().horizontalAdvance(shown) <=
                w->StatusLabel()->contentsRect().width());
    }

    // Without a display the program says so in one line; --help and --version need none.
    void WithoutADisplayOneLineAndStatus2() {
        struct Case {
            QStringList args;
            int status;
            const char* out;  // how standard output starts
            int errLines;
        };
        const Case cases[] = {
            {{}, 2, "", 1},
            {{"--help"}, 0, "usage: clearnook ", 0},
            {{"--version"}, 0, "clearnook 2.0.0.1\n", 0},
        };
        for (const Case& c : cases) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
                env.remove(v);
            }
            p.setProcessEnvironment(env);
            p.start(CLEARNOOK_WINDOW, c.args);
            QVERIFY(p.waitForFinished(60000));
            const QString err = QString::fromLocal8Bit(p.readAllStandardError());
            QVERIFY2(p.exitStatus() == QProcess::NormalExit, qPrintable(err));
            QCOMPARE(p.exitCode(), c.status);
            QVERIFY2(p.readAllStandardOutput().startsWith(c.out), qPrintable(c.args.join(' ')));
            QCOMPARE(err.count('\n'), c.errLines);
            if (c.errLines != 0) {
                QVERIFY2(err.startsWith("clearnook: no display"), qPrintable(err));
            }
        }
    }

    void DeleteSelectedAsksThenReportsAndEnds() {
        auto w = MakeWindow();
        ScanToCompletion(*w);
        QTreeWidget* list = w->ResultsWidget();
        list->topLevelItem(0)->setCheckState(0, Qt::Checked);

        auto no = AnswerNextBox(QMessageBox::No);
        QTest::mouseClick(w->DeleteButton(), Qt::LeftButton);
        QVERIFY(no->seen);
        QCOMPARE(no->caption, QString("Confirm Delete"));
        QCOMPARE(no->text,
                 QString("Are you sure you want to permanently remove the selected items?"));
        QCOMPARE(no->icon, QMessageBox::Warning);
        QVERIFY(w->isVisible());
        QVERIFY(Exists(*m_tree / "wine/drive_c/Windows/Temp/a.log"));
        QCOMPARE(list->topLevelItem(0)->checkState(0), Qt::Checked);

        auto yesThenOk = AnswerBoxes({QMessageBox::Yes, QMessageBox::Ok});
        QTest::mouseClick(w->DeleteButton(), Qt::LeftButton);
        QVERIFY(yesThenOk[0]->seen && yesThenOk[1]->seen);
        QTRY_VERIFY(!w->isVisible());
        QCOMPARE(w->result(), int(QDialog::Accepted));
        QVERIFY(!Exists(*m_tree / "wine/drive_c/Windows/Temp/a.log"));
        QVERIFY(!Exists(*m_tree / "wine/drive_c/Windows/Temp/b.log"));
        QVERIFY(Exists(*m_tree / "Photos/Thumbs.db"));  // not ticked
        QVERIFY(Exists(*m_tree / "Docs/keep.txt"));
    }

    void ReportShowsCountUnderTheProgramsName() {
        auto w = MakeWindow();
        ScanToCompletion(*w);
        w->ResultsWidget()->topLevelItem(1)->setCheckState(0, Qt::Checked);
        auto answers = AnswerBoxes({QMessageBox::Yes, QMessageBox::Ok});
        QTest::mouseClick(w->DeleteButton(), Qt::LeftButton);
        const std::shared_ptr<BoxAnswer> report = answers[1];
        QVERIFY(report->seen);
        QCOMPARE(report->text, QString("1 files were removed.\nThank you for using Clearnook!"));
        QCOMPARE(report->caption, QCoreApplication::applicationName());
        QCOMPARE(report->icon, QMessageBox::Information);
    }

    void AboutInEveryStateChangesNothing() {
        auto w = MakeWindow();
        auto about = AnswerNextBox(QMessageBox::Ok);
        QTest::mouseClick(w->AboutButton(), Qt::LeftButton);
        QVERIFY(about->seen);
        QCOMPARE(about->caption, QString("About Clearnook"));
        QVERIFY(
            about->text.startsWith("Clearnook 2.0\nCopyright (C) 2026 The Clearnook developers\n\n"
                                   "This program is FREEWARE.\n\n"));
        QCOMPARE(about->icon, QMessageBox::Information);
        QCOMPARE(w->StatusLabel()->text(), QString("Click Scan to start scanning."));
        QVERIFY(w->isVisible());
        ScanToCompletion(*w);
        auto again = AnswerNextBox(QMessageBox::Ok);
        QTest::mouseClick(w->AboutButton(), Qt::LeftButton);
        QVERIFY(again->seen);
        QVERIFY(w->isVisible());
        QVERIFY(w->DeleteButton()->isEnabled());
    }

    void CancelDuringAScanEndsTheDialog() {
        // A tree big enough that the walk is still going when Cancel is pressed.
        for (int i = 0; i < 400; ++i) {
            m_tree->File("many/" + std::to_string(i % 40) + "/f" + std::to_string(i) + ".tmp", 1);
        }
        auto w = MakeWindow();
        QTest::mouseClick(w->ScanButton(), Qt::LeftButton);
        QTest::mouseClick(w->ScanButton(), Qt::LeftButton);
        QVERIFY(!w->isVisible());
        QCOMPARE(w->result(), int(QDialog::Rejected));
    }

    void EscapeEndsTheDialog() {
        auto w = MakeWindow();
        QTest::keyClick(w.get(), Qt::Key_Escape);
        QVERIFY(!w->isVisible());
        QCOMPARE(w->result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(CleanupWindowTest)
#include "cleanup_window_test.moc"
