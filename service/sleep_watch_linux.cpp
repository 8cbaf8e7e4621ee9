#include "service/sleep_watch_linux.h"

#include "dbus/logind_proxy.h"

#include <cstdio>
#include <exception>
#include <optional>

namespace service {

class SleepWatch::Manager final
    : public sdbus::ProxyInterfaces<org::freedesktop::login1::Manager_proxy> {
public:
    Manager(sdbus::IConnection& connection, PowerEvent powerEvent)
        : ProxyInterfaces(connection, "org.freedesktop.login1", "/org/freedesktop/login1"),
          powerEvent_(std::move(powerEvent)) {
        registerProxy();
        // The first time a failure is the caller's to report: no login manager.
        lock_ = takeLock();
    }
    ~Manager() { unregisterProxy(); }

private:
    void onPrepareForSleep(const bool& start) override {
        // Whatever the handler throws stays here: past this frame it would unwind
        // through the bus library's C code and end the service, and the lock must go
        // either way or the machine waits for the login manager's timeout.
        try {
            powerEvent_(start ? kSuspend : kResume);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "lumivane: the %s handler failed: %s\n",
                         start ? "sleep" : "resume", e.what());
        } catch (...) {
            std::fprintf(stderr, "lumivane: the %s handler failed\n", start ? "sleep" : "resume");
        }
        if (start)
            lock_.reset(); // closing it lets the sleep go ahead
        else
            inhibit();
    }

    sdbus::UnixFd takeLock() {
        return Inhibit("sleep", "Lumivane", "Stops the lighting effects before sleep", "delay");
    }

    void inhibit() {
        try {
            lock_ = takeLock();
        } catch (const sdbus::Error& error) {
            // The machine then sleeps without waiting; the effects still stop, only
            // perhaps a little late.
            lock_.reset();
            std::fprintf(stderr, "lumivane: no sleep inhibitor lock: %s\n",
                         error.getMessage().c_str());
        }
    }

    PowerEvent powerEvent_;
    std::optional<sdbus::UnixFd> lock_;
};

SleepWatch::SleepWatch(sdbus::IConnection& systemBus, PowerEvent powerEvent)
    : manager_(std::make_unique<Manager>(systemBus, std::move(powerEvent))) {}

SleepWatch::~SleepWatch() = default;

} // namespace service
