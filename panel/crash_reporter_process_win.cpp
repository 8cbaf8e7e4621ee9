// The process's one crash reporter. This file goes into the panel program whole (an
// object library), not through a static library, where nothing would pull it in.

#include "panel/crash_reporter_win.h"

#include <cstdlib>

namespace panel {

namespace {

CrashReporter* reporter = nullptr;

void runExitStep() {
    reporter->exitStep();
}

// Never destroyed: the library stays loaded to the end, and the exit step, run by
// the C runtime at exit, is the reporter's only ending.
struct ProcessCrashReporter {
    ProcessCrashReporter() {
        reporter = new CrashReporter("crashrpt.dll");
        std::atexit(runExitStep);
    }
};

// The earliest priority open to programs: the reporter is in place before any other
// static object of the panel is made.
ProcessCrashReporter processReporter __attribute__((init_priority(101)));

} // namespace

CrashReporter& processCrashReporter() {
    return *reporter;
}

} // namespace panel
