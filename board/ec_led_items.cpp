// The port's firmware item operations. They live with the item model, so that the
// register code does not drag the bridge into every program that writes a colour.

#include "board/bios_item_registry.h"
#include "board/ec_led_port.h"

namespace board {

namespace {
constexpr std::uint32_t kSoftwareControl = 1;
constexpr std::uint32_t kSoftwareControlWord = 3;
} // namespace

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
