#include "board/color.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

using Rgb = std::array<int, 3>;

Rgb convert(float hue, float saturation, float lightness) {
    std::uint8_t red = 0xAA, green = 0xAA, blue = 0xAA;
    board::hslToRgb(hue, saturation, lightness, red, green, blue);
    return {red, green, blue};
}

// The temperature effect's hue for a whole number of degrees.
float temperatureHue(int celsius) {
    return float(0.333 - (celsius - 20) * 0.333 / 40);
}

} // namespace

TEST(HslToRgb, NamedHuesAndTheEdgeOfOneThird) {
    EXPECT_EQ(convert(0.0f, 1.0f, 0.5f), (Rgb{255, 0, 0}));
    EXPECT_EQ(convert(0.5f, 1.0f, 0.5f), (Rgb{0, 255, 255}));
    EXPECT_EQ(convert(1.0f, 1.0f, 0.5f), (Rgb{255, 0, 0}));
    EXPECT_EQ(convert(0.75f, 1.0f, 0.5f), (Rgb{128, 0, 255}));
    EXPECT_EQ(convert(0.25f, 1.0f, 0.25f), (Rgb{64, 128, 0}));
    EXPECT_EQ(convert(1.0f / 6, 1.0f, 0.5f), (Rgb{255, 255, 0}));
    EXPECT_EQ(convert(2.0f / 3, 1.0f, 0.5f), (Rgb{0, 0, 255}));
    // Just below one third the red channel keeps a trace of light.
    EXPECT_EQ(convert(0.333f, 1.0f, 0.5f), (Rgb{1, 255, 0}));
    // The falling edge is computed in double precision: single precision gives 230.
    EXPECT_EQ(convert(0.2f, 1.0f, 0.75f)[0], 229);
}

TEST(HslToRgb, TemperatureScaleBytes) {
    struct Row {
        int celsius;
        Rgb rgb;
    };
    const Row rows[] = {{20, {1, 255, 0}},   {25, {64, 255, 0}},  {30, {128, 255, 0}},
                        {40, {255, 255, 0}}, {50, {255, 127, 0}}, {59, {255, 13, 0}},
                        {60, {255, 0, 0}}};
    for (const Row& row : rows)
        EXPECT_EQ(convert(temperatureHue(row.celsius), 1.0f, 0.5f), row.rgb)
            << row.celsius << " degrees";
}

TEST(HslToRgb, NoSaturationIsGreyAtEveryHue) {
    for (float hue : {0.0f, 0.2f, 0.333f, 0.5f, 0.9f, 1.0f}) {
        EXPECT_EQ(convert(hue, 0.0f, 0.5f), (Rgb{128, 128, 128})) << hue;
        EXPECT_EQ(convert(hue, 0.0f, 0.0f), (Rgb{0, 0, 0})) << hue;
        EXPECT_EQ(convert(hue, 0.0f, 1.0f), (Rgb{255, 255, 255})) << hue;
    }
    // Full lightness washes any saturated hue out to white, none to black.
    EXPECT_EQ(convert(0.4f, 1.0f, 1.0f), (Rgb{255, 255, 255}));
    EXPECT_EQ(convert(0.4f, 1.0f, 0.0f), (Rgb{0, 0, 0}));
}

TEST(HslToRgb, OutOfRangeInputsStayInsideTheByteRange) {
    // Wrapping modulo 256 would turn an over-bright component dark.
    EXPECT_EQ(convert(0.0f, 1.0f, 2.0f), (Rgb{255, 255, 255}));
    EXPECT_EQ(convert(0.0f, 0.0f, -1.0f), (Rgb{0, 0, 0}));
    EXPECT_EQ(convert(0.0f, 0.0f, std::numeric_limits<float>::quiet_NaN()), (Rgb{0, 0, 0}));
    EXPECT_EQ(convert(0.0f, 0.0f, std::numeric_limits<float>::infinity()), (Rgb{255, 255, 255}));
    // Hues beyond one turn are folded back once per component, not rejected.
    EXPECT_EQ(convert(1.5f, 1.0f, 0.5f), convert(0.5f, 1.0f, 0.5f));
}
