// The item library and the BIOS item model of the programs, over the real D-Bus
// transport, against the bridge stand-in started by bus activation.

#include "board_fixture.h"
#include "bus_daemon.h"
#include "items_through_bridge.h"
#include "virtualboard/firmware.h"

#include <cstdlib>
#include <fstream>
#include <gmock/gmock.h>

namespace {

using namespace virtualboard;

class ItemsOverTheBridge : public vbtest::BoardTest {
protected:
    void SetUp() override {
        BoardOptions options;
        options.hostTemperature = false;
        options.temperature = 387;
        createBoard(options);
        bus.emplace(LUMIVANE_BUS_DATA_DIR);
        ASSERT_TRUE(bus->running()) << "dbus-daemon did not start";
    }
    std::optional<vbtest::BusDaemon> bus;
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

} // namespace
