// The lighting service on Windows: one program that registers itself, serves its
// automation object to COM as a local server, or runs as the system's service. The lighting
// controller lives on a thread of its own from the start, so that the stored effect runs whichever
// way the program was started.

#include "os/text_win.h"
#include "service/command_line.h"
#include "service/light_control_com_win.h"
#include "service/lighting_window_win.h"
#include "service/local_server_win.h"
#include "service/registration_win.h"
#include "service/resources_win.h"
#include "service/service_host_win.h"

#include <cstdlib>
#include <string>
#include <windows.h>

namespace {

HRESULT runSwitch(service::Switch chosen) {
    using service::RegistrationScope;
    switch (chosen) {
    case service::Switch::RegServer:
        return service::registerServer(RegistrationScope::Machine);
    case service::Switch::UnregServer:
        return service::unregisterServer(RegistrationScope::Machine);
    case service::Switch::RegServerPerUser:
        return service::registerServer(RegistrationScope::User);
    case service::Switch::UnregServerPerUser:
        return service::unregisterServer(RegistrationScope::User);
    case service::Switch::Service:
        return service::registerService();
    case service::Switch::None:
        break;
    }
    return S_OK;
}

// Without a switch the registered identity decides: with a LocalService value the
// program is the service, without one a local server. Without the identity there is
// nothing to be: the exit code is the registry's own error (2 for a missing key), as
// installers and scripts have always been told.
HRESULT runAsRegistered() {
    wchar_t guid[40] = {};
    StringFromGUID2(service::kLightControlAppId, guid, 40);
    const std::wstring key = std::wstring(L"AppID\\") + guid;
    HKEY identity = nullptr;
    const LSTATUS status = RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &identity);
    if (status != ERROR_SUCCESS)
        return HRESULT(status);
    // The name of a service, as COM reads it: longer is no service of ours.
    wchar_t name[261] = {};
    DWORD size = sizeof name;
    const bool asService = RegQueryValueExW(identity, L"LocalService", nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(name), &size) == ERROR_SUCCESS;
    RegCloseKey(identity);
    return asService ? service::runAsService() : service::runLocalServer();
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    service::serviceName();
    // The lighting thread may raise a message at once (a stored Music Effect with no
    // output): where it goes is settled before the thread starts.
    const service::Switch chosen = service::findSwitch(os::narrow(GetCommandLineW()));
    service::routeMessagesFor(chosen, os::narrow(service::serviceName()));
    service::startLightingThread();
    const HRESULT result = chosen == service::Switch::None ? runAsRegistered() : runSwitch(chosen);
    // Bounded: a board that hangs the controller must not hang an installer.
    service::waitForLightingController(5000);
    // The controller is never destroyed and its effect threads may be mid-step: leave
    // without running static destructors under their feet.
    std::_Exit(int(result));
}
