#pragma once

// What a board is built from: the fixed facts of the emulated hardware and the
// options of a new board. The table builder needs these and nothing of the Board
// itself, so they stand apart from board.h.

#include "virtualboard/image_layout.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace virtualboard {

using layout::BusyMode;

// What every operation of this library throws when a board cannot be built, opened
// or read.
class BoardError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Fixed facts of the emulated hardware.
inline constexpr std::uint16_t kEcDataPort = 0x68;
inline constexpr std::uint16_t kEcCommandPort = 0x6C;
inline constexpr std::uint8_t kEcBankRegister = 0xFF;
inline constexpr std::uint8_t kRedRegister = 0x53;
inline constexpr std::uint8_t kGreenRegister = 0x5D;
inline constexpr std::uint8_t kBlueRegister = 0x5B;
inline constexpr std::uint16_t kPm1aEventPort = 0x1800;
inline constexpr std::uint16_t kPm1aControlPort = 0x1804;
inline constexpr std::uint32_t kRegisterWindowAddress = 0xFDAE0000;
inline constexpr std::uint32_t kRegisterWindowSize = 0x10000;
inline constexpr std::uint32_t kBiosAreaAddress = 0xE0000;
inline constexpr std::uint32_t kAcpiRegionAddress = 0xBFFE0000;

struct BoardOptions {
    std::string productName = "XR40-SUMMIT";
    std::string secondProductName = "XR40-SUMMIT-AUX";
    int baseboards = 1;                  // 0, 1 or 2 type-2 structures
    std::uint8_t baseboardLength = 0x0F; // formatted-area length of each, at least 6
    std::uint32_t smbiosTableAddress = 0x000E1234;
    std::uint32_t entryPointOffset = 0x0800; // "_SM_" at 0xF0000 + this
    bool rsdp = true;                        // false: no "RSD PTR" in the BIOS area
    bool tableService = true;                // false: the firmware directory is left empty
    BusyMode busyMode = BusyMode::Never;
    std::uint32_t busyReads = 0;      // for BusyMode::ForReads
    std::uint32_t firmwareLockMs = 0; // >0: the firmware owns the global lock this long
    bool openFails = false;           // HWIO_Open returns 0
    std::string missingExport;        // libraries installed for this board lack this export
    // Who drives the LEDs at power-on (item 0x13060041): the software by default, so
    // the shown colour is the EC's until a program hands the LEDs to the firmware.
    bool firmwareDrivesLeds = false;
    // Item 0x06030012 reads the host's CPU sensor when it has one; else, or when this
    // is false, `temperature` (tenths of a degree).
    bool hostTemperature = true;
    std::uint32_t temperature = 400;
};

// Throws BoardError when an option cannot be built (for example a table address
// that overlaps another region).
void validate(const BoardOptions& options);

} // namespace virtualboard
