#pragma once

// The virtual board: one image file (see image_layout.h) that every process using the
// board maps. This is the library behind the HwIO stand-in and the `vboard` tool, and
// the one tests link to build a board of their own:
//
//     testing_support::TemporaryDirectory dir;
//     virtualboard::BoardOptions options;            // defaults: an "XR40-SUMMIT" board
//     auto board = virtualboard::Board::create(dir.path() / "board.img", options,
//                                              dir.path() / "firmware");
//     // set VBOARD_IMAGE and LUMIVANE_FIRMWARE_DIR, run the code under test, then:
//     EXPECT_EQ(board->readout().ledColor().red, 0x12);
//
// A Board is the image's facts plus facets over the same mapped image, each for one
// kind of user: the hardware as HwIO reaches it, the readout, the test knobs, the
// firmware items, the bridge's faults and call log, and the firmware's side of the
// global lock. Facets live as long as their Board.
//
// All operations are safe to call from several threads and processes at once.
// Errors in create/open throw BoardError; the readout calls do not fail.

#include "virtualboard/board_options.h"
#include "virtualboard/bridge_state.h"
#include "virtualboard/firmware_items.h"
#include "virtualboard/firmware_lock.h"
#include "virtualboard/hardware.h"
#include "virtualboard/knobs.h"
#include "virtualboard/readout.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace virtualboard {

class BoardImage;

// The facts of one created board, as tools and tests need them.
struct BoardFacts {
    std::string productName, secondProductName, missingExport;
    std::filesystem::path firmwareDirectory; // empty: none written
    int baseboards = 0;
    std::uint32_t baseboardLength = 0;
    std::uint32_t smbiosTableAddress = 0, smbiosTableLength = 0, smbiosEntryPoint = 0;
    std::uint32_t rsdpAddress = 0, rsdtAddress = 0, fadtAddress = 0, facsAddress = 0;
    std::uint16_t pm1aEventPort = 0, pm1aControlPort = 0;
    bool tableService = false;
};

class Board {
public:
    // VBOARD_IMAGE, else "lumivane-vboard.img" in the user's runtime directory.
    static std::filesystem::path defaultImagePath();
    // Beside the image: "<image>.firmware" and "<image>.hwio".
    static std::filesystem::path defaultFirmwareDirectory(const std::filesystem::path& image);
    static std::filesystem::path defaultLibraryDirectory(const std::filesystem::path& image);

    // Writes a new image (replacing any old one atomically, so processes that still
    // map the old file are not disturbed) and, when firmwareDirectory is not empty,
    // the sysfs-like table directory (empty when the board has no table service).
    static std::unique_ptr<Board> create(const std::filesystem::path& image,
                                         const BoardOptions& options,
                                         const std::filesystem::path& firmwareDirectory = {});
    static std::unique_ptr<Board> open(const std::filesystem::path& image);

    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    const std::filesystem::path& path() const;
    BoardFacts facts() const;
    // True once `create` has put a new image at this board's path.
    bool superseded() const;

    Hardware& hardware() { return hardware_; }
    const Readout& readout() const { return readout_; }
    Knobs& knobs() { return knobs_; }
    FirmwareItems& items() { return items_; }
    const FirmwareItems& items() const { return items_; }
    BridgeState& bridge() { return bridge_; }
    const BridgeState& bridge() const { return bridge_; }
    FirmwareLock& firmwareLock() { return firmwareLock_; }
    const FirmwareLock& firmwareLock() const { return firmwareLock_; }

private:
    explicit Board(std::unique_ptr<BoardImage> image);

    std::unique_ptr<BoardImage> image_;
    Hardware hardware_;
    Readout readout_;
    Knobs knobs_;
    FirmwareItems items_;
    BridgeState bridge_;
    FirmwareLock firmwareLock_;
};

} // namespace virtualboard
