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

TEST_F(ItemsOverTheBridge, TheTemperatureEffectOfACommandLineRunShowsOnTheBoard) {
    // Runs beside a copy of the tool, so that the effect it stores stays in this test.
    const std::filesystem::path tool = directory.path() / "lumivanectl";
    std::filesystem::copy_file(vbtest::binaryDirectory() / LUMIVANE_LUMIVANECTL, tool);
    for (const char* library : {"libhwio.so", "HwIO.so"})
        std::filesystem::copy_file(vbtest::binaryDirectory() / library, directory.path() / library);
    ASSERT_EQ(vbtest::runProgram(tool, {"effect", "temperature", "1"}), 0);

    // 38.7 degrees, in whole degrees as the effect shows them.
    const board::LedColor expected = board::EcLedPort::temperatureColor(38);
    EXPECT_EQ(board->readout().ledView().source, LedView::Source::Software);
    EXPECT_EQ(board->readout().ledColor(), (LedColor{expected.red, expected.green, expected.blue}));
    EXPECT_EQ(board->items().find(kLightingControlItem)->value, 1u);
    EXPECT_EQ(vbtest::runProgram(tool, {"effect", "sparkle"}), 2);
}

} // namespace
