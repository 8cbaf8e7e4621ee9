#pragma once

// The service's side of its conversation with the system's service manager, apart
// from the manager itself: which controls it acts on, the states it reports and the
// event texts it writes, in the order the manager and an administrator see them.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace service {

enum class ServiceState : std::uint32_t {
    // The service manager's own numbers, so a report passes them through unchanged.
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
    Running = 4,
};

enum class ControlAction { Stop, Ignore, BadRequest };

// 1 stops; pause, continue, interrogate and shutdown (2 to 5) are left unanswered;
// anything else is a request the service does not know.
ControlAction controlAction(std::uint32_t control);

// An event-log entry holds one string of at most this many characters.
inline constexpr std::size_t kEventTextLimit = 255;
std::string eventText(std::string_view text);

// The states of one run of the service, each reported as it is reached.
class ServiceLifecycle {
public:
    struct Outputs {
        std::function<void(ServiceState state, std::uint32_t exitCode)> report;
        std::function<void(const std::string& text)> event;
    };

    explicit ServiceLifecycle(Outputs outputs) : outputs_(std::move(outputs)) {}

    ServiceState state() const { return state_; }
    std::uint32_t exitCode() const { return exitCode_; }

    // Entering the service main: start-pending, reported.
    void starting();
    // The class object is offered: running, if it is still starting (a stop may
    // already have come).
    void running();
    // The stop control: stop-pending, reported; the caller then ends its loop.
    void stopping();
    // The last word: stopped with `exitCode`, reported, and then the event.
    void stopped(std::uint32_t exitCode);
    // A control the service does not know: only the event.
    void badRequest();

private:
    void enter(ServiceState state);

    Outputs outputs_;
    ServiceState state_ = ServiceState::Stopped;
    std::uint32_t exitCode_ = 0;
};

} // namespace service
