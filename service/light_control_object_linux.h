#pragma once

// The service's automation object on D-Bus: the adaptor generated from the interface
// definition in data/dbus, every member handed over to service::LightControl, the
// same code the COM object runs on Windows.

#include "dbus/light_control_adaptor.h"
#include "service/light_control.h"

#include <string>

namespace service {

class LightControlObject final : public sdbus::AdaptorInterfaces<Lumivane::ILightControl_adaptor> {
public:
    static constexpr const char* kObjectPath = "/LightControl";
    // The error a member answers with when the call failed inside the service.
    static constexpr const char* kFailedError = "org.freedesktop.DBus.Error.Failed";

    LightControlObject(sdbus::IConnection& connection, LightControl control);
    ~LightControlObject();

private:
    void Start() override;
    void Stop() override;
    std::uint32_t Color() override;
    void Color(const std::uint32_t& value) override;
    std::int16_t Mode() override;
    void Mode(const std::int16_t& value) override;
    std::int16_t Checked() override;
    void Checked(const std::int16_t& value) override;

    void changed(const std::string& property);

    LightControl control_;
};

} // namespace service
