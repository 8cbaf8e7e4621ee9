#include "virtualboard/bridge.h"
#include "virtualboard/bridge_service.h"

#include <chrono>
#include <cstdlib>
#include <ostream>
#include <poll.h>
#include <sdbus-c++/sdbus-c++.h>
#include <stdexcept>

namespace virtualboard {

namespace {

using Bytes = std::vector<std::uint8_t>;
using BufferReply = std::tuple<Bytes, std::uint32_t>;

// How often the offline knob and the stop flag are looked at.
constexpr auto kKnobPeriod = std::chrono::milliseconds(20);

sdbus::Error busError(const BridgeCallError& error) {
    switch (error.status()) {
    case kBridgeUnknownMethod:
        return sdbus::Error("org.freedesktop.DBus.Error.UnknownMethod", error.what());
    case kBridgeNoSuchItem:
        return sdbus::Error("tavlexCom.axdata.Error.NoSuchItem", error.what());
    case kBridgeReadOnly:
        return sdbus::Error("tavlexCom.axdata.Error.ReadOnly", error.what());
    default:
        return sdbus::Error("tavlexCom.axdata.Error.Failed", error.what());
    }
}

// Runs one method of the stand-in and turns its failures into D-Bus errors.
template <class F>
auto served(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const BridgeCallError& error) {
        throw busError(error);
    } catch (const BoardError& error) {
        throw sdbus::Error("tavlexCom.axdata.Error.NoBoard", error.what());
    }
}

BridgeBuffer buffer(Bytes bytes, std::uint32_t length) {
    return BridgeBuffer{std::move(bytes), length};
}

BufferReply reply(BridgeBuffer out) {
    return {std::move(out.bytes), out.length};
}

std::unique_ptr<sdbus::IConnection> connect(std::ostream& err) {
    const char* setting = std::getenv("LUMIVANE_BUS");
    std::string bus = setting ? setting : "";
    if (bus.empty()) {
        const char* starter = std::getenv("DBUS_STARTER_BUS_TYPE");
        bus = starter && std::string(starter) == "session" ? "session" : "system";
    }
    if (bus == "system")
        return sdbus::createSystemBusConnection();
    if (bus == "session")
        return sdbus::createSessionBusConnection();
    err << "vboard: LUMIVANE_BUS is system or session, not '" << bus << "'\n";
    return nullptr;
}

} // namespace

int serveBridge(const std::filesystem::path& image, const BridgeServing&,
                const std::atomic<bool>& stop, std::ostream& err) {
    AcpiBridgeStandIn bridge(image); // a missing board is the caller's BoardError
    try {
        std::unique_ptr<sdbus::IConnection> connection = connect(err);
        if (!connection)
            return 1;
        const std::string interface = kBridgeBusName;
        auto object = sdbus::createObject(*connection, kBridgeObjectPath);
        object->registerMethod("iAcpiInit").onInterface(interface).implementedAs([&] {
            served([&] { bridge.init(); });
        });
        object->registerMethod("iAcpiGetItem")
            .onInterface(interface)
            .withInputParamNames("id")
            .withOutputParamNames("value")
            .implementedAs(
                [&](std::uint32_t id) { return served([&] { return bridge.getItem(id); }); });
        object->registerMethod("iAcpiGetItemEx")
            .onInterface(interface)
            .withInputParamNames("a", "b")
            .withOutputParamNames("value")
            .implementedAs([&](std::uint32_t a, std::uint32_t b) {
                return served([&] { return bridge.getItemEx(a, b); });
            });
        object->registerMethod("iAcpiSetItem")
            .onInterface(interface)
            .withInputParamNames("id", "value", "control")
            .implementedAs([&](std::uint32_t id, std::uint32_t value, std::uint32_t control) {
                served([&] { bridge.setItem(id, value, control); });
            });
        object->registerMethod("iAcpiSetItemBuffer")
            .onInterface(interface)
            .withInputParamNames("selector", "buffer", "length")
            .withOutputParamNames("buffer", "length")
            .implementedAs([&](std::uint32_t selector, Bytes bytes, std::uint32_t length) {
                return served([&] {
                    return reply(bridge.setItemBuffer(selector, buffer(std::move(bytes), length)));
                });
            });
        object->registerMethod("iAcpiMbif")
            .onInterface(interface)
            .withInputParamNames("buffer", "length")
            .withOutputParamNames("buffer", "length")
            .implementedAs([&](Bytes bytes, std::uint32_t length) {
                return served([&] { return reply(bridge.mbif(buffer(std::move(bytes), length))); });
            });
        object->registerMethod("iAcpiGGrp")
            .onInterface(interface)
            .withInputParamNames("group", "buffer", "length")
            .withOutputParamNames("buffer", "length")
            .implementedAs([&](std::uint32_t group, Bytes bytes, std::uint32_t length) {
                return served(
                    [&] { return reply(bridge.gGrp(group, buffer(std::move(bytes), length))); });
            });
        object->registerMethod("iAcpiCallMethod")
            .onInterface(interface)
            .withInputParamNames("code", "buffer", "length")
            .withOutputParamNames("buffer", "length")
            .implementedAs([&](std::uint32_t code, Bytes bytes, std::uint32_t length) {
                return served([&] {
                    return reply(bridge.callMethod(code, buffer(std::move(bytes), length)));
                });
            });
        object->finishRegistration();

        // One thread does everything, so the knob's name changes never race the calls.
        bool named = false;
        while (!stop.load()) {
            bool online = true;
            try {
                online = bridge.online();
            } catch (const BoardError&) {
                // The image is being replaced: keep the name as it is for now.
                online = named;
            }
            if (online && !named) {
                connection->requestName(kBridgeBusName);
                named = true;
            } else if (!online && named) {
                connection->releaseName(kBridgeBusName);
                named = false;
            }
            while (connection->processPendingRequest()) {
                if (stop.load())
                    break;
            }
            const sdbus::IConnection::PollData data = connection->getEventLoopPollData();
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kKnobPeriod);
            if (const auto relative = data.getRelativeTimeout())
                wait = std::min(wait,
                                std::chrono::duration_cast<std::chrono::milliseconds>(*relative));
            pollfd fd{data.fd, data.events, 0};
            ::poll(&fd, 1, int(wait.count()));
        }
        return 0;
    } catch (const sdbus::Error& error) {
        if (stop.load())
            return 0;
        // The bus went away (its daemon ended): nothing left to serve.
        if (error.getName() == "org.freedesktop.DBus.Error.NoReply" ||
            error.getName() == "org.freedesktop.DBus.Error.Disconnected")
            return 0;
        err << "vboard: bridge: " << error.getName() << ": " << error.getMessage() << '\n';
        return 1;
    }
}

void registerBridgeServer(const std::filesystem::path&, const std::string&) {
    throw std::runtime_error("on Linux the bus starts the bridge from its activation file; "
                             "there is nothing to register");
}

void unregisterBridgeServer() {
    registerBridgeServer({}, {});
}

} // namespace virtualboard
