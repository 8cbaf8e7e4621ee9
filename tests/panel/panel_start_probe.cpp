// A control panel's start without Qt and without a window: the process-wide crash
// reporter from static initialisation, the entry's argument vector and the
// single-instance rule, run as a process of its own. The exit code tells the test
// what happened.

#include "panel/crash_reporter_win.h"
#include "panel/startup_win.h"

#include <cstring>
#include <windows.h>

namespace {

constexpr int kStarted = 2;   // no other panel: this one would show its window
constexpr int kContinued = 3; // the crash-report exception came back to the caller
constexpr int kReporter = 16; // plus 1 loaded, 2 initialised, 4 handler installed
constexpr int kUsage = 1;

int probeMain(int argc, char** argv) {
    if (argc != 2)
        return kUsage;
    if (std::strcmp(argv[1], "instance") == 0)
        return panel::claimSingleInstance().alreadyRunning ? 0 : kStarted;
    if (std::strcmp(argv[1], "raise") == 0) {
        RaiseException(panel::kCrashReportException, 0, 0, nullptr);
        return kContinued;
    }
    if (std::strcmp(argv[1], "reporter") == 0) {
        const panel::CrashReporter& reporter = panel::processCrashReporter();
        return kReporter + (reporter.loaded() ? 1 : 0) + (reporter.initialised() ? 2 : 0) +
               (reporter.handlerInstalled() ? 4 : 0);
    }
    return kUsage;
}

} // namespace

int main() {
    return panel::runWithProcessCommandLine(probeMain);
}
