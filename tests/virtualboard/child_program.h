#pragma once

// A program of the test's running beside it, stopped with it.

#include <csignal>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vbtest {

// A program of the test's, stopped (SIGTERM, then waited for) with it.
class Child {
public:
    Child(const std::filesystem::path& program, std::vector<std::string> args) {
        args.insert(args.begin(), program.string());
        pid_ = fork();
        if (pid_ == 0) {
            std::vector<char*> argv;
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Child() { stop(); }
    pid_t pid() const { return pid_; }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // The exit status, or -1. SIGKILL plays a program that crashes.
    int stop(int signal = SIGTERM) {
        if (pid_ <= 0)
            return status_;
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
    }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

} // namespace vbtest
