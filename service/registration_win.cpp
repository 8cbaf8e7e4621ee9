#include "service/registration_win.h"

#include "os/executable.h"
#include "os/long_path_win.h"
#include "os/text_win.h"
#include "service/light_control_com_win.h"
#include "service/resource_ids_win.h"
#include "service/resources_win.h"
#include "service/service_identity.h"

#include <string>

// In oleaut32 since Vista, but missing from the MinGW headers.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpDir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID guid, WORD major, WORD minor, LCID locale,
                                        SYSKIND kind);
}

namespace service {
namespace {

constexpr const wchar_t* kDescription = L"LightControl Class";
constexpr const wchar_t* kProgId = L"Lumivane.LightControl.1";
constexpr const wchar_t* kIndependentProgId = L"Lumivane.LightControl";

// How long a stopping service is given before it is deleted anyway.
constexpr DWORD kStopWaitMs = 10000;
constexpr DWORD kStopPollMs = 100;

std::wstring guidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

std::wstring classKey() {
    return L"CLSID\\" + guidText(CLSID_LightControl);
}

std::wstring appIdKey() {
    return L"AppID\\" + guidText(service::kLightControlAppId);
}

// The root all keys of the scope live under, held open while the object lives.
class ClassesRoot {
public:
    explicit ClassesRoot(RegistrationScope scope) {
        if (scope == RegistrationScope::Machine) {
            key_ = HKEY_CLASSES_ROOT;
            return;
        }
        status_ = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        owned_ = status_ == ERROR_SUCCESS;
    }
    ~ClassesRoot() {
        if (owned_)
            RegCloseKey(key_);
    }
    ClassesRoot(const ClassesRoot&) = delete;
    ClassesRoot& operator=(const ClassesRoot&) = delete;

    HRESULT status() const { return HRESULT_FROM_WIN32(status_); }
    HKEY key() const { return key_; }

    HRESULT setString(const std::wstring& key, const wchar_t* name,
                      const std::wstring& value) const {
        return HRESULT_FROM_WIN32(RegSetKeyValueW(key_, key.c_str(), name, REG_SZ, value.c_str(),
                                                  DWORD((value.size() + 1) * sizeof(wchar_t))));
    }
    HRESULT createKey(const std::wstring& key) const {
        HKEY created = nullptr;
        const LSTATUS status = RegCreateKeyExW(key_, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                               &created, nullptr);
        if (status == ERROR_SUCCESS)
            RegCloseKey(created);
        return HRESULT_FROM_WIN32(status);
    }
    // The key with everything under it; a key that is not there is no failure.
    HRESULT deleteTree(const std::wstring& key) const {
        LSTATUS status = RegDeleteTreeW(key_, key.c_str());
        if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
            status = RegDeleteKeyW(key_, key.c_str()); // some systems leave the key itself
        return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
    }
    HRESULT deleteValue(const std::wstring& key, const wchar_t* name) const {
        const LSTATUS status = RegDeleteKeyValueW(key_, key.c_str(), name);
        return status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
    }

private:
    HKEY key_ = nullptr;
    LSTATUS status_ = ERROR_SUCCESS;
    bool owned_ = false;
};

HRESULT programPath(std::wstring& path) {
    const auto program = os::executablePath();
    if (!program)
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    path = program->wstring();
    return S_OK;
}

// Runs the steps in order and stops at the first failure.
template <typename... Steps>
HRESULT inOrder(Steps&&... steps) {
    HRESULT hr = S_OK;
    ((SUCCEEDED(hr) ? (void)(hr = steps()) : (void)0), ...);
    return hr;
}

HRESULT registerClass(const ClassesRoot& root) {
    std::wstring program;
    const std::wstring clsid = guidText(CLSID_LightControl);
    const std::wstring key = classKey();
    const std::wstring progId = kProgId, independent = kIndependentProgId;
    return inOrder(
        [&] { return programPath(program); },
        [&] { return root.setString(progId, nullptr, kDescription); },
        [&] { return root.setString(progId + L"\\CLSID", nullptr, clsid); },
        [&] { return root.setString(independent, nullptr, kDescription); },
        [&] { return root.setString(independent + L"\\CurVer", nullptr, progId); },
        // Afresh: nothing an earlier version left under the class survives.
        [&] { return root.deleteTree(key); },
        [&] { return root.setString(key, nullptr, kDescription); },
        [&] { return root.setString(key, L"AppID", guidText(kLightControlAppId)); },
        [&] { return root.setString(key + L"\\ProgID", nullptr, progId); },
        [&] { return root.setString(key + L"\\VersionIndependentProgID", nullptr, independent); },
        [&] { return root.createKey(key + L"\\Programmable"); },
        [&] { return root.setString(key + L"\\LocalServer32", nullptr, L"\"" + program + L"\""); },
        [&] { return root.setString(key + L"\\TypeLib", nullptr, guidText(LIBID_LumivaneLib)); },
        [&] { return root.setString(key + L"\\Version", nullptr, L"1.0"); });
}

// The CLSID key itself is shared by every class on the system.
HRESULT unregisterClass(const ClassesRoot& root) {
    return inOrder([&] { return root.deleteTree(kProgId); },
                   [&] { return root.deleteTree(kIndependentProgId); },
                   [&] { return root.deleteTree(classKey()); });
}

HRESULT registerTypeLibrary(RegistrationScope scope) {
    std::wstring program;
    HRESULT hr = programPath(program);
    if (FAILED(hr))
        return hr;
    // A program deeper than MAX_PATH is read, and registered, by its short name: the
    // type library functions take no longer one.
    std::wstring path = os::shortPathWhenLong(program).wstring(); // the functions write to it
    ITypeLib* library = nullptr;
    hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr))
        return hr;
    hr = scope == RegistrationScope::Machine
             ? RegisterTypeLib(library, path.data(), nullptr)
             : RegisterTypeLibForUser(library, path.data(), nullptr);
    library->Release();
    return hr;
}

HRESULT unregisterTypeLibrary(RegistrationScope scope) {
    std::wstring program;
    HRESULT hr = programPath(program);
    if (FAILED(hr))
        return hr;
    ITypeLib* library = nullptr;
    hr = LoadTypeLibEx(os::shortPathWhenLong(program).c_str(), REGKIND_NONE, &library);
    if (FAILED(hr))
        return hr;
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (SUCCEEDED(hr)) {
        const TLIBATTR a = *attributes;
        library->ReleaseTLibAttr(attributes);
        hr = scope == RegistrationScope::Machine
                 ? UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind)
                 : UnRegisterTypeLibForUser(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid,
                                            a.syskind);
        // Removing what is not registered leaves the system as wanted.
        BSTR path = nullptr;
        if (FAILED(hr) &&
            FAILED(QueryPathOfRegTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, &path)))
            hr = S_OK;
        SysFreeString(path);
    }
    library->Release();
    return hr;
}

class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceHandle() {
        if (handle_)
            CloseServiceHandle(handle_);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE get() const { return handle_; }

private:
    SC_HANDLE handle_;
};

// Waits a bounded time for a stop the service accepted; it is deleted either way.
void waitForStop(SC_HANDLE service) {
    SERVICE_STATUS status{};
    for (DWORD waited = 0; waited < kStopWaitMs; waited += kStopPollMs) {
        if (!QueryServiceStatus(service, &status) || status.dwCurrentState == SERVICE_STOPPED)
            return;
        Sleep(kStopPollMs);
    }
}

// The identity without a service: only its LocalService value goes.
HRESULT identityWithoutService(const ClassesRoot& root) {
    return inOrder([&] { return root.createKey(appIdKey()); },
                   [&] { return root.deleteValue(appIdKey(), L"LocalService"); });
}

// Created to start on demand, then switched to start with the system (below).
HRESULT createService() {
    std::wstring program;
    HRESULT hr = programPath(program);
    if (FAILED(hr))
        return hr;
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager.get()) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        tell(IDS_CANNOT_OPEN_SERVICE_MANAGER, L"Could not open Service Manager");
        return hr;
    }
    const std::wstring path = L"\"" + program + L"\"";
    // Automation calls reach the service through the RPC subsystem.
    static constexpr wchar_t kDependencies[] = L"RPCSS\0";
    ServiceHandle service(CreateServiceW(
        manager.get(), serviceName().c_str(), serviceName().c_str(), SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(),
        nullptr, nullptr, kDependencies, nullptr, nullptr));
    if (!service.get()) {
        hr = HRESULT_FROM_WIN32(GetLastError());
        tell(IDS_CANNOT_START_SERVICE, L"Could not start service");
        return hr;
    }
    return S_OK;
}

// What is left is not worth failing the installation for: nothing is reported.
void configureService() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.get())
        return;
    ServiceHandle service(
        OpenServiceW(manager.get(), serviceName().c_str(), SERVICE_CHANGE_CONFIG));
    if (!service.get())
        return;
    ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE,
                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    std::wstring text = os::widen(kServiceDescription);
    SERVICE_DESCRIPTIONW description{text.data()};
    ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);
}

HRESULT identityWithService(const ClassesRoot& root) {
    const HRESULT hr =
        inOrder([&] { return identityWithoutService(root); },
                [&] { return root.setString(appIdKey(), L"LocalService", serviceName()); },
                [] { return createService(); });
    configureService();
    return hr;
}

} // namespace

HRESULT removeService() {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.get()) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        tell(IDS_CANNOT_OPEN_SERVICE_MANAGER, L"Could not open Service Manager");
        return hr;
    }
    ServiceHandle service(OpenServiceW(manager.get(), serviceName().c_str(),
                                       SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service.get()) {
        const DWORD error = GetLastError();
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            return S_OK;
        tell(IDS_CANNOT_OPEN_SERVICE, L"Could not open service");
        return HRESULT_FROM_WIN32(error);
    }
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        waitForStop(service.get());
    } else {
        const DWORD error = GetLastError();
        // Not running, or on its way down already (an installer stopped it first):
        // nothing to stop. A service still starting refuses controls too, and that
        // refusal is a failure worth telling; the service is deleted either way.
        const bool stopping = error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL &&
                              status.dwCurrentState == SERVICE_STOP_PENDING;
        if (stopping)
            waitForStop(service.get());
        else if (error != ERROR_SERVICE_NOT_ACTIVE)
            tell(IDS_CANNOT_STOP_SERVICE, L"Could not stop service");
    }
    if (!DeleteService(service.get())) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        tell(IDS_CANNOT_DELETE_SERVICE, L"Could not delete service");
        return hr;
    }
    return S_OK;
}

// The application's identity lives under the machine's classes root in every scope:
// it is what a started program reads to tell service from local server, and a
// LocalService value that /Service left there would otherwise outlive a per-user
// registration and turn every later start into a refused service.
HRESULT registerServer(RegistrationScope scope) {
    const ClassesRoot root(scope);
    const ClassesRoot machine(RegistrationScope::Machine);
    return inOrder([&] { return root.status(); }, [] { return removeService(); },
                   [&] { return identityWithoutService(machine); },
                   [&] { return registerClass(root); }, [&] { return registerTypeLibrary(scope); });
}

HRESULT registerService() {
    const ClassesRoot root(RegistrationScope::Machine);
    return inOrder([&] { return root.status(); }, [] { return removeService(); },
                   [&] { return identityWithService(root); }, [&] { return registerClass(root); },
                   [] { return registerTypeLibrary(RegistrationScope::Machine); });
}

HRESULT unregisterServer(RegistrationScope scope) {
    const ClassesRoot root(scope);
    const ClassesRoot machine(RegistrationScope::Machine);
    return inOrder([&] { return root.status(); }, [&] { return unregisterClass(root); },
                   [&] { return unregisterTypeLibrary(scope); }, [] { return removeService(); },
                   [&] { return machine.deleteValue(appIdKey(), L"LocalService"); });
}

} // namespace service
