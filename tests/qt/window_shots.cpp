// Takes a screenshot of the window in each state, for a person to look at:
//   window_shots OUTDIR
// Run under a virtual X server (scripts/screenshots does). Writes ready.png, scanning.png,
// complete.png, description.png, files.png (the file list of a row), confirm.png, report.png and
// about.png.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <cstdio>
#include <functional>

#include "tests/support/temp_tree.h"
#include "ui/qt/cleanup_window.h"

namespace {

QString g_out;
QWidget* g_window = nullptr;

// Waits `settleMs` for the window to draw, then saves it, a message box over it and `beside`.
void Shoot(const QString& name, int settleMs = 150, QWidget* beside = nullptr) {
    QApplication::processEvents();
    QTest::qWait(settleMs);
    // The dialog and a message box over it, whatever the scale.
    QRect area = g_window->frameGeometry();
    if (QWidget* box = QApplication::activeModalWidget()) {
        area = area.united(box->frameGeometry());
    }
    if (beside != nullptr) {
        area = area.united(beside->frameGeometry());
    }
    const QPixmap shot = QApplication::primaryScreen()->grabWindow(0);
    const qreal ratio = shot.devicePixelRatio();
    shot.copy(QRect(area.topLeft() * ratio, area.size() * ratio)).save(g_out + "/" + name + ".png");
    std::printf("%s/%s.png\n", qPrintable(g_out), qPrintable(name));
}

// Photographs the next message box, then presses `button` on it.
void ShootNextBox(const QString& name, QMessageBox::StandardButton button) {
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [name, button, poll] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box->button(button) == nullptr || box->property("shot").toBool()) {
            QTimer::singleShot(20, *poll);
            return;
        }
        box->setProperty("shot", true);
        box->move(120, 120);
        Shoot(name);
        box->button(button)->click();
    };
    QTimer::singleShot(0, *poll);
}

}  // namespace

void Drive(clearnook::qt::CleanupWindow& w);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_shots OUTDIR\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    clearnook::testing::TempDir tree(clearnook::testing::TempDir::Where::Memory);
    tree.File("wine/drive_c/Windows/Temp/setup.log", 3000);
    tree.File(
        "wine/drive_c/Documents and Settings/Alice/Local Settings/Temporary Internet "
        "Files/Content.IE5/AB12/page.htm",
        120000);
    tree.File("wine/drive_c/Windows/Help/system.gid", 4096);
    tree.File("src/build/app.pch", 5000000);
    tree.File("wine/drive_c/Documents and Settings/Alice/Recent/letter.lnk", 600);
    tree.File("Photos/Thumbs.db", 20480);
    // enough files that the walk is still going when the second picture is taken
    for (int i = 0; i < 200000; ++i) {
        tree.File("bulk/" + std::to_string(i % 3000) + "/f" + std::to_string(i) + ".tmp", 1000);
    }
    const std::string root = tree.path();
    clearnook::qt::CleanupWindow w([root] {
        return std::vector<clearnook::DriveEntry>{{"/ [SYSTEM]", root}, {"/home", "/home"}};
    });
    w.move(0, 0);
    w.show();
    g_window = &w;
    Drive(w);
    return 0;
}

void Drive(clearnook::qt::CleanupWindow& w) {
    Shoot("ready");
    QTest::mouseClick(w.ScanButton(), Qt::LeftButton);
    Shoot("scanning", 60);
    QTRY_VERIFY_WITH_TIMEOUT(w.DeleteButton()->isEnabled(), 20000);
    Shoot("complete");
    QTreeWidget* list = w.ResultsWidget();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->topLevelItem(3)).center());
    list->topLevelItem(0)->setCheckState(0, Qt::Checked);
    Shoot("description");
    // The files of the first row (every bulk file is a temporary one), largest first.
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(0));
    QTest::keyClick(list, Qt::Key_Return);
    clearnook::qt::FileListDialog* files = w.FileList();
    files->move(60, 60);  // over the window: at twice the scale both side by side do not fit
    files->Table()->sortByColumn(1, Qt::DescendingOrder);
    files->Table()->selectRow(0);
    Shoot("files", 300, files);
    files->close();
    list->setCurrentItem(list->topLevelItem(3));
    ShootNextBox("about", QMessageBox::Ok);
    QTest::mouseClick(w.AboutButton(), Qt::LeftButton);
    ShootNextBox("confirm", QMessageBox::No);
    QTest::mouseClick(w.DeleteButton(), Qt::LeftButton);
    ShootNextBox("confirm", QMessageBox::Yes);
    QTimer::singleShot(0, [] { ShootNextBox("report", QMessageBox::Ok); });
    QTest::mouseClick(w.DeleteButton(), Qt::LeftButton);
}
