// clearnook: the Qt desktop program.
#include "ui/qt/cleanup_app.h"

int main(int argc, char** argv) {
    clearnook::qt::CCleanupApp::Run(argc, argv);
}
