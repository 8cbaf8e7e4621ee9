// Lumivane.exe as COM and installers see it: the registration switches run as child
// processes, the registered server started by COM for clients by ProgID, and a
// script that calls it late-bound. Registrations live in the prefix every test
// shares, so each test removes its own; the served program's Lighting.xml is the
// build tree's, kept as the test found it.

#include "com/LumivaneLib.h"
#include "led_controller_fixture.h"
#include "os/com_apartment.h"
#include "os/diagnostics.h"
#include "panel/service_client.h"
#include "service/light_control_com_win.h"
#include "service/lighting_window_win.h"
#include "service/service_host_win.h"

#include <fstream>
#include <map>
#include <tlhelp32.h>

namespace {

using namespace std::chrono_literals;
using Values = std::map<std::wstring, std::wstring>;

const std::filesystem::path& binaryDirectory() {
    static const std::filesystem::path dir = os::executablePath().value().parent_path();
    return dir;
}
std::filesystem::path program() {
    return binaryDirectory() / LUMIVANE_SERVICE_PROGRAM;
}

// The program with its arguments as the line says, the way installers and COM start
// it (a quoted switch would not count); the exit code, or -1.
int run(const std::filesystem::path& file, const std::wstring& arguments) {
    std::wstring line = L"\"" + file.wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(file.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = DWORD(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(code);
}

std::wstring guidText(const GUID& guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// Every value under the key, named "sub\key|value name" (an empty name for the
// default, an empty data for a key without one), and the keys without values.
void collect(HKEY key, const std::wstring& prefix, Values& out) {
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 256, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            break;
        std::wstring data(size / sizeof(wchar_t), L'\0');
        nameLength = 256;
        RegEnumValueW(key, i, name, &nameLength, nullptr, &type,
                      reinterpret_cast<BYTE*>(data.data()), &size);
        data.resize(wcsnlen(data.c_str(), data.size()));
        out[prefix + L"|" + name] = data;
    }
    if (!out.contains(prefix + L"|"))
        out[prefix + L"|"] = L"";
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            collect(sub, prefix + L"\\" + name, out);
            RegCloseKey(sub);
        }
    }
}

// None when the key is not there.
std::optional<Values> valuesUnder(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    Values values;
    collect(key, path, values);
    RegCloseKey(key);
    return values;
}

bool keyExists(HKEY root, const std::wstring& path) {
    return valuesUnder(root, path).has_value();
}

// What registration writes, key by key, under a classes root.
Values expectedClass() {
    const std::wstring clsid = L"CLSID\\" + guidText(CLSID_LightControl);
    return {
        {L"Lumivane.LightControl.1|", L"LightControl Class"},
        {L"Lumivane.LightControl.1\\CLSID|", guidText(CLSID_LightControl)},
        {L"Lumivane.LightControl|", L"LightControl Class"},
        {L"Lumivane.LightControl\\CurVer|", L"Lumivane.LightControl.1"},
        {clsid + L"|", L"LightControl Class"},
        {clsid + L"|AppID", guidText(service::kLightControlAppId)},
        {clsid + L"\\ProgID|", L"Lumivane.LightControl.1"},
        {clsid + L"\\VersionIndependentProgID|", L"Lumivane.LightControl"},
        {clsid + L"\\Programmable|", L""},
        {clsid + L"\\LocalServer32|", L"\"" + program().wstring() + L"\""},
        {clsid + L"\\TypeLib|", guidText(LIBID_LumivaneLib)},
        {clsid + L"\\Version|", L"1.0"},
    };
}

Values registeredClass(HKEY root) {
    Values all;
    for (const std::wstring& key :
         {std::wstring(L"Lumivane.LightControl.1"), std::wstring(L"Lumivane.LightControl"),
          L"CLSID\\" + guidText(CLSID_LightControl)})
        if (auto values = valuesUnder(root, key))
            all.insert(values->begin(), values->end());
    return all;
}

std::wstring appIdKey() {
    return L"AppID\\" + guidText(service::kLightControlAppId);
}

bool typeLibraryRegistered() {
    BSTR path = nullptr;
    const HRESULT hr = QueryPathOfRegTypeLib(LIBID_LumivaneLib, 1, 0, 0, &path);
    SysFreeString(path);
    return SUCCEEDED(hr);
}

int serverProcesses() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int found = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        found += _wcsicmp(entry.szExeFile, program().filename().c_str()) == 0;
    CloseHandle(snapshot);
    return found;
}

// The server ends a second after its last object; COM may take a while to start
// and stop a process under Wine, so the bound is generous.
bool serverEnds() {
    for (int i = 0; i < 200; ++i) {
        if (serverProcesses() == 0)
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

class ComServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        led_testing::sharedBoard(); // the served program's board, through the environment
        ASSERT_TRUE(apartment.ok());
        if (std::ifstream in{settingsFile(), std::ios::binary})
            saved_.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::filesystem::remove(settingsFile());
    }
    void TearDown() override {
        lumivane(L"/UnregServer");
        lumivane(L"/UnregServerPerUser");
        // A server still on its way out may yet write the file.
        EXPECT_TRUE(serverEnds());
        std::filesystem::remove(settingsFile());
        if (saved_)
            std::ofstream(settingsFile(), std::ios::binary) << *saved_;
    }

    static std::filesystem::path settingsFile() {
        return binaryDirectory() / settings::LightingSettings::kFileName;
    }
    static int lumivane(const std::wstring& option) { return run(program(), option); }
    void clearMessages() const { std::filesystem::remove(messageFile_); }
    std::string messages() const {
        std::ifstream in(messageFile_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    os::ComApartment apartment{os::ComApartment::Kind::SingleThreaded};

private:
    testing_support::TemporaryDirectory dir_;
    std::filesystem::path messageFile_ = dir_.path() / "messages.txt";
    testing_support::ScopedEnvironment messageFileSet_{"LUMIVANE_MESSAGE_FILE",
                                                       messageFile_.string()};
    std::optional<std::string> saved_;
};

// The service of the program's name, installed and never started.
bool installService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return false;
    const std::wstring command = L"\"" + program().wstring() + L"\" /Service";
    SC_HANDLE service = CreateServiceW(
        manager, L"Vantor LED Control Service", L"Vantor LED Control Service", SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(),
        nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

bool serviceInstalled() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    SC_HANDLE service = OpenServiceW(manager, L"Vantor LED Control Service", SERVICE_QUERY_STATUS);
    if (service)
        CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return service != nullptr;
}

TEST_F(ComServerTest, RegServerWritesTheClassAndUnregServerRemovesIt) {
    // A service installed earlier goes: the program now runs as a local server.
    ASSERT_TRUE(installService());
    // A left-over service identity: registration takes the program off it.
    ASSERT_EQ(
        RegSetKeyValueW(HKEY_CLASSES_ROOT, appIdKey().c_str(), L"LocalService", REG_SZ, L"x", 4),
        ERROR_SUCCESS);
    ASSERT_EQ(lumivane(L"/RegServer"), 0);
    EXPECT_EQ(registeredClass(HKEY_CLASSES_ROOT), expectedClass());
    EXPECT_EQ(valuesUnder(HKEY_CLASSES_ROOT, appIdKey()), (Values{{appIdKey() + L"|", L""}}));
    EXPECT_TRUE(typeLibraryRegistered());
    // Automation marshalling of the interface comes with the type library.
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, L"Interface\\" + guidText(IID_ILightControl)));
    EXPECT_FALSE(serviceInstalled());
    EXPECT_EQ(messages(), ""); // a service that was not running is no failure

    ASSERT_EQ(lumivane(L"/UnregServer"), 0);
    EXPECT_EQ(registeredClass(HKEY_CLASSES_ROOT), Values{});
    EXPECT_FALSE(typeLibraryRegistered());
    EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, L"CLSID"));
}

TEST_F(ComServerTest, PerUserRegistrationLandsInTheUsersClasses) {
    HKEY classes = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ,
                              nullptr, &classes, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(lumivane(L"/RegServerPerUser"), 0);
    EXPECT_EQ(registeredClass(classes), expectedClass());
    // The identity every start reads stays the machine's.
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\" + appIdKey()));
    EXPECT_FALSE(keyExists(classes, appIdKey()));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, L"Software\\Classes\\Lumivane.LightControl.1"));
    EXPECT_TRUE(typeLibraryRegistered());

    ASSERT_EQ(lumivane(L"/UnregServerPerUser"), 0);
    EXPECT_EQ(registeredClass(classes), Values{});
    EXPECT_FALSE(typeLibraryRegistered());
    RegCloseKey(classes);
}

ILightControl* create() {
    CLSID clsid;
    // The versioned ProgID: the version-independent one leads to the class only
    // through CurVer, which Wine's COM does not follow (the panel's client does).
    const HRESULT found = CLSIDFromProgID(L"Lumivane.LightControl.1", &clsid);
    EXPECT_EQ(found, S_OK);
    if (FAILED(found))
        return nullptr;
    ILightControl* control = nullptr;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_ILightControl,
                                        reinterpret_cast<void**>(&control));
    EXPECT_EQ(hr, S_OK);
    return SUCCEEDED(hr) ? control : nullptr;
}

TEST_F(ComServerTest, ComStartsTheRegisteredServerWhichEndsAfterTheLastRelease) {
    const panel::ServiceClient client;
    EXPECT_FALSE(client.mode()); // nothing registered: out of reach
    ASSERT_EQ(lumivane(L"/RegServer"), 0);

    ILightControl* first = create();
    ILightControl* second = create();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(serverProcesses(), 1);
    EXPECT_EQ(first->put_Color(0x00123456), S_OK);
    ULONG color = 0;
    EXPECT_EQ(second->get_Color(&color), S_OK);
    EXPECT_EQ(color, 0x00123456u);

    // Late-bound by name, as scripts call it, across the process boundary.
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(first->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Mode")};
    DISPID mode = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &mode), S_OK);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 1;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put{&value, &named, 1, 1};
    EXPECT_EQ(
        dispatch->Invoke(mode, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
        S_OK);
    SHORT read = 0;
    EXPECT_EQ(second->get_Mode(&read), S_OK);
    EXPECT_EQ(read, 1);
    dispatch->Release();

    // The panel's client reaches the same server.
    EXPECT_TRUE(client.setMode(2));
    EXPECT_EQ(client.mode(), std::optional<std::int16_t>(2));
    EXPECT_EQ(client.color(), std::optional<std::uint32_t>(0x00123456));
    EXPECT_EQ(settings::LightingSettings(settingsFile()).getMode(), 2);
    EXPECT_TRUE(client.setMode(0));

    first->Release();
    EXPECT_EQ(serverProcesses(), 1);
    second->Release();
    EXPECT_TRUE(serverEnds());
}

// A client keeping the class factory gets an object from a server that has just let
// go of its last one and is on its way out (COM clients calling back to back meet the
// same moment): that object is served for as long as it is held.
TEST_F(ComServerTest, AnObjectTakenWhileTheServerStopsIsServedToItsRelease) {
    ASSERT_EQ(lumivane(L"/RegServer"), 0);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"Lumivane.LightControl.1", &clsid), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    ILightControl* first = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ILightControl, reinterpret_cast<void**>(&first)),
              S_OK);
    EXPECT_EQ(first->put_Mode(1), S_OK);
    first->Release();

    ILightControl* late = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ILightControl, reinterpret_cast<void**>(&late)),
              S_OK);
    std::this_thread::sleep_for(1500ms); // past the second a stopping server lingers
    SHORT mode = -1;
    EXPECT_EQ(late->get_Mode(&mode), S_OK);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(late->put_Mode(0), S_OK);
    late->Release();
    factory->Release();
    EXPECT_TRUE(serverEnds());
}

constexpr const wchar_t* kServiceName = L"Vantor LED Control Service";

class ServiceHandle {
public:
    explicit ServiceHandle(DWORD access) {
        manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager_)
            service_ = OpenServiceW(manager_, kServiceName, access);
    }
    ~ServiceHandle() {
        if (service_)
            CloseServiceHandle(service_);
        if (manager_)
            CloseServiceHandle(manager_);
    }
    SC_HANDLE get() const { return service_; }

private:
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

DWORD serviceState() {
    ServiceHandle service(SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    return service.get() && QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

bool reaches(DWORD state) {
    return testing_support::eventually([&] { return serviceState() == state; }, 20s);
}

std::optional<std::wstring> localService() {
    wchar_t name[300] = {};
    DWORD size = sizeof name;
    if (RegGetValueW(HKEY_CLASSES_ROOT, appIdKey().c_str(), L"LocalService", RRF_RT_REG_SZ, nullptr,
                     name, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(name);
}

struct InstalledService {
    DWORD type = 0, start = 0, errorControl = 0;
    std::wstring path, dependencies, account, description;
};

std::optional<InstalledService> installedService() {
    ServiceHandle service(SERVICE_QUERY_CONFIG);
    if (!service.get())
        return std::nullopt;
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, DWORD(buffer.size()), &needed))
        return std::nullopt;
    InstalledService found;
    found.type = config->dwServiceType;
    found.start = config->dwStartType;
    found.errorControl = config->dwErrorControl;
    found.path = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
    for (const wchar_t* d = config->lpDependencies; d && *d; d += wcslen(d) + 1)
        found.dependencies += std::wstring(d) + L";";
    found.account = config->lpServiceStartName ? config->lpServiceStartName : L"";
    std::vector<BYTE> more(8192);
    auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(more.data());
    if (QueryServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, more.data(),
                             DWORD(more.size()), &needed) &&
        description->lpDescription)
        found.description = description->lpDescription;
    return found;
}

TEST_F(ComServerTest, ServiceSwitchInstallsTheServiceAndRegServerTakesItBack) {
    for (const wchar_t* option : {L"-Service", L"/service", L"/SERVICE"}) {
        SCOPED_TRACE(testing::Message() << std::filesystem::path(option).string());
        // Each run removes the one installed before it and installs afresh.
        ASSERT_EQ(lumivane(option), 0);
        const auto service = installedService();
        ASSERT_TRUE(service);
        EXPECT_EQ(service->type, DWORD(SERVICE_WIN32_OWN_PROCESS));
        EXPECT_EQ(service->start, DWORD(SERVICE_AUTO_START));
        EXPECT_EQ(service->errorControl, DWORD(SERVICE_ERROR_NORMAL));
        EXPECT_EQ(service->path, L"\"" + program().wstring() + L"\"");
        // Wine 8's service manager keeps no dependencies at all.
        EXPECT_TRUE(service->dependencies == L"RPCSS;" || service->dependencies.empty())
            << std::filesystem::path(service->dependencies).string();
        // No account given is the local system; Wine reports it as no name at all.
        EXPECT_TRUE(service->account == L"LocalSystem" || service->account.empty())
            << std::filesystem::path(service->account).string();
        EXPECT_EQ(service->description, L"Provides LED Control Function for Vantorix Motherboard.");
        EXPECT_EQ(localService(), std::optional<std::wstring>(kServiceName));
        EXPECT_EQ(registeredClass(HKEY_CLASSES_ROOT), expectedClass());
        EXPECT_TRUE(typeLibraryRegistered());
    }
    EXPECT_EQ(messages(), "");
    // No switch matches, so the registration decides: the service, which the
    // dispatcher refuses to a program started by hand.
    EXPECT_EQ(lumivane(L"/ServiceX"), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    EXPECT_EQ(lumivane(L""), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    EXPECT_EQ(serviceState(), DWORD(SERVICE_STOPPED));

    // RegServer wins over Service in either order, and takes the service away.
    for (const wchar_t* line : {L"/Service /RegServer", L"/RegServer -Service"}) {
        ASSERT_EQ(lumivane(L"/Service"), 0);
        ASSERT_EQ(lumivane(line), 0);
        EXPECT_FALSE(installedService());
        EXPECT_EQ(localService(), std::nullopt);
        EXPECT_TRUE(keyExists(HKEY_CLASSES_ROOT, appIdKey()));
        EXPECT_EQ(registeredClass(HKEY_CLASSES_ROOT), expectedClass());
    }
}

// The identity is the machine's in every scope: a per-user registration after
// /Service takes the service's LocalService away with the service (else every later
// start would be a service the dispatcher refuses). Without any identity a plain start
// ends at once with the registry's own error code.
TEST_F(ComServerTest, PerUserRegistrationEndsTheServiceAndNoIdentityExitsWithTwo) {
    ASSERT_EQ(lumivane(L"/Service"), 0);
    ASSERT_EQ(localService(), std::optional<std::wstring>(kServiceName));
    ASSERT_EQ(lumivane(L"/RegServerPerUser"), 0);
    EXPECT_FALSE(installedService());
    EXPECT_EQ(localService(), std::nullopt);
    ASSERT_EQ(lumivane(L"/UnregServerPerUser"), 0);

    RegDeleteTreeW(HKEY_CLASSES_ROOT, appIdKey().c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, appIdKey().c_str());
    ASSERT_FALSE(keyExists(HKEY_CLASSES_ROOT, appIdKey()));
    EXPECT_EQ(lumivane(L""), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(messages(), "");
}

// The life cycle the README gives an administrator, each step checked: install,
// start, a client, controls, stop, activation by COM, removal.
TEST_F(ComServerTest, ServiceRunsUnderTheServiceManagerUntilItIsStopped) {
    ASSERT_EQ(lumivane(L"/Service"), 0);
    {
        ServiceHandle service(SERVICE_START);
        ASSERT_TRUE(service.get());
        ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));
    }
    ASSERT_TRUE(reaches(SERVICE_RUNNING));

    ILightControl* control = create();
    ASSERT_TRUE(control);
    EXPECT_EQ(control->put_Mode(2), S_OK);
    EXPECT_EQ(settings::LightingSettings(settingsFile()).getMode(), 2);
    EXPECT_EQ(control->put_Mode(0), S_OK);
    control->Release();

    {
        ServiceHandle service(SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL | SERVICE_STOP |
                              SERVICE_QUERY_STATUS);
        SERVICE_STATUS status{};
        ControlService(service.get(), SERVICE_CONTROL_PAUSE, &status);
        ControlService(service.get(), 128, &status);
        EXPECT_EQ(serviceState(), DWORD(SERVICE_RUNNING));
        // The last release does not end a service.
        std::this_thread::sleep_for(1500ms);
        EXPECT_EQ(serverProcesses(), 1);
        EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    }
    EXPECT_TRUE(reaches(SERVICE_STOPPED));
    EXPECT_TRUE(serverEnds());

    // A client while the service is stopped: COM starts it through LocalService.
    control = create();
    ASSERT_TRUE(control);
    EXPECT_EQ(serviceState(), DWORD(SERVICE_RUNNING));
    control->Release();
    {
        ServiceHandle service(SERVICE_STOP);
        SERVICE_STATUS status{};
        EXPECT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    }
    EXPECT_TRUE(reaches(SERVICE_STOPPED));
    EXPECT_TRUE(serverEnds());

    ASSERT_EQ(lumivane(L"/UnregServer"), 0);
    EXPECT_FALSE(installedService());
    EXPECT_EQ(localService(), std::nullopt);
    CLSID clsid;
    EXPECT_NE(CLSIDFromProgID(L"Lumivane.LightControl.1", &clsid), S_OK);
    EXPECT_EQ(messages(), "");
}

// Removing a service that refuses the stop: silently when it is already on its way
// down (an installer stopped it first) and the removal then waits for it, with
// "Could not stop service" when it is still starting. Deleted either way.
TEST_F(ComServerTest, CouldNotStopServiceIsToldOnlyWhenTheServiceIsNotStopping) {
    struct Case {
        const wchar_t* state;
        DWORD reached;
        bool stopFirst;
        bool told;
    };
    for (const Case& c : {Case{L"stop-pending", SERVICE_RUNNING, true, false},
                          Case{L"start-pending", SERVICE_START_PENDING, false, true}}) {
        SCOPED_TRACE(testing::Message() << std::filesystem::path(c.state).string());
        clearMessages();
        {
            SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
            ASSERT_TRUE(manager);
            const std::wstring command =
                L"\"" + (binaryDirectory() / LUMIVANE_PENDING_SERVICE).wstring() + L"\" " + c.state;
            SC_HANDLE created = CreateServiceW(
                manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                nullptr, nullptr, nullptr);
            ASSERT_TRUE(created);
            EXPECT_TRUE(StartServiceW(created, 0, nullptr));
            CloseServiceHandle(created);
            CloseServiceHandle(manager);
        }
        ASSERT_TRUE(reaches(c.reached));
        if (c.stopFirst) {
            ServiceHandle service(SERVICE_STOP);
            SERVICE_STATUS status{};
            ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
            ASSERT_TRUE(reaches(SERVICE_STOP_PENDING));
        }
        EXPECT_EQ(lumivane(L"/UnregServer"), 0);
        EXPECT_EQ(messages().find("Could not stop service") != std::string::npos, c.told)
            << messages();
        // A stopping service was waited for and is gone; a starting one goes once it ends.
        if (c.told) {
            EXPECT_TRUE(testing_support::eventually([] { return !installedService(); }, 20s));
        } else {
            EXPECT_FALSE(installedService());
        }
    }
}

// The handler as the manager calls it: only an unknown control is written down.
TEST(ServiceControlHandler, WritesBadServiceRequestForUnknownControlsOnly) {
    os::CapturedDiagnostics captured;
    for (DWORD control : {2u, 3u, 4u, 5u})
        service::handleServiceControl(control);
    EXPECT_TRUE(captured.all().empty());
    service::handleServiceControl(128);
    EXPECT_EQ(captured.all(),
              (std::vector<os::Diagnostic>{{os::Diagnostic::Kind::Event,
                                            "Vantor LED Control Service", "Bad service request"}}));
}

// Suspend and resume told to the hidden window of a running program arrive and are
// handled off the window's thread: the window answers at once, again and again. (The
// effect's restart needs the firmware's lighting item, which no bridge offers here;
// the controller's own tests cover it.)
TEST_F(ComServerTest, PowerBroadcastsReachTheHiddenWindowWhichStaysResponsive) {
    ASSERT_EQ(lumivane(L"/RegServer"), 0);
    settings::LightingSettings(settingsFile()).setMode(2);
    // As COM starts it: the server waits a while for its first client.
    std::wstring line = L"\"" + program().wstring() + L"\" -Embedding";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(program().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process));
    HWND window = nullptr;
    EXPECT_TRUE(testing_support::eventually(
        [&] { return (window = FindWindowW(service::kLightingWindowName, nullptr)) != nullptr; },
        20s));
    if (window) {
        wchar_t title[64] = {};
        GetWindowTextW(window, title, 64);
        EXPECT_STREQ(title, service::kLightingWindowName);
        EXPECT_FALSE(IsWindowVisible(window));
        DWORD_PTR result = 0;
        for (WPARAM event : {4, 18, 18, 4, 7})
            EXPECT_NE(
                SendMessageTimeoutW(window, WM_POWERBROADCAST, event, 0, SMTO_BLOCK, 5000, &result),
                0)
                << event;
        EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &result), 0);
        // The stored mode is the controller's to keep; power events do not change it.
        EXPECT_EQ(settings::LightingSettings(settingsFile()).getMode(), 2);
    }
    // A first client and its release end the server the orderly way: one killed
    // would stay registered with COM and turn later activations away.
    if (ILightControl* control = create())
        control->Release();
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

} // namespace
