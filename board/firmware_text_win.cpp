#include "board/bios_item.h"

#include <windows.h>

namespace board {

std::wstring firmwareTextToWide(std::string_view text) {
    if (text.empty())
        return {};
    // Firmware texts come from a 4096-byte descriptor, so they always fit an int.
    const int length = int(text.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return {};
    std::wstring wide(std::size_t(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), needed);
    return wide;
}

} // namespace board
