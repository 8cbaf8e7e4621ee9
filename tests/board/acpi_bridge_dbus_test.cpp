// The D-Bus transport against a bridge object of the test's own on a private bus, so
// that the real marshalling runs: u in, u back for results, ay and u both ways.

#include "board/acpi_exports.h"
#include "board/acpi_items.h"
#include "board/bios_item_registry.h"
#include "fake_acpi_bridge.h"
#include "private_bus.h"

#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <sdbus-c++/sdbus-c++.h>

using namespace board;

namespace {

const std::string kInterface(kAcpiBridgeName);

// The bridge's methods, minus iAcpiMbif (so that an unknown method can be tried).
class BusBridge {
public:
    BusBridge() {
        connection_ = sdbus::createSessionBusConnection(std::string(kAcpiBridgeName));
        object_ = sdbus::createObject(*connection_, std::string(kAcpiBridgeObjectPath));
        using Bytes = std::vector<std::uint8_t>;
        using Reply = std::tuple<Bytes, std::uint32_t>;
        object_->registerMethod("iAcpiInit").onInterface(kInterface).implementedAs([this] {
            std::lock_guard lock(mutex_);
            ++inits;
        });
        object_->registerMethod("iAcpiGetItem")
            .onInterface(kInterface)
            .implementedAs([this](std::uint32_t id) {
                std::lock_guard lock(mutex_);
                const auto found = values.find(id);
                if (found == values.end())
                    throw sdbus::Error("tavlexCom.axdata.Error.NoSuchItem", "no such item");
                return found->second;
            });
        object_->registerMethod("iAcpiGetItemEx")
            .onInterface(kInterface)
            .implementedAs([](std::uint32_t a, std::uint32_t b) { return a * 1000 + b; });
        object_->registerMethod("iAcpiSetItem")
            .onInterface(kInterface)
            .implementedAs([this](std::uint32_t id, std::uint32_t value, std::uint32_t control) {
                std::lock_guard lock(mutex_);
                writes.push_back({id, value, control});
                values[id] = value;
            });
        object_->registerMethod("iAcpiGGrp")
            .onInterface(kInterface)
            .implementedAs([this](std::uint32_t group, Bytes bytes, std::uint32_t length) {
                std::lock_guard lock(mutex_);
                received.push_back({group, bytes, length});
                const auto found = groups.find(group);
                const Bytes reply = found == groups.end() ? bytes : found->second;
                return Reply{reply, std::uint32_t(reply.size())};
            });
        object_->registerMethod("iAcpiCallMethod")
            .onInterface(kInterface)
            .implementedAs([this](std::uint32_t code, Bytes bytes, std::uint32_t length) {
                std::lock_guard lock(mutex_);
                received.push_back({code, bytes, length});
                const auto found = descriptors.find(code);
                const Bytes reply = found == descriptors.end() ? bytes : found->second;
                return Reply{reply, std::uint32_t(reply.size())};
            });
        object_->registerMethod("iAcpiSetItemBuffer")
            .onInterface(kInterface)
            .implementedAs([this](std::uint32_t selector, Bytes bytes, std::uint32_t length) {
                std::lock_guard lock(mutex_);
                received.push_back({selector, bytes, length});
                Bytes reply(bytes.rbegin(), bytes.rend());
                return Reply{reply, length / 2};
            });
        object_->finishRegistration();
        connection_->enterEventLoopAsync();
    }
    ~BusBridge() { connection_->leaveEventLoop(); }

    struct Received {
        std::uint32_t leading;
        std::vector<std::uint8_t> bytes;
        std::uint32_t length;
    };
    template <class F>
    auto locked(F f) {
        std::lock_guard lock(mutex_);
        return f();
    }

    std::map<std::uint32_t, std::uint32_t> values;
    std::map<std::uint32_t, std::vector<std::uint8_t>> groups, descriptors;
    std::vector<std::vector<std::uint32_t>> writes;
    std::vector<Received> received;
    int inits = 0;

private:
    std::mutex mutex_;
    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IObject> object_;
};

class DbusBridge : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.running()) << "dbus-daemon did not start"; }

    testing_support::PrivateBus bus;
};

} // namespace

TEST_F(DbusBridge, EveryOperationCrossesTheBusWithItsArguments) {
    BusBridge bridge;
    bridge.locked([&] { bridge.values[0x06030012] = 415; });

    std::uint32_t value = 0;
    EXPECT_EQ(AcpiInit(), 1);
    EXPECT_EQ(AcpiGetItem(0x06030012, &value), 1);
    EXPECT_EQ(value, 415u);
    EXPECT_EQ(AcpiGetItemEx(7, 9, &value), 1);
    EXPECT_EQ(value, 7009u);
    EXPECT_EQ(AcpiSetItem(0x13060040, 0, 1), 1);

    // A failing method leaves the result as it was.
    value = 99;
    EXPECT_EQ(AcpiGetItem(0x0BAD0000, &value), 0);
    EXPECT_EQ(value, 99u);

    // The group request: 4096 bytes out, the first one marked; the list comes back.
    const std::vector<std::uint8_t> list = AcpiPackageBuilder().value(0xAB).value(0xCD).build();
    bridge.locked([&] { bridge.groups[0x13] = list; });
    std::vector<std::uint8_t> buffer(4096, 0x11);
    std::uint32_t length = 4096;
    EXPECT_EQ(AcpiGGrp(0x13, buffer.data(), &length), 1);
    EXPECT_EQ(length, list.size());
    EXPECT_TRUE(std::equal(list.begin(), list.end(), buffer.begin()));
    EXPECT_EQ(buffer[list.size()], 0x11);

    // The method code is sent by value.
    std::uint32_t code = 0xC0DE;
    length = 16;
    EXPECT_EQ(AcpiCallMethod(&code, buffer.data(), &length), 1);

    // A shortened length limits the copy-back.
    std::vector<std::uint8_t> small{1, 2, 3, 4, 5, 6, 7, 8};
    length = 8;
    EXPECT_EQ(AcpiSetItemBuffer(0xFFFF, 0x33, small.data(), &length), 1);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(small, (std::vector<std::uint8_t>{8, 7, 6, 5, 5, 6, 7, 8}));

    // A method the bridge does not have: the array comes back as sent.
    std::vector<std::uint8_t> info{9, 8, 7};
    length = 3;
    EXPECT_EQ(AcpiMbif(info.data(), &length), 1);
    EXPECT_EQ(info, (std::vector<std::uint8_t>{9, 8, 7}));
    EXPECT_EQ(length, 3u);

    bridge.locked([&] {
        EXPECT_EQ(bridge.inits, 1);
        EXPECT_EQ(bridge.writes, (std::vector<std::vector<std::uint32_t>>{{0x13060040, 0, 1}}));
        EXPECT_EQ(bridge.received.size(), 3u);
        if (bridge.received.size() == 3) {
            EXPECT_EQ(bridge.received[0].leading, 0x13u);
            EXPECT_EQ(bridge.received[0].length, 4096u);
            ASSERT_EQ(bridge.received[0].bytes.size(), 4096u);
            EXPECT_EQ(bridge.received[0].bytes[0], kGroupRequestMarker);
            EXPECT_EQ(bridge.received[0].bytes[1], 0x11);
            EXPECT_EQ(bridge.received[1].leading, 0xC0DEu);
            EXPECT_EQ(bridge.received[1].bytes.size(), 16u);
            EXPECT_EQ(bridge.received[2].leading, 0x33u);
            EXPECT_EQ(bridge.received[2].length, 8u);
        }
    });

    // A reply far larger than the request: what was asked for comes back, no more.
    bridge.locked([&] { bridge.groups[0x14] = std::vector<std::uint8_t>(1 << 20, 0x5A); });
    std::vector<std::uint8_t> few(32, 0);
    length = 16;
    EXPECT_EQ(AcpiGGrp(0x14, few.data(), &length), 1);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(few[15], 0x5A);
    EXPECT_EQ(few[16], 0);
}

TEST_F(DbusBridge, ItemsAreFoundReadAndWrittenThroughTheBus) {
    BusBridge bridge;
    bridge.locked([&] {
        testing_support::FakeAcpiBridge layout;
        testing_support::publishGroup(layout, 0x06,
                                      {testing_support::numberDescriptor(0x06030012, 0, 1, 1200)});
        testing_support::publishGroup(
            layout, 0x13,
            {testing_support::numberDescriptor(0x13060040, 0, 1, 2),
             testing_support::numberDescriptor(0x13060042, 0, 1, 0xFFFF)});
        bridge.groups = layout.groups;
        bridge.descriptors = layout.descriptors;
        bridge.values[0x06030012] = 388;
    });

    BiosItemRegistry registry(AcpiItemLibrary::platform());
    BiosItem* temperature = registry.Find(0x06030012);
    ASSERT_NE(temperature, nullptr);
    std::uint32_t tenths = 0;
    EXPECT_TRUE(temperature->GetValue(&tenths));
    EXPECT_EQ(tenths, 388u);
    EXPECT_EQ(temperature->GetCount(), 1200u);

    BiosItem* lighting = registry.Find(0x13060040);
    ASSERT_NE(lighting, nullptr);
    EXPECT_EQ(lighting->SetValue(0, 1), 1);
    EXPECT_EQ(registry.Find(0x13060041), nullptr);
    EXPECT_NE(registry.Find(0x13000042), nullptr);
    bridge.locked([&] {
        EXPECT_EQ(bridge.writes, (std::vector<std::vector<std::uint32_t>>{{0x13060040, 0, 1}}));
    });
}

TEST_F(DbusBridge, NoBridgeOnTheBusMeansFailureWithoutSideEffects) {
    std::uint32_t value = 5;
    std::vector<std::uint8_t> buffer(16, 0x77);
    std::uint32_t length = 16;
    EXPECT_EQ(AcpiGetItem(0x06030012, &value), 0);
    EXPECT_EQ(AcpiGGrp(0x13, buffer.data(), &length), 0);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(16, 0x77)); // no marker either
    EXPECT_EQ(length, 16u);

    // Without a session bus to reach, likewise.
    testing_support::ScopedEnvironment gone("DBUS_SESSION_BUS_ADDRESS",
                                            "unix:path=/nonexistent/lumivane-bus");
    EXPECT_EQ(AcpiSetItem(0x13060040, 1, 1), 0);
}
