#include "board/ec_led_port.h"

#include "board/color.h"
#include "board/ec_registers.h"
#include "board/global_lock.h"
#include "board/smbios.h"

namespace board {

EcLedPort::EcLedPort() {
    // The thread goes on to use firmware items, which need COM.
    enterSingleThreadedApartment();
    boardMatches_ = isSupportedBoard(ReadBoardProductName());
}

EcLedPort::EcLedPort(BiosItemRegistry& items) : EcLedPort() {
    items_ = &items;
}

LedColour EcLedPort::temperatureColour(std::int32_t celsius) {
    const std::int32_t t = celsius < 20 ? 20 : celsius > 60 ? 60 : celsius;
    // The scale is computed in double and only then narrowed: the LED bytes at the
    // brackets' edges (1 rather than 0 green at 20 degrees) depend on it.
    const float hue = float(0.333 - double(t - 20) * 0.333 / 40.0);
    LedColour colour;
    hslToRgb(hue, 1.0f, 0.5f, colour.red, colour.green, colour.blue);
    return colour;
}

void EcLedPort::showTemperature(std::int32_t celsius) const {
    const LedColour colour = temperatureColour(celsius);
    // Without the lock the firmware could interleave its own EC work with ours; the
    // colour still goes out when the lock cannot be had, as a stale colour is worse.
    ScopedGlobalLock lock(kGlobalLockAttempts);
    ecWriteBanked(kLedBank, kLedRedRegister, colour.red);
    ecWriteBanked(kLedBank, kLedGreenRegister, colour.green);
    ecWriteBanked(kLedBank, kLedBlueRegister, colour.blue);
}

} // namespace board
