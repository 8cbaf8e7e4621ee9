#include "service/local_server_win.h"

#include "os/com_apartment.h"
#include "os/diagnostics.h"
#include "service/com_module_win.h"
#include "service/light_control_com_win.h"

namespace service {
namespace {

// Gives the last calls' replies time to leave the process before it ends.
constexpr DWORD kLingerMs = 1000;
constexpr DWORD kMonitorWaitMs = 10000;
// COM starts the program for a client, which normally connects at once. One that
// went to another instance instead never comes, and nothing would end this one.
constexpr DWORD kFirstClientMs = 20000;

struct Monitor {
    HANDLE shutdown;
    DWORD mainThread;
};

DWORD WINAPI monitorMain(void* parameter) {
    const Monitor& monitor = *static_cast<const Monitor*>(parameter);
    if (WaitForSingleObject(monitor.shutdown, kFirstClientMs) == WAIT_TIMEOUT) {
        if (ComModule::instance().count() == 0)
            CoSuspendClassObjects();
        else
            WaitForSingleObject(monitor.shutdown, INFINITE);
    }
    PostThreadMessageW(monitor.mainThread, WM_QUIT, 0, 0);
    return 0;
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_)
            CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

} // namespace

HRESULT runLocalServer() {
    // No service, so no event source of ours; and no person either (COM started us).
    os::routeMessagesToDebugger();
    const os::ComApartment apartment(os::ComApartment::Kind::MultiThreaded);
    if (!apartment.ok())
        return apartment.result();

    // Outlive the class registration and every object COM might still release.
    static LightControlFactory factory(ComModule::instance());
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(CLSID_LightControl, &factory, CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie);
    if (FAILED(hr))
        return hr;

    // The thread's message queue must exist before the monitor can post to it.
    MSG message;
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    static Handle shutdown(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    static Monitor monitor{shutdown.get(), GetCurrentThreadId()};
    Handle monitorThread(
        shutdown.get() ? CreateThread(nullptr, 0, monitorMain, &monitor, 0, nullptr) : nullptr);
    if (!shutdown.get() || !monitorThread.get()) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        CoRevokeClassObject(cookie);
        return FAILED(hr) ? hr : E_FAIL;
    }
    ComModule::instance().setIdleHandler([] {
        // No new objects from here on, even for a client that is just connecting.
        CoSuspendClassObjects();
        SetEvent(shutdown.get());
    });

    hr = CoResumeClassObjects();
    if (FAILED(hr)) {
        SetEvent(shutdown.get());
        WaitForSingleObject(monitorThread.get(), kMonitorWaitMs);
        CoRevokeClassObject(cookie);
        return hr;
    }
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    CoRevokeClassObject(cookie);
    // A client may have reached the class between the last release and the revoke
    // (Wine's COM does not suspend it): its object is served until it lets go too.
    // New clients meanwhile get a server of their own.
    do {
        if (ComModule::instance().count() > 0)
            WaitForSingleObject(shutdown.get(), INFINITE);
        Sleep(kLingerMs);
    } while (ComModule::instance().count() > 0);
    return S_OK;
}

} // namespace service
