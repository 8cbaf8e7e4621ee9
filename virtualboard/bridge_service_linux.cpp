// The stand-in on D-Bus, through the adaptor generated from the bridge's interface
// definition: each method only translates arguments and errors.

#include "board/acpi_bridge.h"
#include "dbus/acpi_bridge_adaptor.h"
#include "os/bus_linux.h"
#include "virtualboard/bridge.h"
#include "virtualboard/bridge_service.h"

#include <chrono>
#include <ostream>
#include <poll.h>
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

BridgeBuffer buffer(const Bytes& bytes, std::uint32_t length) {
    return BridgeBuffer{bytes, length};
}

BufferReply reply(BridgeBuffer out) {
    return {std::move(out.bytes), out.length};
}

class BridgeObject final : public sdbus::AdaptorInterfaces<tavlexCom::axdata_adaptor> {
public:
    BridgeObject(sdbus::IConnection& connection, AcpiBridgeStandIn& bridge)
        : AdaptorInterfaces(connection, std::string(board::kAcpiBridgeObjectPath)),
          bridge_(bridge) {
        registerAdaptor();
    }
    ~BridgeObject() { unregisterAdaptor(); }

private:
    void iAcpiInit() override {
        served([&] { bridge_.init(); });
    }
    std::uint32_t iAcpiGetItem(const std::uint32_t& id) override {
        return served([&] { return bridge_.getItem(id); });
    }
    std::uint32_t iAcpiGetItemEx(const std::uint32_t& a, const std::uint32_t& b) override {
        return served([&] { return bridge_.getItemEx(a, b); });
    }
    void iAcpiSetItem(const std::uint32_t& id, const std::uint32_t& value,
                      const std::uint32_t& control) override {
        served([&] { bridge_.setItem(id, value, control); });
    }
    BufferReply iAcpiSetItemBuffer(const std::uint32_t& selector, const Bytes& bytes,
                                   const std::uint32_t& length) override {
        return served(
            [&] { return reply(bridge_.setItemBuffer(selector, buffer(bytes, length))); });
    }
    BufferReply iAcpiMbif(const Bytes& bytes, const std::uint32_t& length) override {
        return served([&] { return reply(bridge_.mbif(buffer(bytes, length))); });
    }
    BufferReply iAcpiGGrp(const std::uint32_t& group, const Bytes& bytes,
                          const std::uint32_t& length) override {
        return served([&] { return reply(bridge_.gGrp(group, buffer(bytes, length))); });
    }
    BufferReply iAcpiCallMethod(const std::uint32_t& code, const Bytes& bytes,
                                const std::uint32_t& length) override {
        return served([&] { return reply(bridge_.callMethod(code, buffer(bytes, length))); });
    }

    AcpiBridgeStandIn& bridge_;
};

} // namespace

int serveBridge(const std::filesystem::path& image, const BridgeServing&,
                const std::atomic<bool>& stop, std::ostream& err) {
    AcpiBridgeStandIn bridge(image); // a missing board is the caller's BoardError
    const std::string name(board::kAcpiBridgeName);
    try {
        std::unique_ptr<sdbus::IConnection> connection = os::connectToBus();
        BridgeObject object(*connection, bridge);

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
                connection->requestName(name);
                named = true;
            } else if (!online && named) {
                connection->releaseName(name);
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
    } catch (const os::BusChoiceError& error) {
        err << "vboard: " << error.what() << '\n';
        return 1;
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
