#pragma once

// Starts a test helper program and waits for it: the exit status, or -1 when it
// could not be started.

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#else
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace vbtest {

inline int runProgram(const std::filesystem::path& program, const std::vector<std::string>& args) {
#ifdef _WIN32
    // The C runtime joins the arguments with blanks: quote each one.
    std::vector<std::wstring> quoted;
    quoted.push_back(L"\"" + program.wstring() + L"\"");
    for (const std::string& arg : args)
        quoted.push_back(L"\"" + std::filesystem::path(arg).wstring() + L"\"");
    std::vector<const wchar_t*> argv;
    for (const std::wstring& arg : quoted)
        argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    return int(_wspawnv(_P_WAIT, program.c_str(), argv.data()));
#else
    std::vector<std::string> all = {program.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, all[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
#endif
}

} // namespace vbtest
