// The service's D-Bus object, through the proxy generated from its interface
// definition.

#include "dbus/light_control_proxy.h"
#include "os/bus_linux.h"
#include "panel/service_client.h"

#include <exception>
#include <memory>

namespace panel {
namespace {

constexpr const char* kBusName = "Lumivane.LightControl";
constexpr const char* kObjectPath = "/LightControl";

class LightControlProxy final : public sdbus::ProxyInterfaces<Lumivane::ILightControl_proxy> {
public:
    explicit LightControlProxy(sdbus::IConnection& connection)
        : ProxyInterfaces(connection, kBusName, kObjectPath) {
        registerProxy();
    }
    ~LightControlProxy() { unregisterProxy(); }
};

// Runs `call` on a proxy over a connection of its own; nullopt when the bus or the
// service cannot be had, or did not answer in time.
template <typename Call>
auto withService(Call call) -> std::optional<decltype(call(std::declval<LightControlProxy&>()))> {
    try {
        const std::unique_ptr<sdbus::IConnection> connection = os::connectToBus();
        // Covers the start of an activatable service as well: the bus holds the call
        // until the service has its name, within the same limit.
        connection->setMethodCallTimeout(ServiceClient::kCallTimeout);
        LightControlProxy proxy(*connection);
        return call(proxy);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

std::int32_t ServiceClient::getServiceMode() const {
    return mode().value_or(0);
}

void ServiceClient::setServiceMode(std::int32_t mode) const {
    // The interface carries 16 bits; the service keeps only 0, 1 and 2 in any case.
    setMode(static_cast<std::int16_t>(mode));
}

std::optional<std::uint32_t> ServiceClient::color() const {
    return withService([](LightControlProxy& proxy) { return proxy.Color(); });
}

bool ServiceClient::setColor(std::uint32_t value) const {
    return withService([&](LightControlProxy& proxy) {
               proxy.Color(value);
               return true;
           })
        .has_value();
}

std::optional<std::int16_t> ServiceClient::mode() const {
    return withService([](LightControlProxy& proxy) { return proxy.Mode(); });
}

bool ServiceClient::setMode(std::int16_t value) const {
    return withService([&](LightControlProxy& proxy) {
               proxy.Mode(value);
               return true;
           })
        .has_value();
}

} // namespace panel
