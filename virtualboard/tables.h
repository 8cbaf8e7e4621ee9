#pragma once

// The firmware tables of a virtual board: the SMBIOS entry point and structure table,
// and the ACPI tables the global lock needs (RSDP, RSDT, FADT, FACS), laid out in
// emulated physical memory and, as the operating system would offer them, as files.

#include "virtualboard/board_options.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace virtualboard {

struct RegionImage {
    std::string name;
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
};

struct BuiltTables {
    std::vector<RegionImage> regions;
    std::vector<std::uint8_t> smbiosEntryPoint;
    std::vector<std::uint8_t> smbiosTable;
    std::map<std::string, std::vector<std::uint8_t>> acpiTables; // by signature
    std::uint32_t entryPointAddress = 0, rsdpAddress = 0, rsdtAddress = 0, fadtAddress = 0,
                  facsAddress = 0;
};

// Where each table lives in the ACPI region.
inline constexpr std::uint32_t kRsdtOffset = 0x0000;
inline constexpr std::uint32_t kFadtOffset = 0x0200;
inline constexpr std::uint32_t kApicOffset = 0x0400;
inline constexpr std::uint32_t kDsdtOffset = 0x0600;
inline constexpr std::uint32_t kFacsOffset = 0x1000; // 64-byte aligned, as the FACS must be
inline constexpr std::uint32_t kAcpiRegionSize = 0x20000;
inline constexpr std::uint32_t kRsdpAddress = 0xFE020;
// The BIOS area plus the first page above 1 MiB, so that an entry point in the
// area's last paragraph is complete, as it would be on a machine with memory there.
inline constexpr std::uint32_t kBiosRegionSize = 0x21000;
// Initial contents of the two LED enable registers of the register window (bits 8
// and 9 are the ones the panel changes; the others must survive its writes).
inline constexpr std::uint32_t kWindowEnableOffsets[2] = {0x480, 0x490};
inline constexpr std::uint32_t kWindowInitialValue = 0x80C00200;

std::vector<std::uint8_t> buildSmbiosTable(const BoardOptions& options);
BuiltTables buildTables(const BoardOptions& options);

// dmi/tables/DMI and smbios_entry_point, acpi/tables/<SIG>; with no table service
// the directory is created empty.
void writeFirmwareDirectory(const std::filesystem::path& directory, const BuiltTables& tables,
                            bool tableService);

} // namespace virtualboard
