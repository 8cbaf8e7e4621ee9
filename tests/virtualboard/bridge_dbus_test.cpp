// The bridge stand-in on a private bus, called as the item library calls it: u in,
// results returned, ay and u both ways.

#include "bridge_bus_fixture.h"
#include "child_program.h"
#include "package_reader.h"
#include "run_program.h"
#include "virtualboard/bridge.h"
#include "virtualboard/firmware.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <gmock/gmock.h>
#include <sdbus-c++/sdbus-c++.h>
#include <set>
#include <thread>

namespace {

using namespace virtualboard;
using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

const std::string kName = "tavlexCom.axdata";

struct BufferAnswer {
    Bytes bytes;
    std::uint32_t length = 0;
    std::vector<std::uint8_t> returned() const {
        return {bytes.begin(), bytes.begin() + std::min<std::size_t>(length, bytes.size())};
    }
};

class BridgeClient {
public:
    BridgeClient()
        : connection_(sdbus::createSessionBusConnection()),
          proxy_(sdbus::createProxy(*connection_, kName, "/axdata")) {}

    void init() { proxy_->callMethod("iAcpiInit").onInterface(kName); }
    std::uint32_t getItem(std::uint32_t id) {
        std::uint32_t value = 0;
        proxy_->callMethod("iAcpiGetItem")
            .onInterface(kName)
            .withArguments(id)
            .storeResultsTo(value);
        return value;
    }
    std::uint32_t getItemEx(std::uint32_t a, std::uint32_t b) {
        std::uint32_t value = 0;
        proxy_->callMethod("iAcpiGetItemEx")
            .onInterface(kName)
            .withArguments(a, b)
            .storeResultsTo(value);
        return value;
    }
    void setItem(std::uint32_t id, std::uint32_t value, std::uint32_t control) {
        proxy_->callMethod("iAcpiSetItem").onInterface(kName).withArguments(id, value, control);
    }
    BufferAnswer buffered(const std::string& method, std::optional<std::uint32_t> leading,
                          Bytes bytes) {
        auto call = proxy_->createMethodCall(kName, method);
        if (leading)
            call << *leading;
        call << bytes << std::uint32_t(bytes.size());
        auto reply = proxy_->callMethod(call);
        BufferAnswer answer;
        reply >> answer.bytes >> answer.length;
        return answer;
    }
    BufferAnswer gGrp(std::uint32_t group) {
        Bytes request(4096, 0);
        request[0] = 0xE1;
        return buffered("iAcpiGGrp", group, request);
    }
    BufferAnswer callMethod(std::uint32_t code) {
        return buffered("iAcpiCallMethod", code, Bytes(4096, 0));
    }

private:
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> proxy_;
};

std::string errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const sdbus::Error& error) {
        return error.getName();
    }
    return "";
}

class DbusBridge : public vbtest::BridgeBusTest {
protected:
    void SetUp() override { createBoardAndBus(456); }

    // Waits until the bridge has (or has not) the name.
    bool nameOwned(bool wanted) {
        auto connection = sdbus::createSessionBusConnection();
        auto proxy =
            sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
        for (int i = 0; i < 500; ++i) {
            bool has = false;
            proxy->callMethod("NameHasOwner")
                .onInterface("org.freedesktop.DBus")
                .withArguments(kName)
                .storeResultsTo(has);
            if (has == wanted)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::string vboardShow() {
        std::filesystem::path out = directory.path() / "show.txt";
        const std::string command =
            (vbtest::binaryDirectory() / LUMIVANE_VBOARD).string() + " show > " + out.string();
        EXPECT_EQ(std::system(command.c_str()), 0);
        std::ifstream in(out);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_F(DbusBridge, ActivatedOnFirstCallItServesDescriptorsAndTheFirmwareShowsTheEffect) {
    BridgeClient client;
    const BufferAnswer list = client.gGrp(0x13);
    auto listed = vbtest::readPackage(list.returned());
    ASSERT_TRUE(listed);
    EXPECT_EQ(listed->header & 0xFF, 0xE1u);
    ASSERT_FALSE(listed->elements.empty());
    std::set<std::uint32_t> ids;
    for (const vbtest::Element& element : listed->elements) {
        auto descriptor = vbtest::readPackage(client.callMethod(element.number).returned());
        ASSERT_TRUE(descriptor) << element.number;
        ASSERT_GE(descriptor->elements.size(), 4u);
        ids.insert(descriptor->elements[0].number);
    }
    EXPECT_TRUE(ids.count(kLightingOnItem) && ids.count(kLightingControlItem) &&
                ids.count(kEffectWordItem));

    client.setItem(kLightingControlItem, 0, 1);
    client.setItem(kEffectWordItem, 0x0000FF01, 1); // Static, red
    const std::string show = vboardShow();
    EXPECT_THAT(show,
                HasSubstr("LED colour    red 0xFF  green 0x00  blue 0x00  (firmware: Static"));
    EXPECT_THAT(show, HasSubstr("iAcpiSetItem(0x13060042, 0xFF01, 0x1)"));
}

TEST_F(DbusBridge, EveryMethodCrossesTheBusAndLandsInTheCallLog) {
    vbtest::Child bridge(vbtest::binaryDirectory() / LUMIVANE_VBOARD, {"bridge"});
    ASSERT_TRUE(nameOwned(true));
    BridgeClient client;
    client.init();
    EXPECT_EQ(client.getItem(kCpuTemperatureItem), 456u);
    EXPECT_EQ(client.getItemEx(0x06, 0x12), 456u);
    client.setItem(kLightingOnItem, 0, 1);
    EXPECT_EQ(board->readout().ledColor(), LedColor{});
    const BufferAnswer echoed = client.buffered("iAcpiSetItemBuffer", 5u, Bytes{1, 2, 3, 4, 5, 6});
    EXPECT_EQ(echoed.returned(), (Bytes{1, 2, 3, 4, 5, 6}));
    const BufferAnswer info = client.buffered("iAcpiMbif", std::nullopt, Bytes(64, 0));
    auto package = vbtest::readPackage(info.returned());
    ASSERT_TRUE(package);
    EXPECT_EQ(package->elements.at(1).text, "XR40-SUMMIT");
    EXPECT_GT(client.gGrp(0x06).length, 8u);

    const std::vector<CallRecord> calls = board->bridge().calls();
    ASSERT_EQ(calls.size(), 7u);
    const BridgeMethod order[] = {BridgeMethod::Init,          BridgeMethod::GetItem,
                                  BridgeMethod::GetItemEx,     BridgeMethod::SetItem,
                                  BridgeMethod::SetItemBuffer, BridgeMethod::Mbif,
                                  BridgeMethod::GGrp};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(BridgeMethod(calls[i].method), order[i]) << i;
        EXPECT_EQ(calls[i].status, 0) << i;
    }
    EXPECT_EQ(calls[3].arguments[0], kLightingOnItem);
    EXPECT_EQ(calls[4].lengthIn, 6u);
    EXPECT_EQ(calls[6].headerIn & 0xFF, 0xE1u);
    EXPECT_EQ(board->items().find(kLightingOnItem)->lastControl, 1u);

    EXPECT_EQ(bridge.stop(), 0) << "the bridge ends cleanly when asked";
}

TEST_F(DbusBridge, FaultKnobsReachTheBus) {
    vbtest::Child bridge(vbtest::binaryDirectory() / LUMIVANE_VBOARD, {"bridge"});
    ASSERT_TRUE(nameOwned(true));
    BridgeClient client;

    BridgeFaults faults{};
    std::strcpy(faults.unknownMethod, "iAcpiMbif");
    faults.shorten = 1;
    faults.shortenTo = 12;
    faults.failGroupSet = 1;
    faults.failGroup = 0x06;
    board->bridge().setFaults(faults);
    EXPECT_EQ(errorOf([&] { client.buffered("iAcpiMbif", std::nullopt, Bytes(8, 0)); }),
              "org.freedesktop.DBus.Error.UnknownMethod");
    EXPECT_EQ(client.gGrp(0x13).length, 12u);
    EXPECT_THAT(errorOf([&] { client.gGrp(0x06); }), HasSubstr("tavlexCom.axdata.Error"));
    EXPECT_THAT(errorOf([&] { client.getItem(0x13060077); }), HasSubstr("NoSuchItem"));

    faults = {};
    faults.offline = 1;
    board->bridge().setFaults(faults);
    ASSERT_TRUE(nameOwned(false)) << "an offline bridge gives its name up";
    faults = {};
    board->bridge().setFaults(faults);
    ASSERT_TRUE(nameOwned(true)) << "the bridge takes its name back";
    EXPECT_EQ(client.getItem(kCpuTemperatureItem), 456u);
}

TEST(DbusBridgeAbsent, AClientOfABusWithoutTheBridgeIsToldSo) {
    testing_support::PrivateBus bus; // no activation file
    ASSERT_TRUE(bus.running());
    BridgeClient client;
    EXPECT_EQ(errorOf([&] { client.init(); }), "org.freedesktop.DBus.Error.ServiceUnknown");
}

} // namespace
