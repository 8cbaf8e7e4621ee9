// The control panel on Windows: the crash reporter is already in place (static
// initialisation), the entry turns the wide command line into ANSI arguments, and
// one panel runs per desktop log-on.

#include "panel/panel_resources.h"
#include "panel/startup_win.h"
#include "panel/viruv.h"

#include <QApplication>
#include <windows.h>

namespace {

int panelMain(int argc, char** argv) {
    QApplication application(argc, argv);
    initPanelResources();

    // A panel already runs: leave it alone and show nothing. A mutex the system could
    // not make does not stop this one.
    if (panel::claimSingleInstance().alreadyRunning)
        return 0;

    viruv window;
    window.show();
    return application.exec();
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return panel::runWithProcessCommandLine(panelMain);
}
