#pragma once

// A session bus daemon of the test's own, stopped with it; CI machines run no bus. It
// becomes the session bus of the test (and of what the test starts) and the bus the
// programs use (LUMIVANE_BUS). Given a data directory, the daemon looks for
// activatable services under `dataDirectory`/dbus-1/services first, and passes the
// test's environment (VBOARD_IMAGE, ...) to what it activates.

#include "test_environment.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

class PrivateBus {
public:
    explicit PrivateBus(const std::filesystem::path& dataDirectory = {}) {
        std::optional<ScopedEnvironment> dataDirs;
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
    ~PrivateBus() {
        session_.reset();
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
    std::optional<ScopedEnvironment> session_, bus_;
};

} // namespace testing_support
