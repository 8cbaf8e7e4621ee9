#pragma once

#include <cstdint>
#include <string>

namespace board {

class BiosItemRegistry;

struct LedColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    bool operator==(const LedColor&) const = default;
};

// The service's handle on the LED registers. Building one identifies the board
// (which also loads the full I/O binding that the firmware lock needs); the colour
// writes themselves go out on every board.
class EcLedPort {
public:
    // Over the process-wide firmware item registry.
    EcLedPort();
    // Over a registry of the caller's; it must outlive the port.
    explicit EcLedPort(BiosItemRegistry& items);
    EcLedPort(const EcLedPort&) = delete;
    EcLedPort& operator=(const EcLedPort&) = delete;

    bool boardMatches() const { return boardMatches_; }

    // Whether the user has the lighting switched on (item 0x13060040 reads 1); an
    // unreadable item counts as off.
    bool isLightingOn() const;
    // Hands the LEDs to the software-driven effects (item 0x13060041 = 1, control
    // word 3). Whether the firmware took it.
    bool enableSoftwareControl() const;

    // Writes the colour of a temperature in whole degrees Celsius: green at 20 and
    // below through yellow at 40 to red at 60 and above. The firmware's global lock
    // brackets the three register writes when it can be had; the colour is written
    // either way, and the lock is released only when it was taken here.
    void showTemperature(std::int32_t celsius) const;
    // The bytes showTemperature writes.
    static LedColor temperatureColor(std::int32_t celsius);

private:
    BiosItemRegistry& items() const;

    BiosItemRegistry* items_ = nullptr; // null: the process-wide registry
    bool boardMatches_ = false;
};

} // namespace board
