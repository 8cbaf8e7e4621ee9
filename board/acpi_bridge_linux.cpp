// The bridge on D-Bus: bus name, object and interface named after the bridge, one
// method per iAcpi* name. Scalars travel as `u`; a by-reference result comes back as a
// return value; a byte array goes out as `ay` with its length `u` and comes back the
// same way.

#include "board/acpi_bridge_linux.h"

#include "board/acpi_bridge.h"
#include "board/acpi_items.h"

#include <cstdlib>
#include <optional>
#include <sdbus-c++/sdbus-c++.h>
#include <string>

namespace board {
namespace {

const std::string kBridgeName(kAcpiBridgeName);
const std::string kBridgePath(kAcpiBridgeObjectPath);

BridgeStatus statusOf(const sdbus::Error& error) {
    const std::string& name = error.getName();
    if (name == "org.freedesktop.DBus.Error.UnknownMethod")
        return kBridgeUnknownName;
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
        name == "org.freedesktop.DBus.Error.NameHasNoOwner")
        return kBridgeUnavailable;
    return kBridgeFailed;
}

class DbusBridgeSession final : public BridgeSession {
public:
    DbusBridgeSession(std::unique_ptr<sdbus::IConnection> connection,
                      std::unique_ptr<sdbus::IProxy> proxy)
        : connection_(std::move(connection)), proxy_(std::move(proxy)) {}

    BridgeStatus invoke(std::string_view method, std::span<BridgeArgument> arguments) override {
        try {
            auto call = proxy_->createMethodCall(kBridgeName, std::string(method));
            for (const BridgeArgument& argument : arguments) {
                if (const auto* in = std::get_if<BridgeIn>(&argument))
                    call << in->value;
                else if (const auto* bytes = std::get_if<BridgeBytes>(&argument))
                    call << bytes->array->bytes;
                else if (const auto* length = std::get_if<BridgeLength>(&argument))
                    call << *length->length;
            }
            auto reply = proxy_->callMethod(call);

            // Read every output before writing any, so a malformed reply changes nothing.
            struct Output {
                std::uint32_t value = 0;
                std::vector<std::uint8_t> bytes;
            };
            std::vector<Output> outputs(arguments.size());
            for (std::size_t i = 0; i < arguments.size(); ++i) {
                if (std::holds_alternative<BridgeOut>(arguments[i]) ||
                    std::holds_alternative<BridgeLength>(arguments[i]))
                    reply >> outputs[i].value;
                else if (std::holds_alternative<BridgeBytes>(arguments[i]))
                    reply >> outputs[i].bytes;
            }
            for (std::size_t i = 0; i < arguments.size(); ++i) {
                if (const auto* out = std::get_if<BridgeOut>(&arguments[i]))
                    *out->target = outputs[i].value;
                else if (const auto* length = std::get_if<BridgeLength>(&arguments[i]))
                    *length->length = outputs[i].value;
                else if (const auto* bytes = std::get_if<BridgeBytes>(&arguments[i]))
                    bytes->array->bytes = std::move(outputs[i].bytes);
            }
            return kBridgeOk;
        } catch (const sdbus::Error& error) {
            return statusOf(error);
        } catch (const std::exception&) {
            return kBridgeFailed;
        }
    }

private:
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> proxy_; // refers to connection_: declared after it
};

class DbusBridgeTransport final : public BridgeTransport {
public:
    std::unique_ptr<BridgeSession> open(BridgeStatus& status) override {
        try {
            std::unique_ptr<sdbus::IConnection> connection = connectToBridgeBus();
            if (!connection) {
                status = kBridgeUnavailable;
                return nullptr;
            }
            auto proxy = sdbus::createProxy(*connection, kBridgeName, kBridgePath);
            // Reaching the bridge is part of opening it, as creating the object is on
            // Windows: it starts an activatable bridge and tells a missing one apart
            // before any argument is prepared.
            proxy->callMethod("Ping").onInterface("org.freedesktop.DBus.Peer");
            status = kBridgeOk;
            return std::make_unique<DbusBridgeSession>(std::move(connection), std::move(proxy));
        } catch (const sdbus::Error& error) {
            status = statusOf(error);
            if (status == kBridgeFailed)
                status = kBridgeUnavailable;
        } catch (const std::exception&) {
            status = kBridgeUnavailable;
        }
        return nullptr;
    }
};

} // namespace

std::unique_ptr<sdbus::IConnection> connectToBridgeBus() {
    const char* setting = std::getenv("LUMIVANE_BUS");
    const std::string_view bus = setting ? setting : "";
    if (bus.empty() || bus == "system")
        return sdbus::createSystemBusConnection();
    if (bus == "session")
        return sdbus::createSessionBusConnection();
    return nullptr;
}

BridgeTransport& platformBridgeTransport() {
    static DbusBridgeTransport* transport = new DbusBridgeTransport;
    return *transport;
}

} // namespace board
