// The global lock against the virtual board: its stand-in library, its tables in
// memory and in the firmware directory, and a firmware that holds the lock itself.

#include "board/global_lock.h"
#include "board/hwio.h"
#include "board_fixtures.h"
#include "test_environment.h"
#include "virtualboard/board.h"
#include "virtualboard/hwio_install.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

using board::GlobalLockResult;
using Status = GlobalLockResult::Status;
using virtualboard::Board;
using virtualboard::BoardOptions;

namespace {

// Where the hammering processes keep their shared counters: unused bytes at the
// start of the emulated BIOS area.
constexpr std::uint32_t kCounters = virtualboard::kBiosAreaAddress + 0x100;

class GlobalLockOnBoard : public ::testing::Test {
protected:
    void TearDown() override { board::acpi::forgetCachedTables(); }

    Board& create(const BoardOptions& options) {
        board::acpi::forgetCachedTables();
        auto image = dir.path() / ("board" + std::to_string(++boards_) + ".img");
        auto firmware = dir.path() / ("firmware" + std::to_string(boards_));
        board_ = Board::create(image, options, firmware);
        image_.emplace("VBOARD_IMAGE", image.string());
        firmware_.emplace("LUMIVANE_FIRMWARE_DIR", firmware.string());
        EXPECT_TRUE(library.load());
        return *board_;
    }

    std::vector<std::uint16_t> pm1Writes() const {
        std::vector<std::uint16_t> ports;
        auto facts = board_->facts();
        for (const auto& entry : board_->readout().trace())
            if (entry.kind == virtualboard::TraceKind::PortWrite && entry.port != 0x68 &&
                entry.port != 0x6C)
                ports.push_back(std::uint16_t(entry.port - facts.pm1aEventPort));
        return ports;
    }

    testing_support::TemporaryDirectory dir;
    // The stand-in has no board to serve until a test creates one.
    std::optional<testing_support::ScopedEnvironment> image_, firmware_;
    board::HwIOLibrary library{board_testing::besideTests(virtualboard::hwioSystemName().c_str())};
    std::unique_ptr<Board> board_;
    int boards_ = 0;
};

} // namespace

TEST_F(GlobalLockOnBoard, TakenAndGivenBackThroughServiceAndScan) {
    for (bool service : {true, false}) {
        BoardOptions options;
        options.tableService = service;
        Board& board = create(options);
        board.knobs().setGlobalLockWord(
            0); // HWIO_Open may have run a firmware agent on another board
        board.knobs().clearTrace();

        GlobalLockResult result = board::acpi::tryAcquire(library.functions(), 1500);
        EXPECT_EQ(result.status, Status::Obtained) << service;
        EXPECT_EQ(result.attempts, 1u);
        EXPECT_EQ(board.readout().globalLockWord(), 2u);
        board::acpi::release(library.functions());
        EXPECT_EQ(board.readout().globalLockWord(), 0u);
        EXPECT_TRUE(pm1Writes().empty()) << "no waiter, no signal";
        auto counters = board.readout().counters();
        EXPECT_EQ(counters.maps, counters.unmaps) << "every view is released";
    }
}

TEST_F(GlobalLockOnBoard, WaitsForTheFirmwareAndSignalsItOnRelease) {
    BoardOptions options;
    options.firmwareLockMs = 150;
    Board& board = create(options);
    ASSERT_EQ(board.readout().globalLockWord() & 2u, 2u) << "the firmware owns the lock";

    GlobalLockResult once = board::acpi::tryAcquire(library.functions(), 1);
    EXPECT_EQ(once.status, Status::NotObtained);
    EXPECT_EQ(board.readout().globalLockWord(), 3u);

    board.firmwareLock().startAgent();
    GlobalLockResult waited = board::acpi::tryAcquire(library.functions(), 1500);
    EXPECT_EQ(waited.status, Status::Obtained);
    EXPECT_GT(waited.attempts, 1u);
    EXPECT_EQ(board.readout().globalLockWord(), 2u);

    // Now the firmware wants it back and sets pending: the release tells it.
    board.knobs().clearTrace();
    board.knobs().setGlobalLockWord(3);
    board::acpi::release(library.functions());
    EXPECT_EQ(board.readout().globalLockWord(), 0u);
    EXPECT_EQ(pm1Writes(), (std::vector<std::uint16_t>{2, 0, 0x30}));
    EXPECT_EQ(board.readout().pm1().enable & 0x20, 0x20);
    EXPECT_EQ(board.readout().pm1().chipset & 0x80, 0x80);
}

TEST_F(GlobalLockOnBoard, NoTablesMeansNoLock) {
    BoardOptions options;
    options.tableService = false;
    options.rsdp = false;
    Board& board = create(options);
    board.knobs().setGlobalLockWord(2);
    EXPECT_EQ(board::acpi::tryAcquire(library.functions(), 1500).status, Status::NoTables);
    board::acpi::release(library.functions());
    EXPECT_EQ(board.readout().globalLockWord(), 2u);
}

TEST_F(GlobalLockOnBoard, TwoProcessesNeverHoldItTogether) {
    for (bool service : {true, false}) {
        BoardOptions options;
        options.tableService = service;
        Board& board = create(options);
        std::uint8_t* counters = board.hardware().physical(kCounters, 16);
        ASSERT_NE(counters, nullptr);
        std::fill(counters, counters + 16, 0);

        // Built piecewise: GCC 12 misreads a chain of + on strings as overlapping copies.
        std::string command = "\"";
        command += board_testing::besideTests(LUMIVANE_HAMMER_FILE).string();
        command += "\" 300";
        int results[2] = {-1, -1};
        std::thread a([&] { results[0] = std::system(command.c_str()); });
        std::thread b([&] { results[1] = std::system(command.c_str()); });
        a.join();
        b.join();
        EXPECT_EQ(results[0], 0);
        EXPECT_EQ(results[1], 0);

        std::uint32_t inside, overlaps, taken;
        std::memcpy(&inside, counters, 4);
        std::memcpy(&overlaps, counters + 4, 4);
        std::memcpy(&taken, counters + 8, 4);
        EXPECT_EQ(overlaps, 0u) << service;
        EXPECT_EQ(inside, 0u);
        EXPECT_EQ(taken, 600u);
        EXPECT_EQ(board.readout().globalLockWord(), 0u);
    }
}
