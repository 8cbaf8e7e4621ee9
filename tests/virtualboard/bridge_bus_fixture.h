#pragma once

// A board whose CPU temperature is pinned, and a bus of the test's own that starts the
// bridge stand-in from the build tree's activation file on the first call.

#include "board_fixture.h"
#include "private_bus.h"

#include <cstdint>
#include <optional>

namespace vbtest {

class BridgeBusTest : public BoardTest {
protected:
    void createBoardAndBus(std::uint32_t tenths) {
        virtualboard::BoardOptions options;
        options.hostTemperature = false;
        options.temperature = tenths;
        createBoard(options);
        // After the board: what the bus activates inherits VBOARD_IMAGE from it.
        bus.emplace(LUMIVANE_BUS_DATA_DIR);
        ASSERT_TRUE(bus->running()) << "dbus-daemon did not start";
    }

    std::optional<testing_support::PrivateBus> bus;
};

} // namespace vbtest
