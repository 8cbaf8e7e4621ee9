#include "service/color_step.h"

#include "board/color.h"

#include <cmath>

namespace service {
namespace {

// Loudness at which the LEDs reach full colour: the sum of the squared band values.
constexpr double kFullEnergy = 250.0;
// The brightness curve was tuned with this single-precision value just below pi;
// the bytes at the top of the curve depend on it.
constexpr double kPi = double(3.141592502593994f);

double usable(float band) {
    return band >= 0.0f ? double(band) : 0.0; // negatives and NaN count as silence
}

} // namespace

DominantBand dominantBand(float low, float mid, float high) {
    if (high > mid)
        return high > low ? DominantBand::High : DominantBand::Low;
    return mid > low ? DominantBand::Mid : DominantBand::Low;
}

Rgb nextColor(ColorState& state, const BandValues& bands) {
    const double h = usable(bands.high);
    const double m = usable(bands.mid);
    const double l = usable(bands.low);

    double energy = (m * m + h * h + l * l) / kFullEnergy;
    if (energy > 1.0)
        energy = 1.0;
    const double target = std::sin(energy * kPi * 0.5);
    state.light = (target - state.light) * 0.5 + state.light;

    double hueTarget = 0.0, rate = 0.2;
    switch (dominantBand(float(l), float(m), float(h))) {
    case DominantBand::High:
        hueTarget = 1.0;
        rate = 0.2;
        break;
    case DominantBand::Mid:
        hueTarget = 0.5;
        rate = 0.05;
        break;
    case DominantBand::Low:
        hueTarget = 0.0;
        rate = 0.2;
        break;
    }
    state.hue = (hueTarget - state.hue) * rate + state.hue;

    Rgb rgb;
    board::hslToRgb(float(state.hue), 1.0f, float(state.light * 0.5), rgb.red, rgb.green, rgb.blue);
    return rgb;
}

} // namespace service
