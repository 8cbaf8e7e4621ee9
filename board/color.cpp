#include "board/color.h"

#include <cmath>

namespace board {
namespace {

constexpr float kOneThird = 0.33333334f;

// Rounds half up in double precision. Inputs outside 0..1 can push a component out
// of the byte range; those clamp instead of wrapping (and NaN gives 0), because an
// out-of-range float-to-integer conversion has no defined result.
std::uint8_t toByte(float component) {
    double rounded = std::floor(double(component) + 0.5);
    if (!(rounded >= 0.0))
        return 0;
    if (rounded > 255.0)
        return 255;
    return std::uint8_t(rounded);
}

float channel(float p, float q, float t) {
    if (t < 0.0f)
        t += 1.0f;
    if (t > 1.0f)
        t -= 1.0f;
    float value;
    if (6.0f * t < 1.0f)
        value = p + (q - p) * 6.0f * t;
    else if (2.0f * t < 1.0f)
        value = q;
    else if (3.0f * t < 2.0f)
        value = float(p + (q - p) * (0.6666666666666666 - t) * 6);
    else
        value = p;
    return value * 255.0f;
}

} // namespace

void hslToRgb(float hue, float saturation, float lightness, std::uint8_t& red, std::uint8_t& green,
              std::uint8_t& blue) {
    if (saturation == 0.0f) {
        red = green = blue = toByte(lightness * 255.0f);
        return;
    }
    float q = lightness < 0.5f ? (saturation + 1.0f) * lightness
                               : lightness + saturation - lightness * saturation;
    float p = 2.0f * lightness - q;
    red = toByte(channel(p, q, hue + kOneThird));
    green = toByte(channel(p, q, hue));
    blue = toByte(channel(p, q, hue - kOneThird));
}

} // namespace board
