#pragma once

// The login manager's seat0, one session and its user, on a private bus made the
// system bus of the test: the test says who is at the seat (or nobody), and the seat
// announces each change as the login manager does, by PropertiesChanged.

#include "dbus/logind_adaptor.h"
#include "private_bus.h"
#include "test_environment.h"

#include <mutex>
#include <optional>
#include <string>

namespace service_testing {

namespace login1 = org::freedesktop::login1;

struct SeatAccount {
    std::uint32_t uid;
    std::uint32_t gid;
    std::string name;
    std::string runtimePath;
};

class FakeSeat final : public sdbus::AdaptorInterfaces<login1::Seat_adaptor> {
public:
    explicit FakeSeat(sdbus::IConnection& connection)
        : AdaptorInterfaces(connection, "/org/freedesktop/login1/seat/seat0") {
        registerAdaptor();
    }
    ~FakeSeat() { unregisterAdaptor(); }

    void setActive(const std::string& id, const std::string& path) {
        {
            std::lock_guard lock(mutex_);
            active_ = {id, sdbus::ObjectPath(path)};
        }
        getObject().emitPropertiesChangedSignal(Seat_adaptor::INTERFACE_NAME, {"ActiveSession"});
    }

private:
    sdbus::Struct<std::string, sdbus::ObjectPath> ActiveSession() override {
        std::lock_guard lock(mutex_);
        return active_;
    }
    std::mutex mutex_;
    sdbus::Struct<std::string, sdbus::ObjectPath> active_{std::string(), sdbus::ObjectPath("/")};
};

class FakeSession final : public sdbus::AdaptorInterfaces<login1::Session_adaptor> {
public:
    FakeSession(sdbus::IConnection& connection, const std::string& path, SeatAccount account,
                std::string userPath)
        : AdaptorInterfaces(connection, path), account_(std::move(account)),
          userPath_(std::move(userPath)) {
        registerAdaptor();
    }
    ~FakeSession() { unregisterAdaptor(); }

private:
    sdbus::Struct<std::uint32_t, sdbus::ObjectPath> User() override {
        return {account_.uid, sdbus::ObjectPath(userPath_)};
    }
    std::string Name() override { return account_.name; }
    SeatAccount account_;
    std::string userPath_;
};

class FakeUser final : public sdbus::AdaptorInterfaces<login1::User_adaptor> {
public:
    FakeUser(sdbus::IConnection& connection, const std::string& path, SeatAccount account)
        : AdaptorInterfaces(connection, path), account_(std::move(account)) {
        registerAdaptor();
    }
    ~FakeUser() { unregisterAdaptor(); }

private:
    std::string RuntimePath() override { return account_.runtimePath; }
    std::uint32_t GID() override { return account_.gid; }
    SeatAccount account_;
};

// seat0 with one session of `account` ("/org/freedesktop/login1/session/_1"), not
// active until the test makes it so.
class SeatBus {
public:
    static constexpr const char* kSession = "/org/freedesktop/login1/session/_1";

    explicit SeatBus(const SeatAccount& account) {
        if (!bus_.running())
            return;
        system_.emplace("DBUS_SYSTEM_BUS_ADDRESS", bus_.address());
        connection_ = sdbus::createSystemBusConnection("org.freedesktop.login1");
        const std::string userPath = "/org/freedesktop/login1/user/_" + std::to_string(account.uid);
        seat.emplace(*connection_);
        session_.emplace(*connection_, kSession, account, userPath);
        user_.emplace(*connection_, userPath, account);
        connection_->enterEventLoopAsync();
    }
    ~SeatBus() {
        if (connection_)
            connection_->leaveEventLoop();
        seat.reset();
        session_.reset();
        user_.reset();
    }
    bool running() const { return seat.has_value(); }
    void logIn() { seat->setActive("1", kSession); }
    void logOut() { seat->setActive("", "/"); }

    std::optional<FakeSeat> seat;

private:
    testing_support::PrivateBus bus_;
    std::optional<testing_support::ScopedEnvironment> system_;
    std::unique_ptr<sdbus::IConnection> connection_;
    std::optional<FakeSession> session_;
    std::optional<FakeUser> user_;
};

} // namespace service_testing
