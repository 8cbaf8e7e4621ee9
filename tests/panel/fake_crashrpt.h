#pragma once

// A stand-in crash-report library for the panel's start-up tests. It records what
// the panel hands it; tests reach the record through the extra exports below. Plain
// data: the test program and the library have heaps of their own.

#include <cstdint>

struct FakeCrashRptState {
    // Every call gets the next number, starting at 1; 0 means never called.
    std::uint32_t nextCall;
    std::uint32_t versionCall;
    std::uint32_t initCall;

    // The application record as each call received it: its bytes (as many as the
    // size field says, up to the buffer) and the texts behind its pointers.
    std::uint8_t appAtVersion[64];
    std::uint8_t appAtInit[64];
    char appId[64];
    std::uint8_t prefixGiven; // the prefix pointer was not null
    wchar_t appName[64];
    wchar_t company[64];

    std::uint8_t settings[64];
    std::uint32_t handleCrashes; // InitCrashRpt's third argument

    // What the stand-in answers.
    std::uint16_t version[4]; // written by GetVersionFromApp (not by the failing variant)
    std::uint32_t initResult;
    std::uint32_t readyAfter; // IsReadyToExit answers nonzero from this call on
    std::uint32_t readyCalls;
};

using FakeCrashRptStateFn = FakeCrashRptState* (*)();
// Clears the record and sets the answers back: version 7.3.0.12, InitCrashRpt
// succeeds, ready at the first call.
using FakeCrashRptResetFn = void (*)();

inline constexpr const char* kFakeCrashRptState = "fake_crashrpt_state";
inline constexpr const char* kFakeCrashRptReset = "fake_crashrpt_reset";
