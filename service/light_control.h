#pragma once

// The members of the service's automation interface, one for one, in the types
// automation clients use. Both the D-Bus object and the COM object delegate here,
// so a client sees the same behaviour whichever way it comes in. Nothing here fails:
// the interface promises its clients that no member reports an error. What fails
// anyway (memory, a thread that cannot be made) throws, and both objects turn that
// into the member's error reply or HRESULT.

#include <cstdint>

namespace service {

class LedController;

class LightControl {
public:
    // The service's controller, looked up on every call.
    LightControl() = default;
    // A controller of the caller's own (tests).
    explicit LightControl(LedController& controller) : controller_(&controller) {}

    std::uint32_t color() const;
    // Stored for clients to read back; the LEDs stay as they are.
    void setColor(std::uint32_t value);

    // The low 16 bits of the controller's mode.
    std::int16_t mode() const;
    // Sign-extended, so -1 reaches the controller as -1 (and becomes 0 there).
    void setMode(std::int16_t value);

    // Older clients still call these; the effect follows the mode alone.
    std::int16_t checked() const { return 0; }
    void setChecked(std::int16_t) {}
    void start() {}
    void stop() {}

private:
    LedController& controller() const;

    LedController* controller_ = nullptr;
};

} // namespace service
