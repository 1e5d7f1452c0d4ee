// Time from pressing Scan to the completion text in the Qt window, on Qt's offscreen platform:
//   window_bench ROOT [RUNS]
// Prints one line per run: seconds from the click to the completion text.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <string>

#include "ui/qt/cleanup_window.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: window_bench ROOT [RUNS]\n");
        return 2;
    }
    const std::string root = argv[1];
    const int runs = argc > 2 ? std::atoi(argv[2]) : 1;
    const QString complete =
        QStringLiteral("Scan complete. Select the items to delete and click Delete Selected.");
    for (int i = 0; i < runs; ++i) {
        clearnook::qt::CleanupWindow w([root] {
            return std::vector<clearnook::DriveEntry>{{root, root}};
        });
        w.show();
        QApplication::processEvents();
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(w.ScanButton(), Qt::LeftButton);
        while (w.StatusLabel()->text() != complete) {
            // Blocks until something happens, as the program's own event loop does: the
            // overload with a time limit does not wait, and a spinning UI thread would take one
            // of the cores the walk uses.
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        std::printf("%.4f\n", static_cast<double>(clock.nsecsElapsed()) / 1e9);
    }
    return 0;
}
