#pragma once

// A D-Bus daemon of the test's own, torn down with it, and the environment that points
// the bridge transport at it. CI machines run no bus at all.

#include "test_environment.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

class PrivateBus {
public:
    PrivateBus() {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(pipeFds[1], 3);
            // Its complaints about resource limits it may not raise are noise here.
            const int quiet = open("/dev/null", O_WRONLY);
            if (quiet >= 0)
                dup2(quiet, 2);
            if (pipeFds[0] != 3)
                close(pipeFds[0]);
            execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nosyslog",
                   "--print-address=3", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        std::string line;
        char c;
        while (read(pipeFds[0], &c, 1) == 1 && c != '\n')
            line.push_back(c);
        close(pipeFds[0]);
        if (!line.empty()) {
            address_ = line;
            sessionAddress_.emplace("DBUS_SESSION_BUS_ADDRESS", line);
            bus_.emplace("LUMIVANE_BUS", "session");
        }
    }
    ~PrivateBus() {
        sessionAddress_.reset();
        bus_.reset();
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool running() const { return !address_.empty(); }
    const std::string& address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string address_;
    std::optional<ScopedEnvironment> sessionAddress_;
    std::optional<ScopedEnvironment> bus_;
};

} // namespace testing_support
