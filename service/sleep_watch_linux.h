#pragma once

// Sleep and resume on Linux, as the login manager announces them on the system bus:
// the events a Windows service gets as power broadcasts, under the same codes (4
// suspend, 18 resume). A delay inhibitor lock keeps the machine awake until the
// suspend work is done; it is taken again after resume, for the next sleep.

#include <cstdint>
#include <functional>
#include <memory>
#include <sdbus-c++/IConnection.h>

namespace service {

class SleepWatch {
public:
    static constexpr std::uint32_t kSuspend = 4;
    static constexpr std::uint32_t kResume = 18;

    using PowerEvent = std::function<void(std::uint32_t event)>;

    // Takes the inhibitor lock and follows the announcements on `systemBus`, whose
    // event loop the caller runs. Throws sdbus::Error when the login manager cannot be
    // reached.
    SleepWatch(sdbus::IConnection& systemBus, PowerEvent powerEvent);
    ~SleepWatch();
    SleepWatch(const SleepWatch&) = delete;
    SleepWatch& operator=(const SleepWatch&) = delete;

private:
    class Manager;
    std::unique_ptr<Manager> manager_;
};

} // namespace service
