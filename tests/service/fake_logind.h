#pragma once

// A login manager of the test's own on a private bus that stands in for the system
// bus: it hands out delay inhibitor locks as pipes, so the test sees when the holder
// lets go, and announces sleep and resume when told.

#include "dbus/logind_adaptor.h"
#include "eventually.h"
#include "private_bus.h"
#include "test_environment.h"

#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace service_testing {

class FakeLogind final
    : public sdbus::AdaptorInterfaces<org::freedesktop::login1::Manager_adaptor> {
public:
    explicit FakeLogind(sdbus::IConnection& connection)
        : AdaptorInterfaces(connection, "/org/freedesktop/login1") {
        registerAdaptor();
    }
    ~FakeLogind() {
        unregisterAdaptor();
        for (int fd : readEnds_)
            ::close(fd);
    }

    void announceSleep(bool start) { emitPrepareForSleep(start); }

    // Locks taken so far, and the arguments of the last.
    int locksTaken() const {
        std::lock_guard lock(mutex_);
        return int(readEnds_.size());
    }
    std::vector<std::string> lastRequest() const {
        std::lock_guard lock(mutex_);
        return lastRequest_;
    }
    // Whether lock `index` (0 the first) is still held: its pipe has no hang-up yet.
    bool held(int index) const {
        std::lock_guard lock(mutex_);
        pollfd fd{readEnds_.at(std::size_t(index)), POLLIN, 0};
        return ::poll(&fd, 1, 0) == 0;
    }

private:
    sdbus::UnixFd Inhibit(const std::string& what, const std::string& who, const std::string& why,
                          const std::string& mode) override {
        int fds[2];
        if (::pipe(fds) != 0)
            throw sdbus::Error("org.freedesktop.DBus.Error.Failed", "no pipe");
        std::lock_guard lock(mutex_);
        readEnds_.push_back(fds[0]);
        lastRequest_ = {what, who, why, mode};
        return sdbus::UnixFd(fds[1], sdbus::adopt_fd);
    }

    mutable std::mutex mutex_;
    std::vector<int> readEnds_;
    std::vector<std::string> lastRequest_;
};

// The stand-in on a bus of its own, made the system bus of the test and of what it
// starts from here on (construct it before the session bus).
class LogindBus {
public:
    LogindBus() {
        if (!bus_.running())
            return;
        system_.emplace("DBUS_SYSTEM_BUS_ADDRESS", bus_.address());
        connection_ = sdbus::createSystemBusConnection("org.freedesktop.login1");
        logind.emplace(*connection_);
        connection_->enterEventLoopAsync();
    }
    ~LogindBus() {
        if (connection_)
            connection_->leaveEventLoop();
        logind.reset();
    }
    bool running() const { return logind.has_value(); }

    std::optional<FakeLogind> logind;

private:
    testing_support::PrivateBus bus_;
    std::optional<testing_support::ScopedEnvironment> system_;
    std::unique_ptr<sdbus::IConnection> connection_;
};

} // namespace service_testing
