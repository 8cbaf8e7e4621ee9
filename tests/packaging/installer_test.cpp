// The installer as a user meets it, in a prefix made for this test alone
// (with-fresh-prefix): a silent install leaves this build's three programs in Program
// Files, the service running and reachable from the README's script and from the
// panel's client, and the panel's settings file open to Users; a second install (an
// upgrade) keeps both settings files; the silent uninstall takes everything else away.

#include "eventually.h"
#include "panel/panel_settings.h"
#include "panel/service_client.h"
#include "settings/lighting_settings.h"
#include "test_environment.h"

#include <aclapi.h>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sddl.h>
#include <set>
#include <shlobj.h>
#include <sstream>
#include <string>
#include <windows.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const wchar_t* kServiceName = L"Vantor LED Control Service";
constexpr const wchar_t* kUninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Lumivane";
constexpr const wchar_t* kClassKey = L"CLSID\\{361DC8C5-F8D3-4CA5-856B-946A98360025}";

// A path of the build machine as Wine's Z: drive shows it.
fs::path hostPath(std::string_view unixPath) {
    std::string path = "Z:" + std::string(unixPath);
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return fs::path(path);
}

fs::path buildDirectory() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path();
}

struct Finished {
    int exitCode = -1;
    std::string output; // standard output and error
};

// Runs the command line and waits for it and every process it starts (an uninstaller
// hands over to a copy of itself and ends at once), all kept in one job; gives the
// first process's exit code and what the processes wrote. The output goes through a
// file: a pipe would stay open as long as anything that inherited it.
Finished run(std::wstring line, std::chrono::seconds limit = 120s) {
    Finished result;
    static int count = 0;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const fs::path outputFile =
        fs::path(temp) / ("lumivane-run-" + std::to_string(GetCurrentProcessId()) + "-" +
                          std::to_string(++count) + ".txt");
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output =
        CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return result;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = output;
    startup.hStdError = output;
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    PROCESS_INFORMATION process{};
    const bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                        CREATE_SUSPENDED, nullptr, nullptr, &startup, &process);
    CloseHandle(output);
    if (started) {
        AssignProcessToJobObject(job, process.hProcess);
        ResumeThread(process.hThread);
        WaitForSingleObject(process.hProcess, DWORD(limit.count() * 1000));
        testing_support::eventually(
            [&] {
                JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info{};
                return QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info,
                                                 sizeof info, nullptr) &&
                       info.ActiveProcesses == 0;
            },
            limit);
        DWORD code = DWORD(-1);
        GetExitCodeProcess(process.hProcess, &code);
        result.exitCode = int(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(job);
    std::ifstream in(outputFile, std::ios::binary);
    result.output.assign(std::istreambuf_iterator<char>(in), {});
    in.close();
    std::error_code ignored;
    fs::remove(outputFile, ignored);
    return result;
}

std::wstring quoted(const fs::path& path) {
    return L"\"" + path.wstring() + L"\"";
}

std::optional<std::wstring> stringValue(HKEY root, const std::wstring& key, const wchar_t* name) {
    wchar_t data[2048] = {};
    DWORD size = sizeof data;
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(data);
}

std::optional<DWORD> dwordValue(HKEY root, const std::wstring& key, const wchar_t* name) {
    DWORD data = 0, size = sizeof data;
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &data, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return data;
}

bool keyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// What `sc query` says of the service, as an administrator would ask.
std::string serviceQuery() {
    return run(L"sc.exe query \"" + std::wstring(kServiceName) + L"\"", 30s).output;
}

bool serviceInstalled() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service =
        manager ? OpenServiceW(manager, kServiceName, SERVICE_QUERY_STATUS) : nullptr;
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    return service != nullptr;
}

bool serviceRunning() {
    return testing_support::eventually(
        [] { return serviceQuery().find("RUNNING") != std::string::npos; }, 30s);
}

std::set<std::string> filesIn(const fs::path& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        names.insert(entry.path().filename().string());
    return names;
}

std::string contentOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

fs::path programsFolder() {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_PROGRAMS, nullptr, 0, path);
    return path;
}

fs::path programFiles() {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, path);
    return path;
}

// The program a shortcut starts; empty when it cannot be read.
fs::path shortcutTarget(const fs::path& shortcut) {
    fs::path target;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return target;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t path[MAX_PATH] = {};
        if (SUCCEEDED(file->Load(shortcut.c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, 0)))
            target = path;
        file->Release();
    }
    link->Release();
    return target;
}

// Wine turns a file's access list into its Unix permissions (the Users entry becomes
// the group's write permission) and hands back one made from those, without the
// entry; it checks access by the Unix permissions alone, and everyone is an
// administrator there. Under Wine the installer's exit code, which reports a failed
// grant, is what can be checked.
bool underWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The rights the file's own access list grants the Users group.
ACCESS_MASK grantedToUsers(const fs::path& file) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return 0;
    BYTE users[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof users;
    CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size);
    ACCESS_MASK granted = 0;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&header)) ||
            header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            continue;
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        if (EqualSid(&ace->SidStart, users))
            granted |= ace->Mask;
    }
    LocalFree(descriptor);
    return granted;
}

// The access list as text, for the failure messages.
std::string daclText(const fs::path& file) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return "(unreadable)";
    LPSTR text = nullptr;
    std::string result = "(no text)";
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        result = text;
        LocalFree(text);
    }
    LocalFree(descriptor);
    return result;
}

// The README's script for the service, as a user would save it: the indented block
// that starts with its name.
std::string readmeScript() {
    std::istringstream readme(contentOf(hostPath(LUMIVANE_README)));
    std::string line, script;
    bool inside = false;
    while (std::getline(readme, line)) {
        if (!inside && line.starts_with("    ' set-mode.vbs"))
            inside = true;
        if (inside && !line.starts_with("    "))
            break;
        if (inside)
            script += line.substr(4) + "\r\n";
    }
    return script;
}

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }

    static fs::path installer() { return hostPath(LUMIVANE_INSTALLER); }
    static fs::path installDir() { return programFiles() / "Lumivane"; }
    static fs::path shortcut() { return programsFolder() / "Lumivane.lnk"; }

    // The three deliverables, byte for byte those of this build.
    static void expectProgramsInstalled() {
        for (const char* name : {"Lumivane.exe", "viruv.exe", "Haltmod.dll"}) {
            SCOPED_TRACE(name);
            const std::string installed = contentOf(installDir() / name);
            EXPECT_FALSE(installed.empty());
            EXPECT_TRUE(installed == contentOf(buildDirectory() / name));
        }
    }

    // The exit code: the error of the step that failed (see lumivane.nsi).
    int install() {
        const int code = run(quoted(installer()) + L" /S", 180s).exitCode;
        if (code != 0)
            ADD_FAILURE() << "messages: " << contentOf(messageFile_) << "\n" << serviceQuery();
        return code;
    }

    testing_support::TemporaryDirectory scratch_;
    fs::path messageFile_ = scratch_.path() / "messages.txt";
    // The registration switches' message boxes would block a silent run under Wine.
    testing_support::ScopedEnvironment messages_{"LUMIVANE_MESSAGE_FILE", messageFile_.string()};
};

TEST_F(InstallerTest, SilentInstallUpgradeAndUninstall) {
    ASSERT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "not a fresh prefix";
    ASSERT_EQ(install(), 0);

    // Files: the programs, the panel's settings and the uninstaller, nothing else from
    // the build; the service adds its own file when it starts.
    expectProgramsInstalled();
    ASSERT_TRUE(serviceRunning()) << serviceQuery();
    EXPECT_TRUE(
        testing_support::eventually([] { return fs::exists(installDir() / "Lighting.xml"); }));
    EXPECT_EQ(filesIn(installDir()),
              (std::set<std::string>{"Haltmod.dll", "Lighting.xml", "Lumivane.exe", "Uninstall.exe",
                                     "lightingControl.xml", "viruv.exe"}));
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE,
                          L"System\\CurrentControlSet\\Services\\" + std::wstring(kServiceName),
                          L"ImagePath"),
              quoted(installDir() / "Lumivane.exe"));
    EXPECT_EQ(stringValue(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\LocalServer32", nullptr),
              quoted(installDir() / "Lumivane.exe"));

    // The list of installed programs.
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayName"), L"Lumivane");
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"DisplayVersion"),
              std::wstring(L"" LUMIVANE_VERSION));
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"Publisher"), L"Lumivane");
    EXPECT_EQ(stringValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString"),
              quoted(installDir() / "Uninstall.exe"));
    std::uintmax_t bytes = 0;
    for (const auto& entry : fs::directory_iterator(installDir()))
        bytes += entry.file_size();
    const auto kilobytes = dwordValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"EstimatedSize");
    ASSERT_TRUE(kilobytes);
    EXPECT_NEAR(double(*kilobytes), double(bytes) / 1024, 8); // rounded per file

    EXPECT_EQ(shortcutTarget(shortcut()), installDir() / "viruv.exe");

    // The README's script against the installed service, through Wine's script host.
    const fs::path script = scratch_.path() / "set-mode.vbs";
    std::ofstream(script, std::ios::binary) << readmeScript();
    const Finished scripted = run(L"cscript.exe //nologo " + quoted(script) + L" 2", 60s);
    EXPECT_EQ(scripted.exitCode, 0) << scripted.output;
    EXPECT_NE(scripted.output.find("mode 2"), std::string::npos) << scripted.output;
    EXPECT_EQ(settings::LightingSettings(installDir() / "Lighting.xml").getMode(), 2);
    // The panel's own way in: the version-independent ProgID.
    EXPECT_EQ(panel::ServiceClient().mode(), std::optional<std::int16_t>(2));

    // The panel's file: its defaults, open to Users for modification, and written
    // in place.
    const fs::path panelFile = installDir() / panel::PanelSettings::kFileName;
    constexpr ACCESS_MASK modify = FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE;
    if (!underWine()) {
        EXPECT_EQ(grantedToUsers(panelFile) & modify, modify) << daclText(panelFile);
    }
    EXPECT_EQ(grantedToUsers(installDir() / "Lumivane.exe") & FILE_WRITE_DATA, 0u)
        << daclText(installDir() / "Lumivane.exe");
    {
        panel::PanelSettings panelSettings(panelFile);
        EXPECT_EQ(panelSettings.readLedMode(panel::PanelSettings::kLedKey),
                  panel::PanelSettings::kDefaultLedMode);
        panelSettings.writeLedMode(panel::PanelSettings::kLedKey, 0x00FF0001);
        EXPECT_EQ(panelSettings.readLedMode(panel::PanelSettings::kLedKey), 0x00FF0001);
    }

    // An upgrade over it: both files as the user left them, the service back and
    // running the kept effect.
    ASSERT_EQ(install(), 0);
    expectProgramsInstalled();
    EXPECT_TRUE(serviceRunning()) << serviceQuery();
    EXPECT_EQ(panel::PanelSettings(panelFile).readLedMode(panel::PanelSettings::kLedKey),
              0x00FF0001);
    EXPECT_EQ(settings::LightingSettings(installDir() / "Lighting.xml").getMode(), 2);
    EXPECT_EQ(panel::ServiceClient().mode(), std::optional<std::int16_t>(2));
    if (!underWine()) {
        EXPECT_EQ(grantedToUsers(panelFile) & modify, modify) << daclText(panelFile);
    }

    // The uninstaller the list of programs names, silent.
    const auto uninstall = stringValue(HKEY_LOCAL_MACHINE, kUninstallKey, L"UninstallString");
    ASSERT_TRUE(uninstall);
    ASSERT_EQ(run(*uninstall + L" /S", 180s).exitCode, 0);
    EXPECT_FALSE(serviceInstalled()) << serviceQuery();
    CLSID clsid;
    EXPECT_NE(CLSIDFromProgID(L"Lumivane.LightControl.1", &clsid), S_OK);
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, L"Lumivane.LightControl"));
    EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\LocalServer32"));
    EXPECT_FALSE(fs::exists(shortcut()));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    // A silent uninstall keeps the user's settings, and so their folder.
    EXPECT_EQ(filesIn(installDir()),
              (std::set<std::string>{"Lighting.xml", "lightingControl.xml"}));
    EXPECT_EQ(settings::LightingSettings(installDir() / "Lighting.xml").getMode(), 2);
    EXPECT_EQ(panel::PanelSettings(panelFile).readLedMode(panel::PanelSettings::kLedKey),
              0x00FF0001);

    EXPECT_EQ(contentOf(messageFile_), "");
}

} // namespace
