// The LED enable bits of the register window belong to one board only: any other
// name, however close, leaves the window unmapped. The supported board's bits are
// checked with the window (window_test.cpp).

#include "board/bios_item.h"
#include "board/hwio.h"
#include "bridge_bus_fixture.h"
#include "panel/board_led_device.h"

#include <gtest/gtest.h>

namespace {

class LedDeviceTest : public vbtest::BridgeBusTest {
protected:
    testing_support::ScopedEnvironment hwio_{"LUMIVANE_HWIO_DIR",
                                             vbtest::binaryDirectory().string()};
};

TEST_F(LedDeviceTest, ABoardNamedOtherwiseNeverMapsTheRegisterWindow) {
    virtualboard::BoardOptions options;
    options.productName = "XR40-SUMMIT "; // one byte more
    createBoard(options);
    bus.emplace(LUMIVANE_BUS_DATA_DIR);
    ASSERT_TRUE(bus->running());

    BoardLedDevice device;
    EXPECT_FALSE(device.boardMatches());
    // The library that would map the window was there to use.
    ASSERT_TRUE(board::hwIOLibrary().isLoaded());
    const std::uint64_t maps = board->readout().counters().maps;
    const std::uint32_t before = board->readout().windowRegister(0x480);

    device.setLightingOn(false);
    EXPECT_EQ(board->items().read(board::kLightingEnableItem), 0u);
    device.setLightingOn(true);
    EXPECT_EQ(board->items().read(board::kLightingEnableItem), 1u);

    EXPECT_EQ(board->readout().counters().maps, maps);
    EXPECT_EQ(board->readout().windowRegister(0x480), before);
}

} // namespace
