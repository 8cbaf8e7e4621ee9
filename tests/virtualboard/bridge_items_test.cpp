// The item library and the BIOS item model of the programs, over the real D-Bus
// transport, against the bridge stand-in started by bus activation.

#include "board/acpi_exports.h"
#include "board/ec_led_port.h"
#include "bridge_bus_fixture.h"
#include "child_program.h"
#include "eventually.h"
#include "items_through_bridge.h"
#include "run_program.h"
#include "virtualboard/firmware.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gmock/gmock.h>
#include <sdbus-c++/sdbus-c++.h>
#include <thread>

namespace {

using namespace virtualboard;

class ItemsOverTheBridge : public vbtest::BridgeBusTest {
protected:
    void SetUp() override { createBoardAndBus(387); }
};

TEST_F(ItemsOverTheBridge, EveryListedItemHasAWellFormedDescriptorAndWritesReachTheLeds) {
    vbtest::expectListedItemsWellFormed({0x06, 0x13});

    vbtest::expectItemModelDrivesTheFirmware(*board, 387, [&] {
        const std::filesystem::path out = directory.path() / "show.txt";
        EXPECT_EQ(std::system(((vbtest::binaryDirectory() / LUMIVANE_VBOARD).string() + " show > " +
                               out.string())
                                  .c_str()),
                  0);
        std::ifstream in(out);
        return std::string(std::istreambuf_iterator<char>(in), {});
    });
}

TEST_F(ItemsOverTheBridge, ABridgeThatVanishesMidCallFailsThatCallAndTheNextFindsItAgain) {
    vbtest::Child bridge(vbtest::binaryDirectory() / LUMIVANE_VBOARD, {"bridge"});
    // The hand-started one, not one the bus would start, must be the one that answers.
    auto connection = sdbus::createSessionBusConnection();
    auto bus = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    ASSERT_TRUE(testing_support::eventually([&] {
        std::uint32_t owner = 0;
        try {
            bus->callMethod("GetConnectionUnixProcessID")
                .onInterface("org.freedesktop.DBus")
                .withArguments(std::string(board::kAcpiBridgeName))
                .storeResultsTo(owner);
        } catch (const sdbus::Error&) {
        }
        return owner == std::uint32_t(bridge.pid());
    }));
    std::uint32_t value = 0;
    ASSERT_EQ(AcpiGetItem(kCpuTemperatureItem, &value), 1);
    BridgeFaults slow{};
    slow.delayMs = 5000;
    board->bridge().setFaults(slow);

    std::atomic<int> result{-1};
    std::thread call([&] {
        std::uint32_t late = 0;
        result = AcpiGetItem(kCpuTemperatureItem, &late);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the call is in the bridge by now
    bridge.stop(SIGKILL);
    call.join();
    EXPECT_EQ(result, 0);

    // The bus starts a new bridge for the next call.
    board->bridge().setFaults({});
    value = 0;
    EXPECT_EQ(AcpiGetItem(kCpuTemperatureItem, &value), 1);
    EXPECT_EQ(value, 387u);
}

} // namespace
