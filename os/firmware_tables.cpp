#include "os/firmware_tables.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace os {
namespace {

std::optional<std::filesystem::path> directoryOverride() {
    const char* dir = std::getenv("LUMIVANE_FIRMWARE_DIR");
    if (!dir || !*dir)
        return std::nullopt;
    return std::filesystem::path(dir);
}

std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
    // A directory opens like a file and only fails on the first read, which the
    // stream reports by throwing whatever its exception mask says; so does a sysfs
    // file whose read fails. Either way there is no table.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return {};
    try {
        // sysfs reports no useful size: read to the end.
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return {};
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    } catch (const std::exception&) {
        return {};
    }
}

// The signature as a file name; none when its bytes cannot be one (a NUL would cut
// the name short and a '/' would leave the table folder).
std::optional<std::string> signatureText(std::uint32_t tableId) {
    std::string text(4, '\0');
    for (int i = 0; i < 4; ++i) {
        text[std::size_t(i)] = char((tableId >> (8 * i)) & 0xFF);
        if (text[std::size_t(i)] == '\0' || text[std::size_t(i)] == '/')
            return std::nullopt;
    }
    return text;
}

// The version bytes of the raw SMBIOS header come from the entry point beside the
// table, when there is one ("_SM_" keeps them at 6/7, "_SM3_" at 7/8).
void fillSmbiosVersion(const std::filesystem::path& entryPointFile, std::uint8_t* header) {
    std::vector<std::uint8_t> entry = readFile(entryPointFile);
    if (entry.size() >= 0x0B && std::memcmp(entry.data(), "_SM3_", 5) == 0) {
        header[1] = entry[7];
        header[2] = entry[8];
        header[3] = entry[0x0A];
    } else if (entry.size() >= 0x0B && std::memcmp(entry.data(), "_SM_", 4) == 0) {
        header[1] = entry[6];
        header[2] = entry[7];
        header[3] = entry[0x0A];
    }
}

} // namespace

namespace detail {

bool directoryOffersTables(const std::filesystem::path& root) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(root / "dmi" / "tables" / "DMI", ec))
        return true;
    auto acpi = root / "acpi" / "tables";
    return std::filesystem::is_directory(acpi, ec) &&
           std::filesystem::directory_iterator(acpi, ec) != std::filesystem::directory_iterator();
}

std::vector<std::uint8_t> readTableFromDirectory(const std::filesystem::path& root,
                                                 std::uint32_t provider, std::uint32_t tableId) {
    if (provider == kFirmwareProviderAcpi) {
        const std::optional<std::string> name = signatureText(tableId);
        return name ? readFile(root / "acpi" / "tables" / *name) : std::vector<std::uint8_t>{};
    }
    if (provider != kFirmwareProviderRsmb || tableId != 0)
        return {};

    std::vector<std::uint8_t> structures = readFile(root / "dmi" / "tables" / "DMI");
    if (structures.empty())
        return {};
    std::vector<std::uint8_t> table(8 + structures.size(), 0);
    fillSmbiosVersion(root / "dmi" / "tables" / "smbios_entry_point", table.data());
    std::uint32_t length = std::uint32_t(structures.size());
    for (int i = 0; i < 4; ++i)
        table[std::size_t(4 + i)] = std::uint8_t(length >> (8 * i));
    std::memcpy(table.data() + 8, structures.data(), structures.size());
    return table;
}

} // namespace detail

bool firmwareTableService() {
    if (auto dir = directoryOverride())
        return detail::directoryOffersTables(*dir);
    return detail::systemFirmwareTableService();
}

std::vector<std::uint8_t> readFirmwareTable(std::uint32_t provider, std::uint32_t tableId) {
    if (auto dir = directoryOverride())
        return detail::readTableFromDirectory(*dir, provider, tableId);
    return detail::systemFirmwareTable(provider, tableId);
}

std::uint32_t getSystemFirmwareTable(std::uint32_t provider, std::uint32_t tableId, void* buffer,
                                     std::uint32_t size) {
    std::vector<std::uint8_t> table = readFirmwareTable(provider, tableId);
    if (table.size() > 0xFFFFFFFFu)
        return 0;
    if (buffer && size >= table.size() && !table.empty())
        std::memcpy(buffer, table.data(), table.size());
    return std::uint32_t(table.size());
}

} // namespace os
