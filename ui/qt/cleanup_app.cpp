#include "ui/qt/cleanup_app.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "ui/qt/cleanup_window.h"

namespace clearnook::qt {

void CCleanupApp::Run(int& argc, char** argv) {
    QApplication app(argc, argv);
    // No application name of our own: message boxes without a caption show the executable's.
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    app.setProperty("description", QString::fromLatin1(kDescription));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/128.ico")));
    QApplication::setDesktopFileName(QStringLiteral("clearnook"));
    {
        CleanupWindow dialog;
        dialog.exec();
    }
    // A walk may still be running (the dialog ended during a scan, perhaps inside a slow
    // listing). It owns its own state, so nothing it touches is freed; end the process now
    // rather than wait for it or run exit-time destructors beside it.
    std::fflush(nullptr);
    std::_Exit(0);
}

}  // namespace clearnook::qt
