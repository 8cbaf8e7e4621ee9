// The music effect on the virtual board: a tone played into the default sink
// reaches the EC colour registers through the real capture, analysis, colour
// thread and register writes.

#include "board/ec_led_port.h"
#include "eventually.h"
#include "os/executable.h"
#include "service/music_effect.h"
#include "test_environment.h"
#include "tone_player.h"
#include "virtualboard/board.h"

#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

using testing_support::eventually;

} // namespace

TEST(MusicOnTheBoard, AToneLightsTheLedsAndStoppingFreezesThem) {
    testing_support::TemporaryDirectory dir;
    auto board = virtualboard::Board::create(dir.path() / "board.img", {}, dir.path() / "firmware");
    testing_support::ScopedEnvironment image("VBOARD_IMAGE", (dir.path() / "board.img").string());
    testing_support::ScopedEnvironment firmware("LUMIVANE_FIRMWARE_DIR",
                                                (dir.path() / "firmware").string());
    testing_support::ScopedEnvironment library("LUMIVANE_HWIO_DIR",
                                               os::executablePath().value().parent_path().string());
    service::setCapturePrintSink([](const std::string&) {});

    // As in the service: the controller's EC port comes first and, identifying the
    // board, loads the I/O binding that the global lock works through.
    board::EcLedPort port;
    ASSERT_TRUE(port.boardMatches());
    service::MusicEffect effect;
    effect.start();
    ASSERT_TRUE(effect.capture().waitStreaming(5000));
    // Silence first: the colour thread writes black.
    ASSERT_TRUE(eventually([&] { return board->readout().counters().ecTransactions >= 12; }));
    EXPECT_EQ(board->readout().ledColor(), virtualboard::LedColor{});

    std::thread player([] { play(1000, 400ms); });
    EXPECT_TRUE(
        eventually([&] { return board->readout().ledColor() != virtualboard::LedColor{}; }));
    player.join();

    effect.stop();
    const auto frozen = board->readout().ledColor();
    const auto writes = board->readout().counters().ecTransactions;
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(board->readout().ledColor(), frozen);
    EXPECT_EQ(board->readout().counters().ecTransactions, writes)
        << "a register write after stop()";
    // Every packet was analysed under the firmware's global lock, each time given back.
    EXPECT_GT(board->readout().counters().maps, 0u);
    EXPECT_EQ(board->readout().globalLockWord() & 3u, 0u);

    // Each colour went out blue, green, red, every register behind its bank selection.
    std::vector<std::uint8_t> registers;
    for (const auto& entry : board->readout().trace())
        if (entry.kind == virtualboard::TraceKind::RegisterWrite)
            registers.push_back(entry.reg);
    ASSERT_GE(registers.size(), 6u);
    std::size_t first = 0;
    while (first < registers.size() && registers[first] != 0xFF)
        ++first;
    for (std::size_t i = first; i + 6 <= registers.size(); i += 6)
        EXPECT_EQ(std::vector<std::uint8_t>(registers.begin() + std::ptrdiff_t(i),
                                            registers.begin() + std::ptrdiff_t(i + 6)),
                  (std::vector<std::uint8_t>{0xFF, 0x5B, 0xFF, 0x5D, 0xFF, 0x53}))
            << "at register write " << i;
    service::setCapturePrintSink({});
}
