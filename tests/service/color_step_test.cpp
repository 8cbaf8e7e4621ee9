#include "service/color_step.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using service::BandValues;
using service::ColorState;
using service::DominantBand;
using service::nextColor;
using service::Rgb;

namespace {

int brightest(const Rgb& c) {
    return std::max({c.red, c.green, c.blue});
}

} // namespace

TEST(ColorStep, SilenceAfterFullLoudnessFadesOutInNineCycles) {
    ColorState state;
    Rgb color;
    for (int i = 0; i < 80; ++i)
        color = nextColor(state, {20.0f, 0.0f, 0.0f});
    EXPECT_EQ(brightest(color), 255);

    std::vector<int> fade;
    for (int i = 0; i < 10; ++i)
        fade.push_back(brightest(nextColor(state, {})));
    EXPECT_TRUE(std::is_sorted(fade.rbegin(), fade.rend())) << "brightness only falls";
    EXPECT_EQ(fade[7], 1);       // eighth silent cycle
    EXPECT_EQ(fade[8], 0);       // ninth
    EXPECT_LT(state.hue, 0.001); // all bands equal count as low: the hue heads for 0
}

TEST(ColorStep, LoudTrebleBrightensAndDriftsTowardsRedThroughMagenta) {
    ColorState state;
    const double hues[] = {0.2, 0.36, 0.488};
    const double lights[] = {0.5, 0.75, 0.875};
    for (int i = 0; i < 3; ++i) {
        const Rgb color = nextColor(state, {0.0f, 0.0f, 16.0f}); // energy 256/250, clipped
        EXPECT_NEAR(state.hue, hues[i], 1e-12);
        EXPECT_NEAR(state.light, lights[i], 1e-12);
        if (i == 0) {
            // Hue 0.2 (yellow-green side) at lightness 0.25: green leads, blue is off.
            EXPECT_EQ(brightest(color), 128);
            EXPECT_EQ(color.green, 128);
            EXPECT_EQ(color.blue, 0);
        }
    }
    // Louder than full changes nothing: the energy is clipped.
    ColorState louder;
    ColorState loud;
    EXPECT_EQ(nextColor(louder, {0.0f, 0.0f, 1e6f}), nextColor(loud, {0.0f, 0.0f, 16.0f}));
}

TEST(ColorStep, TiesFavourTheMiddleOverTrebleAndBassOverBoth) {
    EXPECT_EQ(service::dominantBand(1.0f, 5.0f, 5.0f), DominantBand::Mid); // high = mid > low
    EXPECT_EQ(service::dominantBand(5.0f, 1.0f, 5.0f), DominantBand::Low); // high > mid, = low
    EXPECT_EQ(service::dominantBand(5.0f, 5.0f, 5.0f), DominantBand::Low); // mid = low >= high
    EXPECT_EQ(service::dominantBand(5.0f, 5.0f, 1.0f), DominantBand::Low);
    EXPECT_EQ(service::dominantBand(1.0f, 2.0f, 3.0f), DominantBand::High);

    // The middle pulls slowly, towards cyan.
    ColorState state;
    nextColor(state, {1.0f, 5.0f, 5.0f});
    EXPECT_NEAR(state.hue, 0.025, 1e-12);
}

TEST(ColorStep, BandsThatAreNotANumberOrNegativeCountAsSilence) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    ColorState state;
    EXPECT_EQ(nextColor(state, {nan, -3.0f, nan}), Rgb{});
    EXPECT_EQ(state.light, 0.0);
    EXPECT_EQ(state.hue, 0.0);
    // An infinite band is simply full loudness.
    ColorState full;
    nextColor(full, {std::numeric_limits<float>::infinity(), 0.0f, 0.0f});
    EXPECT_NEAR(full.light, 0.5, 1e-12);
}
