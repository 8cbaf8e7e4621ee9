// A service of the lighting service's name that is caught between states, for the
// removal's messages: "start-pending" never gets past starting, "stop-pending" runs
// and then takes its time to stop. Either ends by itself a few seconds later, so that
// a removal left waiting sees it go.

#include <cwchar>
#include <windows.h>

namespace {

constexpr wchar_t kName[] = L"Vantor LED Control Service";
constexpr DWORD kLingerMs = 5000;

SERVICE_STATUS_HANDLE handle = nullptr;
SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, NO_ERROR, 0, 0, 0};
HANDLE stopRequested = nullptr;

void report(DWORD state, DWORD accepted) {
    status.dwCurrentState = state;
    status.dwControlsAccepted = accepted;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 10000;
    SetServiceStatus(handle, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void*, void*) {
    if (code == SERVICE_CONTROL_STOP) {
        report(SERVICE_STOP_PENDING, 0);
        SetEvent(stopRequested);
    }
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, wchar_t**) {
    handle = RegisterServiceCtrlHandlerExW(kName, control, nullptr);
    if (!handle)
        return;
    if (std::wcsstr(GetCommandLineW(), L"start-pending")) {
        report(SERVICE_START_PENDING, 0);
        Sleep(kLingerMs);
    } else {
        report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
        WaitForSingleObject(stopRequested, INFINITE);
        Sleep(kLingerMs);
    }
    report(SERVICE_STOPPED, 0);
}

} // namespace

int main() {
    stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wchar_t name[] = L"Vantor LED Control Service";
    SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : int(GetLastError());
}
