// The bridge on D-Bus, through the proxy generated from its interface definition.
// The item library hands over a call as a name with automation-style arguments;
// each method's arguments are laid out here in the order the interface takes them.

#include "board/acpi_bridge.h"
#include "dbus/acpi_bridge_proxy.h"
#include "os/bus_linux.h"
#include "os/diagnostics.h"

#include <optional>
#include <string>

namespace board {
namespace {

BridgeStatus statusOf(const sdbus::Error& error) {
    const std::string& name = error.getName();
    if (name == "org.freedesktop.DBus.Error.UnknownMethod")
        return kBridgeUnknownName;
    if (name == "org.freedesktop.DBus.Error.ServiceUnknown" ||
        name == "org.freedesktop.DBus.Error.NameHasNoOwner")
        return kBridgeUnavailable;
    return kBridgeFailed;
}

class BridgeProxy final : public sdbus::ProxyInterfaces<tavlexCom::axdata_proxy> {
public:
    explicit BridgeProxy(sdbus::IConnection& connection)
        : ProxyInterfaces(connection, std::string(kAcpiBridgeName),
                          std::string(kAcpiBridgeObjectPath)) {
        registerProxy();
    }
    ~BridgeProxy() { unregisterProxy(); }

    // Reaching the bridge is part of opening it, as creating the object is on
    // Windows: it starts an activatable bridge and tells a missing one apart before
    // any argument is prepared.
    void ping() { getProxy().callMethod("Ping").onInterface("org.freedesktop.DBus.Peer"); }
};

// One call's arguments sorted by kind: the inputs in order, and at most one result,
// one byte array and one length.
class Arguments {
public:
    explicit Arguments(std::span<BridgeArgument> arguments) {
        for (BridgeArgument& argument : arguments) {
            if (const auto* in = std::get_if<BridgeIn>(&argument))
                inputs_.push_back(in->value);
            else if (const auto* out = std::get_if<BridgeOut>(&argument))
                result_ = out->target, ++results_;
            else if (const auto* bytes = std::get_if<BridgeBytes>(&argument))
                array_ = bytes->array, ++arrays_;
            else if (const auto* length = std::get_if<BridgeLength>(&argument))
                length_ = length->length, ++lengths_;
        }
    }

    // Exactly `inputs` inputs and a result (or none).
    bool scalar(std::size_t inputs, bool withResult) const {
        return inputs_.size() == inputs && results_ == int(withResult) && arrays_ == 0 &&
               lengths_ == 0;
    }
    // Exactly `inputs` inputs and one array with its length.
    bool buffer(std::size_t inputs) const {
        return inputs_.size() == inputs && results_ == 0 && arrays_ == 1 && lengths_ == 1;
    }

    std::uint32_t in(std::size_t i) const { return inputs_[i]; }
    const std::vector<std::uint8_t>& bytes() const { return array_->bytes; }
    std::uint32_t length() const { return *length_; }

    void setResult(std::uint32_t value) const { *result_ = value; }
    // Both outputs at once, after the whole reply was read: a malformed reply has
    // changed nothing.
    // What went out is all the caller can take back, whatever size the bridge made
    // its array: the rest is not kept.
    void setBuffer(std::tuple<std::vector<std::uint8_t>, std::uint32_t> reply) const {
        std::vector<std::uint8_t>& bytes = std::get<0>(reply);
        if (bytes.size() > array_->bytes.size()) {
            bytes.resize(array_->bytes.size());
            bytes.shrink_to_fit();
        }
        array_->bytes = std::move(bytes);
        *length_ = std::get<1>(reply);
    }

private:
    std::vector<std::uint32_t> inputs_;
    std::uint32_t* result_ = nullptr;
    BridgeByteArray* array_ = nullptr;
    std::uint32_t* length_ = nullptr;
    int results_ = 0, arrays_ = 0, lengths_ = 0;
};

class DbusBridgeSession final : public BridgeSession {
public:
    DbusBridgeSession(std::unique_ptr<sdbus::IConnection> connection,
                      std::unique_ptr<BridgeProxy> proxy)
        : connection_(std::move(connection)), proxy_(std::move(proxy)) {}

    BridgeStatus invoke(std::string_view method, std::span<BridgeArgument> arguments) override {
        const Arguments a(arguments);
        BridgeProxy& bridge = *proxy_;
        try {
            if (method == "iAcpiInit" && a.scalar(0, false))
                bridge.iAcpiInit();
            else if (method == "iAcpiGetItem" && a.scalar(1, true))
                a.setResult(bridge.iAcpiGetItem(a.in(0)));
            else if (method == "iAcpiGetItemEx" && a.scalar(2, true))
                a.setResult(bridge.iAcpiGetItemEx(a.in(0), a.in(1)));
            else if (method == "iAcpiSetItem" && a.scalar(3, false))
                bridge.iAcpiSetItem(a.in(0), a.in(1), a.in(2));
            else if (method == "iAcpiSetItemBuffer" && a.buffer(1))
                a.setBuffer(bridge.iAcpiSetItemBuffer(a.in(0), a.bytes(), a.length()));
            else if (method == "iAcpiMbif" && a.buffer(0))
                a.setBuffer(bridge.iAcpiMbif(a.bytes(), a.length()));
            else if (method == "iAcpiGGrp" && a.buffer(1))
                a.setBuffer(bridge.iAcpiGGrp(a.in(0), a.bytes(), a.length()));
            else if (method == "iAcpiCallMethod" && a.buffer(1))
                a.setBuffer(bridge.iAcpiCallMethod(a.in(0), a.bytes(), a.length()));
            else
                return kBridgeUnknownName; // not a method of the interface, or not so called
            return kBridgeOk;
        } catch (const sdbus::Error& error) {
            return statusOf(error);
        } catch (const std::exception&) {
            return kBridgeFailed;
        }
    }

private:
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<BridgeProxy> proxy_; // refers to connection_: declared after it
};

class DbusBridgeTransport final : public BridgeTransport {
public:
    std::unique_ptr<BridgeSession> open(BridgeStatus& status) override {
        status = kBridgeUnavailable;
        try {
            std::unique_ptr<sdbus::IConnection> connection = os::connectToBus();
            auto proxy = std::make_unique<BridgeProxy>(*connection);
            proxy->ping();
            status = kBridgeOk;
            return std::make_unique<DbusBridgeSession>(std::move(connection), std::move(proxy));
        } catch (const os::BusChoiceError& error) {
            os::debugOutput(error.what());
        } catch (const sdbus::Error& error) {
            if (statusOf(error) == kBridgeUnknownName)
                status = kBridgeUnknownName;
        } catch (const std::exception&) {
        }
        return nullptr;
    }
};

} // namespace

BridgeTransport& platformBridgeTransport() {
    static DbusBridgeTransport* transport = new DbusBridgeTransport;
    return *transport;
}

} // namespace board
