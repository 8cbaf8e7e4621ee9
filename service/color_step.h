#pragma once

// One cycle of the music colour: the latest band values in, the register bytes out.
// Pure and deterministic, so the colour thread, lumivanectl and the tests all compute
// the same bytes from the same bands.

#include <cstdint>

namespace service {

struct BandValues {
    float low = 0.0f;  // band 0
    float mid = 0.0f;  // band 1
    float high = 0.0f; // band 2
};

struct Rgb {
    std::uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Rgb&) const = default;
};

// What one colour thread carries from cycle to cycle. A new thread starts from
// darkness and red whatever the previous one showed.
struct ColorState {
    double light = 0.0; // 0 off .. 1 full colour
    double hue = 0.0;   // 0 and 1 are both red
};

enum class DominantBand { Low, Mid, High };

// Which band pulls the hue this cycle. Ties go to the lower band, except that high
// equal to mid (and above low) counts as mid.
DominantBand dominantBand(float low, float mid, float high);

// Brightness follows loudness (the lightness value closes half its distance to the
// target each cycle); the hue drifts towards red (bass, treble) or cyan (middle).
Rgb nextColor(ColorState& state, const BandValues& bands);

} // namespace service
