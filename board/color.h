#pragma once

#include <cstdint>

namespace board {

// Hue, saturation and lightness (hue 0 to 1, both ends red) to the three register
// bytes. Both software effects depend on the exact bytes, down to the rounding of
// each single- and double-precision step, so the arithmetic must not be "improved".
void hslToRgb(float hue, float saturation, float lightness, std::uint8_t& red, std::uint8_t& green,
              std::uint8_t& blue);

} // namespace board
