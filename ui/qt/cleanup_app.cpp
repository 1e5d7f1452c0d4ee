#include "ui/qt/cleanup_app.h"

#include <QApplication>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ui/qt/cleanup_window.h"

namespace clearnook::qt {
namespace {

constexpr const char* kUsage =
    "usage: clearnook [--version | --help]\n"
    "Opens the Clearnook window: pick a drive, scan it for disposable files, see one row per\n"
    "kind with its size and the files behind it, and permanently delete the kinds you tick.\n"
    "  --version print the version\n"
    "  --help    print this help\n"
    "Other arguments are left to Qt (such as -platform NAME). The window needs a display\n"
    "(DISPLAY or WAYLAND_DISPLAY); clearnook-cli scans and deletes without one.\n"
    "Exit status:\n"
    "  0  the window was closed\n"
    "  2  no display to open the window on, or output that cannot be written\n";

// Prints `text` on standard output; 0, or 2 with the reason on stderr when it cannot be written.
int PrintAndExit(const char* text) {
    if (std::fputs(text, stdout) < 0 || std::fflush(stdout) != 0) {
        const int error = errno;
        std::fprintf(stderr, "clearnook: cannot write output: %s\n", std::strerror(error));
        return 2;
    }
    return 0;
}

// What Qt says while it connects to the display is held back until it has: when it cannot, it
// warns and aborts, and one line of ours says why instead. The application object's own state, at
// file scope because Qt's message handler is a plain function that reaches nothing else.
// NOLINTBEGIN(cppcoreguidelines-avoid-non-const-global-variables): Qt's handler has no context
std::string g_held;          // the messages held back, as Qt would have printed them
std::string g_firstWarning;  // the first of them, for the reason
// NOLINTEND(cppcoreguidelines-avoid-non-const-global-variables)

bool Empty(const char* variable) {
    const char* value = std::getenv(variable);
    return value == nullptr || *value == '\0';
}

void WhileConnecting(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        if (g_firstWarning.empty()) {
            g_firstWarning = message.toStdString();
        }
        g_held += qFormatLogMessage(type, context, message).toStdString() + "\n";
        return;
    }
    std::string reason = g_firstWarning.empty() ? message.toStdString() : g_firstWarning;
    if (Empty("DISPLAY") && Empty("WAYLAND_DISPLAY")) {
        reason = "DISPLAY and WAYLAND_DISPLAY are not set";
    }
    reason = reason.substr(0, reason.find('\n'));
    for (char& c : reason) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    std::fprintf(stderr, "clearnook: no display to open the window on (%s)\n", reason.c_str());
    std::fflush(stderr);
    std::_Exit(2);
}

}  // namespace

void CCleanupApp::Run(int& argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::_Exit(PrintAndExit(kUsage));
        }
        if (arg == "--version") {
            std::_Exit(PrintAndExit((std::string("clearnook ") + kVersion + "\n").c_str()));
        }
    }
    const QtMessageHandler previous = qInstallMessageHandler(WhileConnecting);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);
    std::fputs(g_held.c_str(), stderr);
    // No application name of our own: message boxes without a caption show the executable's.
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    app.setProperty("description", QString::fromLatin1(kDescription));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/128.ico")));
    QApplication::setDesktopFileName(QStringLiteral("org.clearnook.Clearnook"));
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
