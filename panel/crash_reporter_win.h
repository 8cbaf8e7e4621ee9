#pragma once

// The panel's caller of the optional crash-report library "crashrpt.dll". The panel
// runs the same with or without it; only these records and three calls are ours.

#include <cstddef>
#include <cstdint>
#include <string>
#include <windows.h>

namespace panel {

// Handed to GetVersionFromApp, which fills the version, and then to InitCrashRpt.
// The library reads the fields through the pointers, so the record is laid out
// with the platform's pointer size: 36 bytes on 32-bit Windows, 56 on 64-bit.
struct CrashReportAppInfo {
    std::uint32_t size;
    const char* appId;
    const char* prefix;
    const wchar_t* appName;
    const wchar_t* company;
    std::uint16_t version[4];
    std::uint8_t reserved[8];
};

// None of its fields is known to be a pointer, so it is 52 bytes on both widths.
struct CrashReportSettings {
    std::uint32_t size;
    std::uint32_t reserved4;
    // The one field the panel sets besides the size, to 1; its meaning is the library's.
    std::uint32_t flag;
    std::uint8_t reserved[40];
};

#if defined(_WIN32) && !defined(_WIN64)
// The 32-bit layout is the one the shipped library reads.
static_assert(sizeof(CrashReportAppInfo) == 36);
static_assert(offsetof(CrashReportAppInfo, appId) == 4);
static_assert(offsetof(CrashReportAppInfo, prefix) == 8);
static_assert(offsetof(CrashReportAppInfo, appName) == 12);
static_assert(offsetof(CrashReportAppInfo, company) == 16);
static_assert(offsetof(CrashReportAppInfo, version) == 20);
static_assert(offsetof(CrashReportAppInfo, reserved) == 28);
#endif
static_assert(sizeof(CrashReportSettings) == 52);
static_assert(offsetof(CrashReportSettings, flag) == 8);

// The exception code the fallback handler lets the process continue past when
// there is no crash reporting.
inline constexpr DWORD kCrashReportException = 0xCCE17000;

// Loads the crash-report library and, when it is complete, hands it the panel's
// records; otherwise installs the fallback handler. The process has exactly one of
// these (processCrashReporter()); tests make their own against stand-in libraries.
class CrashReporter {
public:
    // A bare name is found by the system's default search order.
    explicit CrashReporter(const std::string& libraryName);
    CrashReporter(const CrashReporter&) = delete;
    CrashReporter& operator=(const CrashReporter&) = delete;
    // Unloads nothing and leaves the handler alone: that is the exit step's work.
    ~CrashReporter() = default;

    bool loaded() const { return loaded_; }
    bool initialised() const { return initialised_; }
    bool handlerInstalled() const { return handlerInstalled_; }

    // Waits until the library has finished its work (it may be sending a report),
    // then takes the fallback handler away again.
    void exitStep();

private:
    using InitFn = BOOL(WINAPI*)(CrashReportAppInfo*, CrashReportSettings*, BOOL);
    using ReadyFn = BOOL(WINAPI*)();
    using VersionFromAppFn = BOOL(WINAPI*)(CrashReportAppInfo*);
    using UnusedFn = FARPROC; // looked up only so that an incomplete library is noticed

    bool loaded_ = false;
    bool initialised_ = false;
    bool handlerInstalled_ = false;
    InitFn initCrashRpt_ = nullptr;
    UnusedFn sendReport_ = nullptr;
    ReadyFn isReadyToExit_ = nullptr;
    UnusedFn setCustomInfo_ = nullptr;
    UnusedFn addUserInfoToReport_ = nullptr;
    UnusedFn removeUserInfoFromReport_ = nullptr;
    UnusedFn addFileToReport_ = nullptr;
    UnusedFn removeFileFromReport_ = nullptr;
    VersionFromAppFn getVersionFromApp_ = nullptr;
    UnusedFn getVersionFromFile_ = nullptr;
    void* handler_ = nullptr;
};

// The process's one reporter: made during static initialisation of the program that
// links lumivane_panel_crash_reporting, before the panel's other static objects,
// and never destroyed; its exit step runs at process exit.
CrashReporter& processCrashReporter();

} // namespace panel
