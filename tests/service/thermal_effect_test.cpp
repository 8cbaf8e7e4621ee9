#include "led_controller_fixture.h"

#include <vector>

using namespace led_testing;
using board::EcLedPort;
using board::LedColor;

namespace {

LedColor onBoard(virtualboard::Board& board) {
    const virtualboard::LedColor c = board.readout().ledColor();
    return {c.red, c.green, c.blue};
}

// The colour registers written since the trace was cleared, in order.
std::vector<std::uint8_t> registersWritten(virtualboard::Board& board) {
    std::vector<std::uint8_t> registers;
    for (const virtualboard::TraceEntry& e : board.readout().trace())
        if (e.kind == virtualboard::TraceKind::RegisterWrite &&
            e.reg != virtualboard::kEcBankRegister)
            registers.push_back(e.reg);
    return registers;
}

} // namespace

TEST(TemperatureColor, RunsFromGreenThroughYellowToRed) {
    struct Case {
        std::int32_t celsius;
        LedColor color;
    };
    const Case cases[] = {
        {20, {1, 255, 0}},
        {25, {64, 255, 0}},
        {30, {128, 255, 0}},
        {40, {255, 255, 0}},
        {50, {255, 127, 0}},
        {59, {255, 13, 0}},
        {60, {255, 0, 0}},
        {19, {1, 255, 0}},
        {0, {1, 255, 0}},
        {-40, {1, 255, 0}},
        {61, {255, 0, 0}},
        {429496729, {255, 0, 0}},
        {std::numeric_limits<std::int32_t>::min(), {1, 255, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EcLedPort::temperatureColor(c.celsius), c.color) << c.celsius;
}

TEST_F(ControllerTest, ShowTemperatureWritesRedGreenBlueUnderTheGlobalLock) {
    virtualboard::Board& board = sharedBoard();
    board.knobs().setGlobalLockWord(0);
    EcLedPort port(registry);
    for (std::int32_t celsius : {45, 20, 60, 33}) {
        board.knobs().clearTrace();
        port.showTemperature(celsius);
        EXPECT_EQ(onBoard(board), EcLedPort::temperatureColor(celsius)) << celsius;
        EXPECT_EQ(
            registersWritten(board),
            (std::vector<std::uint8_t>{virtualboard::kRedRegister, virtualboard::kGreenRegister,
                                       virtualboard::kBlueRegister}));
        EXPECT_EQ(board.readout().globalLockWord(), 0u)
            << "the lock taken for the write is given back";
    }

    // The firmware holds the lock and does not let go: the colour goes out all the
    // same, and the firmware's ownership is left alone.
    board.knobs().setGlobalLockWord(2);
    port.showTemperature(59);
    EXPECT_EQ(onBoard(board), (LedColor{255, 13, 0}));
    EXPECT_EQ(board.readout().globalLockWord() & 2u, 2u);
    board.knobs().setGlobalLockWord(0);
}

TEST_F(ControllerTest, TheThermalThreadShowsEachReadingAndNothingWithoutOne) {
    virtualboard::Board& board = sharedBoard();
    board.knobs().setGlobalLockWord(0);
    bridge.setValue(board::kCpuTemperatureItem, 455);
    auto controller = makeController();
    controller->setMode(2);

    struct Step {
        std::uint32_t raw;
        LedColor color;
    };
    const Step steps[] = {{455, EcLedPort::temperatureColor(45)},
                          {605, {255, 0, 0}},
                          {199, {1, 255, 0}},
                          {611, {255, 0, 0}},
                          {0, {1, 255, 0}}};
    for (const Step& s : steps) {
        bridge.setValue(board::kCpuTemperatureItem, s.raw);
        EXPECT_TRUE(eventually([&] { return onBoard(board) == s.color; })) << s.raw;
    }

    // No reading: the LEDs keep the last colour while the thread goes on asking.
    bridge.removeValue(board::kCpuTemperatureItem);
    const std::size_t reads = bridge.reads(board::kCpuTemperatureItem);
    ASSERT_TRUE(eventually([&] { return bridge.reads(board::kCpuTemperatureItem) >= reads + 1; }));
    const auto writes = board.readout().counters().ecTransactions;
    ASSERT_TRUE(eventually([&] { return bridge.reads(board::kCpuTemperatureItem) >= reads + 4; }));
    EXPECT_EQ(board.readout().counters().ecTransactions, writes);
    EXPECT_EQ(onBoard(board), (LedColor{1, 255, 0}));

    bridge.setValue(board::kCpuTemperatureItem, 400);
    EXPECT_TRUE(eventually([&] { return onBoard(board) == LedColor{255, 255, 0}; }));

    // Stopped: no more readings, no more writes.
    controller->setMode(0);
    ASSERT_TRUE(eventually([&] { return controller->liveThermalThreads() == 0; }));
    const std::size_t finalReads = bridge.reads(board::kCpuTemperatureItem);
    std::this_thread::sleep_for(5 * kPeriod);
    EXPECT_EQ(bridge.reads(board::kCpuTemperatureItem), finalReads);
}
