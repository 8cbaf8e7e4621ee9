#include "board/ec_led_port.h"

#include "board/bios_item_registry.h"
#include "board/color.h"
#include "board/ec_registers.h"
#include "board/global_lock.h"
#include "board/smbios.h"
#include "os/com_apartment.h"

namespace board {

namespace {
constexpr std::uint32_t kSoftwareControl = 1;
constexpr std::uint32_t kSoftwareControlWord = 3;
} // namespace

EcLedPort::EcLedPort() {
    // The thread goes on to use firmware items, which need COM.
    os::ComApartment::enterForThread();
    boardMatches_ = isSupportedBoard(ReadBoardProductName());
}

EcLedPort::EcLedPort(BiosItemRegistry& items) : EcLedPort() {
    items_ = &items;
}

LedColor EcLedPort::temperatureColor(std::int32_t celsius) {
    const std::int32_t t = celsius < 20 ? 20 : celsius > 60 ? 60 : celsius;
    // The scale is computed in double and only then narrowed: the LED bytes at the
    // brackets' edges (1 rather than 0 green at 20 degrees) depend on it.
    const float hue = float(0.333 - double(t - 20) * 0.333 / 40.0);
    LedColor color;
    hslToRgb(hue, 1.0f, 0.5f, color.red, color.green, color.blue);
    return color;
}

void EcLedPort::showTemperature(std::int32_t celsius) const {
    const LedColor color = temperatureColor(celsius);
    // Without the lock the firmware could interleave its own EC work with ours; the
    // colour still goes out when the lock cannot be had, as a stale colour is worse.
    ScopedGlobalLock lock(kGlobalLockAttempts);
    ecWriteBanked(kLedBank, kLedRedRegister, color.red);
    ecWriteBanked(kLedBank, kLedGreenRegister, color.green);
    ecWriteBanked(kLedBank, kLedBlueRegister, color.blue);
}

BiosItemRegistry& EcLedPort::items() const {
    return items_ ? *items_ : BiosItemRegistry::instance();
}

bool EcLedPort::isLightingOn() const {
    BiosItem* item = items().Find(kLightingEnableItem);
    std::uint32_t value = 0;
    return item && item->GetValue(&value) && value == 1;
}

bool EcLedPort::enableSoftwareControl() const {
    BiosItem* item = items().Find(kLightingControlItem);
    return item && item->SetValue(kSoftwareControl, kSoftwareControlWord) == 1;
}

} // namespace board
