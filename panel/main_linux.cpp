// The control panel on Linux: one panel per user session, kept by a lock file in the
// user's runtime folder; there is no crash reporting here.

#include "panel/panel_resources.h"
#include "panel/viruv.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace {
const char* const kInstanceName = "9B68EE5F-F7F6-4F8E-A4B6-B95BCDDE7973";
}

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    initPanelResources();

    QLockFile instance(QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
                           .filePath(kInstanceName));
    // A panel already runs: leave it alone and show nothing. A lock that cannot be
    // made for another reason does not stop the panel.
    if (!instance.tryLock(0) && instance.error() == QLockFile::LockFailedError)
        return 0;

    viruv window;
    window.show();
    return application.exec();
}
