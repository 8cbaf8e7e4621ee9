#pragma once

// A session bus daemon of the test's own, stopped with it; CI machines run no bus. The
// daemon looks for activatable services under `dataDirectory`/dbus-1/services first,
// and passes the test's environment (VBOARD_IMAGE, ...) to what it activates.

#include "test_environment.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace vbtest {

class BusDaemon {
public:
    explicit BusDaemon(const std::filesystem::path& dataDirectory = {}) {
        std::optional<testing_support::ScopedEnvironment> dataDirs;
        if (!dataDirectory.empty())
            dataDirs.emplace("XDG_DATA_DIRS", dataDirectory.string() + ":/usr/share");
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 3);
            // Complaints about resource limits it may not raise are noise here.
            const int quiet = open("/dev/null", O_WRONLY);
            if (quiet >= 0)
                dup2(quiet, 2);
            if (fds[0] != 3)
                close(fds[0]);
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nosyslog",
                   "--print-address=3", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string line;
        char c;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            line.push_back(c);
        close(fds[0]);
        if (!line.empty()) {
            address_ = line;
            session_.emplace("DBUS_SESSION_BUS_ADDRESS", line);
            bus_.emplace("LUMIVANE_BUS", "session");
        }
    }
    ~BusDaemon() {
        session_.reset();
        bus_.reset();
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    BusDaemon(const BusDaemon&) = delete;
    BusDaemon& operator=(const BusDaemon&) = delete;

    bool running() const { return !address_.empty(); }

private:
    pid_t pid_ = -1;
    std::string address_;
    std::optional<testing_support::ScopedEnvironment> session_, bus_;
};

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
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    // The exit status, or -1.
    int stop() {
        if (pid_ <= 0)
            return status_;
        kill(pid_, SIGTERM);
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
