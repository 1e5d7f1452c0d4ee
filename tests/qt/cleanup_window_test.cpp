// The Qt window driven as a user would, on the offscreen platform, with the real engine walking
// real temporary trees.
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
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
        m_tree->File("Windows/Temp/a.log", 3);
        m_tree->File("Windows/Temp/b.log", 5);
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
            for (const Expect& e : expected) {
                QCOMPARE(e.widget->geometry(), DialogUnitsToPixels(f, e.rect));
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
            QCOMPARE(w->size(), DialogUnitsToPixels(f, {0, 0, 250, 185}).size());
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

    void OnlyAClickShowsTheDescription() {
        auto w = MakeWindow();
        ScanToCompletion(*w);
        QTreeWidget* list = w->ResultsWidget();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, RowCenter(list, 1));
        QCOMPARE(w->DescriptionLabel()->text(),
                 QString("These files are used for quick display of thumbnails of pictures. "
                         "These can be deleted and will be recreated as required."));
        QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(list->currentItem(), list->topLevelItem(0));
        QVERIFY(w->DescriptionLabel()->text().startsWith("These files are used"));
        // a click below the rows selects nothing; the description stays
        list->clearSelection();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          QPoint(5, list->viewport()->height() - 3));
        QVERIFY(w->DescriptionLabel()->text().startsWith("These files are used"));
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
        QVERIFY(Exists(*m_tree / "Windows/Temp/a.log"));
        QCOMPARE(list->topLevelItem(0)->checkState(0), Qt::Checked);

        auto yesThenOk = AnswerBoxes({QMessageBox::Yes, QMessageBox::Ok});
        QTest::mouseClick(w->DeleteButton(), Qt::LeftButton);
        QVERIFY(yesThenOk[0]->seen && yesThenOk[1]->seen);
        QTRY_VERIFY(!w->isVisible());
        QCOMPARE(w->result(), int(QDialog::Accepted));
        QVERIFY(!Exists(*m_tree / "Windows/Temp/a.log"));
        QVERIFY(!Exists(*m_tree / "Windows/Temp/b.log"));
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
