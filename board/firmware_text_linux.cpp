#include "board/bios_item.h"

namespace board {

// UTF-8 is this platform's code page. A byte that does not start a well-formed sequence
// stands for itself (as Latin-1), so firmware text in an older code page stays legible
// rather than vanishing.
std::wstring firmwareTextToWide(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t extra = 0;
        std::uint32_t c = lead;
        std::uint32_t minimum = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1, c = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2, c = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3, c = lead & 0x07, minimum = 0x10000;
        }
        bool wellFormed = true;
        for (std::size_t k = 1; wellFormed && k <= extra; ++k) {
            if (i + k >= text.size()) {
                wellFormed = false;
                break;
            }
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                wellFormed = false;
            else
                c = c << 6 | (next & 0x3F);
        }
        if (extra > 0 && wellFormed && c >= minimum && c <= 0x10FFFF &&
            !(c >= 0xD800 && c < 0xE000)) {
            wide.push_back(wchar_t(c));
            i += extra + 1;
        } else {
            wide.push_back(wchar_t(lead));
            ++i;
        }
    }
    return wide;
}

} // namespace board
