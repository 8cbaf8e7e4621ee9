// Lumivane.exe as COM and installers see it: the registration switches run as child
// processes, the registered server started by COM for clients by ProgID, and a
// script that calls it late-bound. Registrations live in the prefix every test
// shares, so each test removes its own; the served program's Lighting.xml is the
// build tree's, kept as the test found it.

#include "com/LumivaneLib.h"
#include "led_controller_fixture.h"
#include "os/com_apartment.h"
#include "panel/service_client.h"
#include "service/light_control_com_win.h"

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
    // An identity with a LocalService value makes the program the service, which
    // cannot run yet.
    ASSERT_EQ(
        RegSetKeyValueW(HKEY_CLASSES_ROOT, appIdKey().c_str(), L"LocalService", REG_SZ, L"x", 4),
        ERROR_SUCCESS);
    EXPECT_EQ(lumivane(L"-Embedding"), HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(RegDeleteKeyValueW(HKEY_CLASSES_ROOT, appIdKey().c_str(), L"LocalService"),
              ERROR_SUCCESS);
    EXPECT_EQ(lumivane(L"/Service"), HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED));
}

TEST_F(ComServerTest, PerUserRegistrationLandsInTheUsersClasses) {
    HKEY classes = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ,
                              nullptr, &classes, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(lumivane(L"/RegServerPerUser"), 0);
    EXPECT_EQ(registeredClass(classes), expectedClass());
    EXPECT_TRUE(keyExists(classes, appIdKey()));
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

} // namespace
