#include "panel/startup_win.h"

#include <shellapi.h>
#include <string>
#include <vector>

namespace panel {

namespace {

// Characters the code page cannot show become its default character, as the C
// runtime's own ANSI arguments would have them.
std::string toAnsi(const wchar_t* text) {
    int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string converted(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, converted.data(), length, nullptr, nullptr);
    converted.resize(static_cast<std::size_t>(length) - 1);
    return converted;
}

} // namespace

int runWithCommandLine(const wchar_t* commandLine, MainFunction main) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(commandLine, &count);
    if (!wide)
        return -1;
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        arguments.push_back(toAnsi(wide[i]));
    LocalFree(wide);

    // main may rearrange the vector (QApplication takes out the options it knows), so
    // it gets a copy of the pointers and the strings stay put.
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    return main(count, argv.data());
}

int runWithProcessCommandLine(MainFunction main) {
    return runWithCommandLine(GetCommandLineW(), main);
}

InstanceClaim claimSingleInstance(const wchar_t* mutexName) {
    InstanceClaim claim;
    claim.mutex = CreateMutexW(nullptr, TRUE, mutexName);
    // Read at once: anything called in between may overwrite the last error.
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        if (claim.mutex)
            CloseHandle(claim.mutex);
        claim.mutex = nullptr;
        claim.alreadyRunning = true;
    }
    return claim;
}

} // namespace panel
