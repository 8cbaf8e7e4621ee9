#include "os/firmware_tables.h"

#include <windows.h>

namespace os::detail {
namespace {

using GetSystemFirmwareTableFn = UINT(WINAPI*)(DWORD, DWORD, PVOID, DWORD);

// Older systems lack the function: look it up instead of linking to it.
GetSystemFirmwareTableFn lookUp() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<GetSystemFirmwareTableFn>(
                        reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemFirmwareTable")))
                  : nullptr;
}

} // namespace

bool systemFirmwareTableService() {
    return lookUp() != nullptr;
}

std::vector<std::uint8_t> systemFirmwareTable(std::uint32_t provider, std::uint32_t tableId) {
    GetSystemFirmwareTableFn get = lookUp();
    if (!get)
        return {};
    UINT size = get(provider, tableId, nullptr, 0);
    if (size == 0)
        return {};
    std::vector<std::uint8_t> table(size);
    UINT copied = get(provider, tableId, table.data(), size);
    if (copied == 0 || copied > size)
        return {};
    table.resize(copied);
    return table;
}

} // namespace os::detail
