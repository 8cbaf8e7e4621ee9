#pragma once

// The way to the lighting service's automation interface, for the panel and for
// lumivanectl. Stateless: every call makes a connection of its own, so a service
// that restarted (or was started by the call) is simply found again.
//
// On D-Bus no call waits longer than kCallTimeout: a hung service leaves the caller as
// if it were absent. Through COM a call waits as long as COM does, the start of the
// server included: COM has no time limit for a call, and one left running on another
// thread could still change the service's mode after the caller gave up on it.

#include <chrono>
#include <cstdint>
#include <optional>

namespace panel {

class ServiceClient {
public:
    // The D-Bus client's limit for one call.
    static constexpr std::chrono::seconds kCallTimeout{3};

    // The service's mode, 0 when it cannot be asked.
    std::int32_t getServiceMode() const;
    // Asks the service for `mode`; a service out of reach changes nothing.
    void setServiceMode(std::int32_t mode) const;

    // The same members, telling an unreachable service apart.
    std::optional<std::uint32_t> color() const;
    bool setColor(std::uint32_t value) const;
    std::optional<std::int16_t> mode() const;
    bool setMode(std::int16_t value) const;
};

} // namespace panel
