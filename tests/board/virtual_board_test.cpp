// The board code against the virtual board: its I/O library stand-in, its image
// and its firmware-table directory, as the programs meet them.

#include "board/ec_led_port.h"
#include "board/ec_registers.h"
#include "board/hwio.h"
#include "board/smbios.h"
#include "board_fixtures.h"
#include "os/diagnostics.h"
#include "test_environment.h"
#include "virtualboard/board.h"
#include "virtualboard/hwio_install.h"

#include <atomic>
#include <gtest/gtest.h>

using board_testing::besideTests;
using virtualboard::Board;
using virtualboard::BoardOptions;
using Writes = std::vector<std::pair<std::uint16_t, std::uint8_t>>;

namespace {

std::atomic<int> sleeps{0};
void countSleep() {
    ++sleeps;
}

class VirtualBoard : public ::testing::Test {
protected:
    // A fresh board; the stand-in follows VBOARD_IMAGE from its next call on.
    Board& create(const BoardOptions& options) {
        auto image = dir.path() / ("board" + std::to_string(++boards_) + ".img");
        auto firmware = dir.path() / ("firmware" + std::to_string(boards_));
        board_ = Board::create(image, options, firmware);
        image_.emplace("VBOARD_IMAGE", image.string());
        firmware_.emplace("LUMIVANE_FIRMWARE_DIR", firmware.string());
        return *board_;
    }

    board::BoardIdentity identify() {
        board::HwIOLibrary library(besideTests(virtualboard::hwioSystemName().c_str()));
        return board::readBoardIdentity(library);
    }

    // Port writes to the EC, in order, from the board's trace.
    Writes ecWrites() const {
        Writes out;
        for (const auto& entry : board_->readout().trace())
            if (entry.kind == virtualboard::TraceKind::PortWrite &&
                (entry.port == 0x68 || entry.port == 0x6C))
                out.emplace_back(entry.port, entry.value);
        return out;
    }

    testing_support::TemporaryDirectory dir;
    std::unique_ptr<Board> board_;
    std::optional<testing_support::ScopedEnvironment> image_, firmware_;
    int boards_ = 0;
};

void bankedWrite(Writes& out, std::uint8_t reg, std::uint8_t value) {
    out.insert(out.end(), {{0x6C, 0x81}, {0x68, 0xFF}, {0x68, 0x00}});
    out.insert(out.end(), {{0x6C, 0x81}, {0x68, reg}, {0x68, value}});
}

} // namespace

TEST_F(VirtualBoard, ProductNameFromTheServiceAndFromTheScan) {
    for (bool service : {true, false}) {
        BoardOptions options;
        options.tableService = service;
        Board& board = create(options);
        auto identity = identify();
        EXPECT_EQ(identity.source, service ? board::DmiWalker::Source::FirmwareTableService
                                           : board::DmiWalker::Source::MemoryScan);
        EXPECT_EQ(identity.productName, "XR40-SUMMIT") << service;
        auto counters = board.readout().counters();
        EXPECT_EQ(counters.maps, counters.unmaps) << "every view is released";
        EXPECT_EQ(counters.maps, service ? 0u : 2u);
    }
}

TEST_F(VirtualBoard, ScannedBoardsOfEveryShape) {
    BoardOptions options;
    options.tableService = false;

    options.baseboards = 0;
    create(options);
    auto identity = identify();
    EXPECT_TRUE(identity.tableFound);
    EXPECT_FALSE(identity.baseboardFound);
    EXPECT_EQ(identity.productName, "");

    options.baseboards = 2;
    options.productName = "FIRST";
    options.secondProductName = "SECOND";
    options.baseboardLength = 0x40;
    create(options);
    EXPECT_EQ(identify().productName, "FIRST");

    // The last paragraph of the BIOS area, and a table right below it.
    options = BoardOptions{};
    options.tableService = false;
    options.entryPointOffset = 0xFFF0;
    create(options);
    EXPECT_EQ(identify().productName, "XR40-SUMMIT");

    // The same board without the stand-in's views: nothing found, nothing held.
    os::CapturedDiagnostics diagnostics;
    board::HwIOLibrary noMapping(besideTests(virtualboard::hwioVariantName("HWIO_MapMem").c_str()));
    EXPECT_FALSE(board::readBoardIdentity(noMapping).tableFound);
    EXPECT_EQ(diagnostics.messages().size(), 1u);
}

TEST_F(VirtualBoard, ColorWritesLandInTheRegistersInBothOrders) {
    Board& board = create({});
    board::EcPortBinding ports(besideTests(virtualboard::hwioBareName().c_str()).string());
    ports.setSleep(countSleep);
    sleeps = 0;
    ASSERT_EQ(ports.loadHwio(), board::kHwioLoaded);
    board.knobs().clearTrace();
    board.knobs().resetCounters();

    ports.ecWriteBanked(0, board::kLedRedRegister, 0x12);
    ports.ecWriteBanked(0, board::kLedGreenRegister, 0x34);
    ports.ecWriteBanked(0, board::kLedBlueRegister, 0x56);
    EXPECT_EQ(board.readout().ledColor(), (virtualboard::LedColor{0x12, 0x34, 0x56}));
    Writes expected;
    bankedWrite(expected, 0x53, 0x12);
    bankedWrite(expected, 0x5D, 0x34);
    bankedWrite(expected, 0x5B, 0x56);
    EXPECT_EQ(ecWrites(), expected);
    auto counters = board.readout().counters();
    EXPECT_EQ(counters.ecTransactions, 6u);
    EXPECT_EQ(counters.ecProtocolErrors, 0u);
    EXPECT_EQ(counters.ecStatusReads, 36u);
    EXPECT_EQ(sleeps, 0);

    board.knobs().clearTrace();
    ports.ecWriteBanked(0, board::kLedBlueRegister, 0x01);
    ports.ecWriteBanked(0, board::kLedGreenRegister, 0x02);
    ports.ecWriteBanked(0, board::kLedRedRegister, 0x03);
    expected.clear();
    bankedWrite(expected, 0x5B, 0x01);
    bankedWrite(expected, 0x5D, 0x02);
    bankedWrite(expected, 0x53, 0x03);
    EXPECT_EQ(ecWrites(), expected);
    EXPECT_EQ(board.readout().ledColor(), (virtualboard::LedColor{0x03, 0x02, 0x01}));
}

TEST_F(VirtualBoard, BusyControllerCostsPausesNotBytes) {
    Board& board = create({});
    board::EcPortBinding ports(besideTests(virtualboard::hwioBareName().c_str()).string());
    ports.setSleep(countSleep);
    ASSERT_EQ(ports.loadHwio(), board::kHwioLoaded);

    board.knobs().setBusyMode(virtualboard::BusyMode::Always);
    board.knobs().resetCounters();
    sleeps = 0;
    ports.ecWriteBanked(0, board::kLedRedRegister, 0xA1);
    ports.ecWriteBanked(0, board::kLedGreenRegister, 0xA2);
    ports.ecWriteBanked(0, board::kLedBlueRegister, 0xA3);
    EXPECT_EQ(board.readout().ledColor(), (virtualboard::LedColor{0xA1, 0xA2, 0xA3}));
    // The most a colour can cost: 72 status reads and 36 pauses.
    EXPECT_EQ(board.readout().counters().ecStatusReads, 72u);
    EXPECT_EQ(sleeps, 36);

    // Busy for the first look only: the second look finds it free, no pause.
    board.knobs().setBusyMode(virtualboard::BusyMode::ForReads, 1);
    board.knobs().resetCounters();
    sleeps = 0;
    ports.ecWrite(0x53, 0x44);
    EXPECT_EQ(board.readout().counters().ecStatusReads, 7u);
    EXPECT_EQ(sleeps, 0);
    EXPECT_EQ(board.readout().ecRegister(0, 0x53), 0x44);
}

TEST_F(VirtualBoard, ProcessWideBindingsAndTheBoardCheck) {
    BoardOptions options;
    options.tableService = false;
    Board& board = create(options);
    testing_support::ScopedEnvironment hwioDir{"LUMIVANE_HWIO_DIR",
                                               besideTests("").parent_path().string()};
    EXPECT_TRUE(board::EcLedPort().boardMatches());
    EXPECT_TRUE(board::hwIOLibrary().isLoaded());
    EXPECT_NE(board::hwIOLibrary().functions().mapPhysToLin, nullptr);

    // The LED path finds its own copy by bare name.
    board::LedRegisterWriter writer;
    writer.setBlue(0x0B);
    writer.setGreen(0x0C);
    writer.setRed(0x0D);
    EXPECT_EQ(board.readout().ledColor(), (virtualboard::LedColor{0x0D, 0x0C, 0x0B}));

    options.productName = "XR40-SUMMIT ";
    create(options);
    EXPECT_FALSE(board::EcLedPort().boardMatches());
}
