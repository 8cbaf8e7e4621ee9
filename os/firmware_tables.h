#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

// The system's firmware-table service: the raw SMBIOS data ('RSMB') and ACPI tables
// by signature ('ACPI'). On Windows it is GetSystemFirmwareTable, on Linux the sysfs
// files under /sys/firmware. LUMIVANE_FIRMWARE_DIR, on both, names a directory laid
// out like /sys/firmware (dmi/tables/DMI, acpi/tables/<SIG>) that replaces the
// system's tables; an empty one stands for a system without the service.

namespace os {

inline constexpr std::uint32_t kFirmwareProviderRsmb = 0x52534D42; // 'RSMB'
inline constexpr std::uint32_t kFirmwareProviderAcpi = 0x41435049; // 'ACPI'

// A table signature as the service takes it: the four characters in memory order,
// so "FACP" is 0x50434146.
constexpr std::uint32_t firmwareTableId(const char (&signature)[5]) {
    return std::uint32_t(std::uint8_t(signature[0])) |
           std::uint32_t(std::uint8_t(signature[1])) << 8 |
           std::uint32_t(std::uint8_t(signature[2])) << 16 |
           std::uint32_t(std::uint8_t(signature[3])) << 24;
}

bool firmwareTableService();

// The whole table; empty when the system has no such table (or no service). The
// 'RSMB' table starts with the 8-byte header of the Windows raw SMBIOS data
// (calling method, major, minor, DMI revision, 32-bit length).
std::vector<std::uint8_t> readFirmwareTable(std::uint32_t provider, std::uint32_t tableId);

// GetSystemFirmwareTable's contract: returns the table's size, or 0 when there is
// none; copies the table only when size is at least that.
std::uint32_t getSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
                                     std::uint32_t size);

namespace detail {

// A sysfs-like table directory: whether it offers any table, and one table from it.
bool directoryOffersTables(const std::filesystem::path& root);
std::vector<std::uint8_t> readTableFromDirectory(const std::filesystem::path& root,
                                                 std::uint32_t provider, std::uint32_t tableId);

// The platform's own service, used when no directory overrides it.
bool systemFirmwareTableService();
std::vector<std::uint8_t> systemFirmwareTable(std::uint32_t provider, std::uint32_t tableId);

} // namespace detail
} // namespace os
