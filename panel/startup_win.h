#pragma once

// The control panel's start on Windows, up to the point where the window takes over:
// the argument vector for main and the one-panel-per-log-on rule.

#include <windows.h>

namespace panel {

using MainFunction = int (*)(int argc, char** argv);

// Splits a wide command line the way the system splits one, converts each argument
// to the ANSI code page and runs main on them; the converted strings live only for
// the call. The result is main's, or -1 when the line cannot be split.
int runWithCommandLine(const wchar_t* commandLine, MainFunction main);

// The same for the process's own command line: all the GUI entry point does.
int runWithProcessCommandLine(MainFunction main);

// The name every control panel of one desktop log-on shares; no global-namespace
// prefix, so other log-ons run panels of their own.
inline constexpr wchar_t kInstanceMutexName[] = L"9B68EE5F-F7F6-4F8E-A4B6-B95BCDDE7973";

struct InstanceClaim {
    // Another panel of this log-on runs: this one returns 0 without a window and does
    // not disturb the other.
    bool alreadyRunning = false;
    // The mutex that marks this panel as the running one, or null when the system
    // could not make it (the panel starts anyway). Left open: it has to last as long
    // as the process.
    HANDLE mutex = nullptr;
};

InstanceClaim claimSingleInstance(const wchar_t* mutexName = kInstanceMutexName);

} // namespace panel
