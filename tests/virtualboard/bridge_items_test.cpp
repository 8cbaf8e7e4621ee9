// The item library and the BIOS item model of the programs, over the real D-Bus
// transport, against the bridge stand-in started by bus activation.

#include "board/ec_led_port.h"
#include "bridge_bus_fixture.h"
#include "items_through_bridge.h"
#include "run_program.h"
#include "virtualboard/firmware.h"

#include <cstdlib>
#include <fstream>
#include <gmock/gmock.h>

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

} // namespace
