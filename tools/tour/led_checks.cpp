#include "tools/tour/led_checks.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tour {
namespace {

int brightest(LedColor c) {
    return std::max({c.red, c.green, c.blue});
}

int darkest(LedColor c) {
    return std::min({c.red, c.green, c.blue});
}

// Channel by channel within `slack`: the firmware rounds its scaled colours.
bool near(LedColor a, LedColor b, int slack) {
    return std::abs(a.red - b.red) <= slack && std::abs(a.green - b.green) <= slack &&
           std::abs(a.blue - b.blue) <= slack;
}

std::string count(std::size_t n, const char* what) {
    return std::to_string(n) + " " + what;
}

} // namespace

std::string hexColor(LedColor c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.red, c.green, c.blue);
    return text;
}

std::optional<double> hueOf(LedColor c) {
    const int max = brightest(c), min = darkest(c);
    if (max == min)
        return std::nullopt;
    const double span = max - min;
    double hue;
    if (max == c.red)
        hue = std::fmod((c.green - c.blue) / span, 6.0);
    else if (max == c.green)
        hue = (c.blue - c.red) / span + 2.0;
    else
        hue = (c.red - c.green) / span + 4.0;
    hue *= 60.0;
    return hue < 0 ? hue + 360.0 : hue;
}

double hueDistance(double a, double b) {
    const double d = std::fmod(std::abs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

bool isDark(LedColor c) {
    return brightest(c) <= 2;
}

Judgement judgeHue(LedColor color, double wantedHue, double tolerance) {
    const std::optional<double> hue = hueOf(color);
    const bool right = !isDark(color) && hue && hueDistance(*hue, wantedHue) <= tolerance;
    return {right, hexColor(color)};
}

Judgement judgeHueSeen(const std::vector<LedColor>& samples, double wantedHue, double tolerance) {
    // The sample nearest the hue among the clearly lit ones: a dim one's hue is rounding.
    std::optional<LedColor> best;
    double bestDistance = 360.0;
    for (LedColor c : samples) {
        const std::optional<double> hue = hueOf(c);
        if (brightest(c) < 64 || !hue)
            continue;
        if (const double d = hueDistance(*hue, wantedHue); d < bestDistance) {
            best = c;
            bestDistance = d;
        }
    }
    if (!best)
        return {false, "nothing lit"};
    return {bestDistance <= tolerance, hexColor(*best)};
}

Judgement judgeStatic(const std::vector<LedColor>& samples, LedColor programmed, double wantedHue) {
    const auto same = std::count(samples.begin(), samples.end(), programmed);
    const Judgement hue = judgeHue(programmed, wantedHue, 8.0);
    return {!samples.empty() && same == std::ssize(samples) && hue.right,
            hue.seen + " at " + std::to_string(same) + " of " + count(samples.size(), "samples")};
}

Judgement judgePulsating(const std::vector<LedColor>& samples, LedColor programmed) {
    if (samples.empty())
        return {false, "no samples"};
    auto byLight = [](LedColor a, LedColor b) {
        return brightest(a) < brightest(b);
    };
    const LedColor low = *std::min_element(samples.begin(), samples.end(), byLight);
    const LedColor high = *std::max_element(samples.begin(), samples.end(), byLight);
    const std::optional<double> hue = hueOf(programmed);
    // Dim samples are rounded too coarsely to keep the hue; the bright ones must.
    const bool keepsHue = std::all_of(samples.begin(), samples.end(), [&](LedColor c) {
        if (brightest(c) * 5 < brightest(programmed) * 2)
            return true;
        const std::optional<double> h = hueOf(c);
        return hue ? h && hueDistance(*h, *hue) <= 10.0 : !h;
    });
    // A swell passes through the levels between; a flash jumps over them.
    const auto between = std::count_if(samples.begin(), samples.end(), [&](LedColor c) {
        return brightest(c) * 5 >= brightest(programmed) &&
               brightest(c) * 5 <= brightest(programmed) * 4;
    });
    const bool swells = between * 4 >= std::ssize(samples);
    const bool right = near(high, programmed, 3) && brightest(low) * 10 <= brightest(programmed) &&
                       keepsHue && swells;
    return {right, "from " + hexColor(low) + " to " + hexColor(high) +
                       (keepsHue ? ", one hue" : ", the hue drifts") +
                       (swells ? ", a swell" : ", no swell between")};
}

Judgement judgeStrobing(const std::vector<LedColor>& samples, LedColor programmed) {
    std::size_t flashes = 0, dark = 0;
    for (LedColor c : samples) {
        if (near(c, programmed, 1))
            ++flashes;
        else if (isDark(c))
            ++dark;
    }
    const std::size_t other = samples.size() - flashes - dark;
    return {flashes > 0 && dark > 0 && other == 0 && !isDark(programmed),
            hexColor(programmed) + " " + count(flashes, "times") + ", dark " +
                count(dark, "times") + (other ? ", " + count(other, "other colours") : "")};
}

Judgement judgeRainbow(const std::vector<LedColor>& samples) {
    std::array<bool, 6> sectors{};
    std::size_t pale = 0;
    for (LedColor c : samples) {
        const std::optional<double> hue = hueOf(c);
        if (brightest(c) != 255 || darkest(c) != 0 || !hue) {
            ++pale;
            continue;
        }
        sectors[std::size_t(*hue / 60.0) % 6] = true;
    }
    const auto seen = std::count(sectors.begin(), sectors.end(), true);
    return {!samples.empty() && pale == 0 && seen == 6,
            std::to_string(seen) + " of 6 hue sectors at full colour" +
                (pale ? ", " + count(pale, "pale samples") : "")};
}

std::optional<LedColor> temperatureColor(int celsius) {
    switch (celsius) {
    case 20:
        return LedColor{1, 255, 0};
    case 30:
        return LedColor{128, 255, 0};
    case 40:
        return LedColor{255, 255, 0};
    case 50:
        return LedColor{255, 127, 0};
    case 60:
        return LedColor{255, 0, 0};
    }
    return std::nullopt;
}

} // namespace tour
