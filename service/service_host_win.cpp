#include "service/service_host_win.h"

#include "os/diagnostics.h"
#include "os/text_win.h"
#include "service/com_module_win.h"
#include "service/light_control_com_win.h"
#include "service/resources_win.h"
#include "service/service_control.h"
#include "service/service_identity.h"

#include <mutex>
#include <string>

namespace service {
namespace {

// One run of the service. The manager's control calls arrive on the dispatcher's
// thread while the service main runs on its own: the state moves under the lock.
struct Host {
    std::mutex mutex;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    DWORD mainThread = 0;
    ServiceLifecycle lifecycle{{
        [this](ServiceState state, std::uint32_t exitCode) { report(state, exitCode); },
        [](const std::string& text) { os::logEvent(os::narrow(serviceName()), text); },
    }};

    // Before the handler is registered there is nobody to report to.
    void report(ServiceState state, std::uint32_t exitCode) const {
        if (!statusHandle)
            return;
        SERVICE_STATUS status{};
        status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status.dwCurrentState = DWORD(state);
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
        status.dwWin32ExitCode = exitCode;
        SetServiceStatus(statusHandle, &status);
    }
};

Host& host() {
    // Control calls may come until the process ends.
    static Host* const instance = new Host;
    return *instance;
}

void WINAPI controlHandler(DWORD control) {
    handleServiceControl(control);
}

// The service's own thread: offers the class until the stop control's quit arrives.
// The controller and its effects are not touched: they outlive the service.
std::uint32_t serveClass() {
    static LightControlFactory factory(ComModule::instance());
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(CLSID_LightControl, &factory, CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie);
    if (FAILED(hr))
        return std::uint32_t(hr);
    {
        std::lock_guard lock(host().mutex);
        host().lifecycle.running();
    }
    hr = CoResumeClassObjects();
    if (FAILED(hr)) {
        CoRevokeClassObject(cookie);
        return std::uint32_t(hr);
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return std::uint32_t(CoRevokeClassObject(cookie));
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    os::routeMessagesToEventLog(os::narrow(serviceName()));
    Host& self = host();
    // The queue must exist before the stop control can post the quit to it.
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    {
        std::lock_guard lock(self.mutex);
        self.lifecycle.starting();
        self.mainThread = GetCurrentThreadId();
    }
    const SERVICE_STATUS_HANDLE handle =
        RegisterServiceCtrlHandlerW(serviceName().c_str(), controlHandler);
    if (!handle) {
        os::logEvent(os::narrow(serviceName()), eventText(kEventNoHandler));
        return;
    }
    {
        std::lock_guard lock(self.mutex);
        self.statusHandle = handle;
        self.report(self.lifecycle.state(), self.lifecycle.exitCode());
    }

    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(com)) {
        // Said to the manager rather than left start-pending for ever.
        std::lock_guard lock(self.mutex);
        self.lifecycle.stopped(std::uint32_t(com));
        return;
    }
    const std::uint32_t exitCode = serveClass();
    CoUninitialize();
    std::lock_guard lock(self.mutex);
    self.lifecycle.stopped(exitCode);
}

} // namespace

void handleServiceControl(DWORD control) {
    Host& self = host();
    std::lock_guard lock(self.mutex);
    switch (controlAction(control)) {
    case ControlAction::Stop:
        self.lifecycle.stopping();
        PostThreadMessageW(self.mainThread, WM_QUIT, 0, 0);
        break;
    case ControlAction::Ignore:
        break;
    case ControlAction::BadRequest:
        self.lifecycle.badRequest();
        break;
    }
}

HRESULT runAsService() {
    std::wstring name = serviceName();
    SERVICE_TABLE_ENTRYW table[] = {{name.data(), serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table))
        return HRESULT(GetLastError());
    return S_OK;
}

} // namespace service
