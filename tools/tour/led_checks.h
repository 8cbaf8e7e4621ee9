#pragma once

// What the tour calls the right colour for each effect, judged from LED colours
// sampled off the board while the effect runs. Each check says in a few words what
// it saw, right or not, so that a wrong step can be told from its line alone.

#include "virtualboard/readout.h"

#include <optional>
#include <string>
#include <vector>

namespace tour {

using virtualboard::LedColor;

struct Judgement {
    bool right = false;
    std::string seen;
};

// #rrggbb.
std::string hexColor(LedColor color);
// Hue in degrees, 0 up to 360; none for a grey (dark included).
std::optional<double> hueOf(LedColor color);
// The shorter way round the colour circle between two hues, in degrees.
double hueDistance(double a, double b);
bool isDark(LedColor color);

// The programmed colour (the effect word's) at every sample, near the hue asked for.
Judgement judgeStatic(const std::vector<LedColor>& samples, LedColor programmed, double wantedHue);
// A swell between dark and the programmed colour that keeps its hue.
Judgement judgePulsating(const std::vector<LedColor>& samples, LedColor programmed);
// Only flashes of the programmed colour and darkness, both seen.
Judgement judgeStrobing(const std::vector<LedColor>& samples, LedColor programmed);
// Full colours only, around the whole circle.
Judgement judgeRainbow(const std::vector<LedColor>& samples);
// Lit, within `tolerance` degrees of the hue.
Judgement judgeHue(LedColor color, double wantedHue, double tolerance);
// Some clearly lit sample near the hue (seen: the nearest one).
Judgement judgeHueSeen(const std::vector<LedColor>& samples, double wantedHue, double tolerance);

// The CPU temperature colour at whole degrees: green at 20 °C, yellow at 40 °C,
// red at 60 °C, for the five points the tour sweeps (20, 30, 40, 50, 60).
std::optional<LedColor> temperatureColor(int celsius);

} // namespace tour
