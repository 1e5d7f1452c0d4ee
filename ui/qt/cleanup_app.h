// The application object: one QApplication, the main dialog shown modally as the only window,
// and the end of the process when it closes.
#pragma once

namespace clearnook::qt {

class CCleanupApp {
  public:
    // Version and description the program carries (also in its .desktop file).
    static constexpr const char* kVersion = "2.0.0.1";
    static constexpr const char* kDescription = "Clearnook - Disk Cleanup Utility";

    // Runs the program: builds the application, runs the dialog, and ends the process when the
    // dialog ends, without waiting for a walk still running. Does not return.
    [[noreturn]] static void Run(int& argc, char** argv);
};

}  // namespace clearnook::qt
