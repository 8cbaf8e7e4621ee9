#include "panel/crash_reporter_win.h"

#include "os/library.h"

#include <cstring>

namespace panel {

namespace {

constexpr char kAppId[] = "3c9e51d2-7a40-4f86-b1d3-52e0a9c4f718";
constexpr wchar_t kAppName[] = L"Vantor Lighting Control";
constexpr wchar_t kCompany[] = L"Vantorix COMPUTER INC.";

// How long the exit step waits between asking the library whether it is done.
constexpr DWORD kExitPollMs = 100;

// Without the library nothing would catch the crash-report exception, and the
// process would end on it: let execution continue instead. Everything else goes on
// to the next handler as if this one were not there.
LONG CALLBACK continueCrashReportException(EXCEPTION_POINTERS* exception) {
    if (exception->ExceptionRecord->ExceptionCode == kCrashReportException)
        return EXCEPTION_CONTINUE_EXECUTION;
    return EXCEPTION_CONTINUE_SEARCH;
}

template <typename Function>
bool find(const os::Library& library, const char* name, Function& function) {
    function = library.function<Function>(name);
    return function != nullptr;
}

} // namespace

CrashReporter::CrashReporter(const std::string& libraryName) {
    // Never unloaded: the library may keep handlers of its own installed until the
    // process ends.
    os::Library library = os::Library::open(libraryName);
    if (library) {
        // Every name is looked up even after one is missing, so that what was found
        // is there for the exit step regardless.
        bool all = true;
        all &= find(library, "InitCrashRpt", initCrashRpt_);
        all &= find(library, "SendReport", sendReport_);
        all &= find(library, "IsReadyToExit", isReadyToExit_);
        all &= find(library, "SetCustomInfo", setCustomInfo_);
        all &= find(library, "AddUserInfoToReport", addUserInfoToReport_);
        all &= find(library, "RemoveUserInfoFromReport", removeUserInfoFromReport_);
        all &= find(library, "AddFileToReport", addFileToReport_);
        all &= find(library, "RemoveFileFromReport", removeFileFromReport_);
        all &= find(library, "GetVersionFromApp", getVersionFromApp_);
        all &= find(library, "GetVersionFromFile", getVersionFromFile_);
        loaded_ = all;
    }

    if (!loaded_) {
        handler_ = AddVectoredExceptionHandler(1, continueCrashReportException);
        handlerInstalled_ = handler_ != nullptr;
        return;
    }

    // The records only live for the two calls; the texts they point at live as long
    // as the process, should the library hold on to those.
    CrashReportAppInfo app;
    std::memset(&app, 0, sizeof app);
    app.size = sizeof app;
    app.appId = kAppId;
    app.prefix = nullptr;
    app.appName = kAppName;
    app.company = kCompany;
    if (getVersionFromApp_(&app) == 0)
        app.version[0] = 1;

    CrashReportSettings settings;
    std::memset(&settings, 0, sizeof settings);
    settings.size = sizeof settings;
    settings.flag = 1;

    initialised_ = initCrashRpt_(&app, &settings, TRUE) != 0;
}

void CrashReporter::exitStep() {
    if (isReadyToExit_) {
        while (isReadyToExit_() == 0)
            Sleep(kExitPollMs);
    }
    if (handlerInstalled_) {
        RemoveVectoredExceptionHandler(handler_);
        handlerInstalled_ = false;
        handler_ = nullptr;
    }
}

} // namespace panel
