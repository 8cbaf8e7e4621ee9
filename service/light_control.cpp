#include "service/light_control.h"

#include "service/led_controller.h"

namespace service {

LedController& LightControl::controller() const {
    return controller_ ? *controller_ : LedController::instance();
}

std::uint32_t LightControl::color() const {
    return controller().getColor();
}

void LightControl::setColor(std::uint32_t value) {
    controller().setColor(value);
}

std::int16_t LightControl::mode() const {
    return static_cast<std::int16_t>(static_cast<std::uint32_t>(controller().getMode()) & 0xFFFF);
}

void LightControl::setMode(std::int16_t value) {
    controller().setMode(static_cast<std::int32_t>(value));
}

} // namespace service
