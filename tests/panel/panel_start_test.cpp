#include "fake_crashrpt.h"
#include "os/executable.h"
#include "os/library.h"
#include "panel/crash_reporter_win.h"
#include "panel/startup_win.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

constexpr DWORD kOtherException = 0xE0001234;
constexpr DWORD kPatienceMs = 60000;

// The stand-in's state, reached through a second load of the same module.
FakeCrashRptState& fakeState(const char* file) {
    os::Library library = os::Library::open(file);
    return *library.function<FakeCrashRptStateFn>(kFakeCrashRptState)();
}

FakeCrashRptState& resetFake(const char* file) {
    os::Library library = os::Library::open(file);
    library.function<FakeCrashRptResetFn>(kFakeCrashRptReset)();
    return fakeState(file);
}

template <typename T>
T at(const std::uint8_t* bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

// The application record's layout as the library sees it on this width.
constexpr std::size_t kPointer = sizeof(void*);
constexpr std::uint32_t kAppSize = kPointer == 4 ? 36 : 56;
constexpr std::size_t kVersionAt = kPointer == 4 ? 20 : 40;

// A vectored handler added last, as the test's own catch-all: it sees the test's
// two exception codes only when nothing before it continued them, and continues
// them itself so that the tests go on.
class LastHandler {
public:
    LastHandler() : handle_(AddVectoredExceptionHandler(0, record)) {
        crashReportSeen = 0;
        otherSeen = 0;
    }
    ~LastHandler() { RemoveVectoredExceptionHandler(handle_); }
    LastHandler(const LastHandler&) = delete;
    LastHandler& operator=(const LastHandler&) = delete;

    static inline int crashReportSeen = 0;
    static inline int otherSeen = 0;

private:
    static LONG CALLBACK record(EXCEPTION_POINTERS* exception) {
        DWORD code = exception->ExceptionRecord->ExceptionCode;
        if (code == panel::kCrashReportException)
            ++crashReportSeen;
        else if (code == kOtherException)
            ++otherSeen;
        else
            return EXCEPTION_CONTINUE_SEARCH;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    void* handle_;
};

void raise(DWORD code) {
    RaiseException(code, 0, 0, nullptr);
}

TEST(CrashReporter, CompleteLibraryGetsTheRecordsAndIsWaitedForAtExit) {
    FakeCrashRptState& fake = resetFake(FAKE_CRASHRPT_FILE);
    fake.readyAfter = 3;
    LastHandler last;
    panel::CrashReporter reporter(FAKE_CRASHRPT_FILE);

    EXPECT_TRUE(reporter.loaded());
    EXPECT_TRUE(reporter.initialised());
    EXPECT_FALSE(reporter.handlerInstalled());
    ASSERT_NE(fake.versionCall, 0u);
    EXPECT_LT(fake.versionCall, fake.initCall);

    // Zero-filled before the first call: everything but the size and the four
    // pointers is 0, padding included.
    EXPECT_EQ(at<std::uint32_t>(fake.appAtVersion, 0), kAppSize);
    for (std::size_t i = 4; i < kAppSize; ++i) {
        if (i < kPointer || i >= kVersionAt) {
            EXPECT_EQ(fake.appAtVersion[i], 0) << "byte " << i;
        }
    }

    EXPECT_EQ(at<std::uint32_t>(fake.appAtInit, 0), kAppSize);
    EXPECT_STREQ(fake.appId, "3c9e51d2-7a40-4f86-b1d3-52e0a9c4f718");
    EXPECT_FALSE(fake.prefixGiven);
    EXPECT_STREQ(fake.appName, L"Vantor Lighting Control");
    EXPECT_STREQ(fake.company, L"Vantorix COMPUTER INC.");
    // The version the library wrote is the one it is initialised with.
    EXPECT_EQ(at<std::uint16_t>(fake.appAtInit, kVersionAt), 7);
    EXPECT_EQ(at<std::uint16_t>(fake.appAtInit, kVersionAt + 2), 3);
    EXPECT_EQ(at<std::uint16_t>(fake.appAtInit, kVersionAt + 4), 0);
    EXPECT_EQ(at<std::uint16_t>(fake.appAtInit, kVersionAt + 6), 12);
    for (std::size_t i = kVersionAt + 8; i < kAppSize; ++i)
        EXPECT_EQ(fake.appAtInit[i], 0) << "byte " << i;

    EXPECT_EQ(at<std::uint32_t>(fake.settings, 0), 52u);
    EXPECT_EQ(at<std::uint32_t>(fake.settings, 8), 1u);
    for (std::size_t i = 0; i < 52; ++i) {
        if (i >= 12 || (i >= 4 && i < 8)) {
            EXPECT_EQ(fake.settings[i], 0) << "byte " << i;
        }
    }
    EXPECT_EQ(fake.handleCrashes, 1u);

    // With the library there is no fallback: the exception goes on to other handlers.
    raise(panel::kCrashReportException);
    EXPECT_EQ(LastHandler::crashReportSeen, 1);

    EXPECT_EQ(fake.readyCalls, 0u);
    reporter.exitStep();
    EXPECT_EQ(fake.readyCalls, 3u);
}

TEST(CrashReporter, FailuresOfTheLibraryItself) {
    FakeCrashRptState& fake = resetFake(FAKE_CRASHRPT_FILE);
    fake.initResult = 0;
    panel::CrashReporter refused(FAKE_CRASHRPT_FILE);
    EXPECT_TRUE(refused.loaded());
    EXPECT_FALSE(refused.initialised());
    EXPECT_FALSE(refused.handlerInstalled());

    // A library that cannot tell the version is still initialised, as version 1.
    FakeCrashRptState& versionless = resetFake(FAKE_CRASHRPT_VERSION_FAILS_FILE);
    panel::CrashReporter reporter(FAKE_CRASHRPT_VERSION_FAILS_FILE);
    EXPECT_TRUE(reporter.loaded());
    EXPECT_TRUE(reporter.initialised());
    ASSERT_NE(versionless.initCall, 0u);
    EXPECT_EQ(at<std::uint16_t>(versionless.appAtInit, kVersionAt), 1);
    EXPECT_EQ(at<std::uint16_t>(versionless.appAtInit, kVersionAt + 2), 0);
    EXPECT_EQ(at<std::uint16_t>(versionless.appAtInit, kVersionAt + 6), 0);
}

TEST(CrashReporter, IncompleteLibraryFallsBackToTheFirstHandler) {
    FakeCrashRptState& fake = resetFake(FAKE_CRASHRPT_INCOMPLETE_FILE);
    fake.readyAfter = 2;
    // Added before the reporter's: only a handler installed as the first one comes
    // before it.
    LastHandler last;
    panel::CrashReporter reporter(FAKE_CRASHRPT_INCOMPLETE_FILE);

    EXPECT_FALSE(reporter.loaded());
    EXPECT_FALSE(reporter.initialised());
    EXPECT_TRUE(reporter.handlerInstalled());
    EXPECT_EQ(fake.versionCall, 0u);
    EXPECT_EQ(fake.initCall, 0u);

    raise(panel::kCrashReportException);
    EXPECT_EQ(LastHandler::crashReportSeen, 0);
    raise(kOtherException);
    EXPECT_EQ(LastHandler::otherSeen, 1);

    // IsReadyToExit is there even though the library as a whole is not: it is asked.
    reporter.exitStep();
    EXPECT_EQ(fake.readyCalls, 2u);
    EXPECT_FALSE(reporter.handlerInstalled());
    raise(panel::kCrashReportException);
    EXPECT_EQ(LastHandler::crashReportSeen, 1);
}

int recordedArgc = 0;
std::vector<std::string> recordedArgv;
bool recordedTerminator = false;

int recordArguments(int argc, char** argv) {
    recordedArgc = argc;
    recordedArgv.assign(argv, argv + argc);
    recordedTerminator = argv[argc] == nullptr;
    return 42;
}

TEST(Startup, CommandLineSplitsAsTheSystemDoesIntoAnsiArguments) {
    int result = panel::runWithCommandLine(
        L"\"C:\\Program Files\\viruv.exe\" \"two words\" say\\\"hi\\\" \"\" a\\\\b caf\u00e9",
        recordArguments);
    EXPECT_EQ(result, 42);
    ASSERT_EQ(recordedArgc, 6);
    EXPECT_TRUE(recordedTerminator);
    EXPECT_EQ(recordedArgv[0], "C:\\Program Files\\viruv.exe");
    EXPECT_EQ(recordedArgv[1], "two words");
    EXPECT_EQ(recordedArgv[2], "say\"hi\"");
    EXPECT_EQ(recordedArgv[3], "");
    EXPECT_EQ(recordedArgv[4], "a\\\\b");
    // ANSI, not UTF-8: one byte in the Western code page.
    if (GetACP() == 1252) {
        EXPECT_EQ(recordedArgv[5], "caf\xE9");
    } else {
        EXPECT_NE(GetACP(), static_cast<UINT>(CP_UTF8));
    }
}

// Runs the probe program with one argument and returns its exit code.
DWORD runProbe(const char* argument) {
    std::wstring line = L"\"" + os::fileBesideExecutable(PROBE_FILE).wstring() + L"\" ";
    for (const char* c = argument; *c; ++c)
        line += static_cast<wchar_t>(*c);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        ADD_FAILURE() << "cannot start the probe: " << GetLastError();
        return 0xFFFFFFFF;
    }
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(info.hProcess, kPatienceMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    else
        TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

TEST(Startup, OnePanelPerLogOn) {
    panel::InstanceClaim first = panel::claimSingleInstance();
    ASSERT_FALSE(first.alreadyRunning);
    ASSERT_NE(first.mutex, nullptr);
    EXPECT_EQ(runProbe("instance"), 0u);
    CloseHandle(first.mutex);
    EXPECT_EQ(runProbe("instance"), 2u);

    // A name taken by an object of another kind is a failure other than an
    // existing panel: the panel starts.
    const wchar_t* name = L"lumivane-panel-start-test-taken-name";
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name);
    ASSERT_NE(event, nullptr);
    panel::InstanceClaim blocked = panel::claimSingleInstance(name);
    EXPECT_FALSE(blocked.alreadyRunning);
    EXPECT_EQ(blocked.mutex, nullptr);
    CloseHandle(event);
}

TEST(Startup, ProcessReporterFromStaticInitialisation) {
    // No crashrpt.dll anywhere the system looks: the panel runs with the fallback.
    EXPECT_EQ(runProbe("reporter"), 16u + 4u);
    EXPECT_EQ(runProbe("raise"), 3u);

    // A complete library found on the search path by its bare name.
    wchar_t saved[32768];
    DWORD length = GetEnvironmentVariableW(L"PATH", saved, 32768);
    std::wstring path = os::fileBesideExecutable(CRASHRPT_DIR).wstring();
    if (length > 0 && length < 32768)
        path += L";" + std::wstring(saved, length);
    SetEnvironmentVariableW(L"PATH", path.c_str());
    DWORD withLibrary = runProbe("reporter");
    SetEnvironmentVariableW(L"PATH", length > 0 && length < 32768 ? saved : nullptr);
    EXPECT_EQ(withLibrary, 16u + 1u + 2u);
}

} // namespace
