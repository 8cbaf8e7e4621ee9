#include "os/firmware_tables.h"

namespace os::detail {

static const std::filesystem::path kSysFirmware = "/sys/firmware";

bool systemFirmwareTableService() {
    return directoryOffersTables(kSysFirmware);
}

std::vector<std::uint8_t> systemFirmwareTable(std::uint32_t provider, std::uint32_t tableId) {
    return readTableFromDirectory(kSysFirmware, provider, tableId);
}

} // namespace os::detail
