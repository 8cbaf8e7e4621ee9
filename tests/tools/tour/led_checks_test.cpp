// The tour's colour checks against what the virtual firmware really renders: each
// check takes its own effect and refuses every other one, so a tour cannot call a
// step right when the board showed the wrong effect.

#include "tools/tour/led_checks.h"
#include "virtualboard/firmware.h"

#include <gtest/gtest.h>

namespace {

using tour::LedColor;
using virtualboard::FirmwareEffect;

constexpr LedColor kBlue{0, 1, 178};

// What the tour samples: every 20 ms over the length it gives the effect.
std::vector<LedColor> rendered(FirmwareEffect effect, int lengthMs) {
    const std::uint32_t word =
        std::uint32_t(effect) | (kBlue.red << 8) | (kBlue.green << 16) | (kBlue.blue << 24);
    std::vector<LedColor> samples;
    for (int t = 7; t < lengthMs; t += 20)
        samples.push_back(virtualboard::renderEffect(word, std::uint64_t(t)));
    return samples;
}

TEST(TourChecks, EachFirmwareEffectPassesOnlyItsOwnCheck) {
    const std::vector<std::pair<FirmwareEffect, int>> effects{{FirmwareEffect::Static, 500},
                                                              {FirmwareEffect::Pulsating, 2200},
                                                              {FirmwareEffect::Strobing, 1500},
                                                              {FirmwareEffect::Rainbow, 6300}};
    for (auto [effect, length] : effects) {
        const std::vector<LedColor> samples = rendered(effect, length);
        const auto name = virtualboard::effectName(std::uint32_t(effect));
        EXPECT_EQ(tour::judgeStatic(samples, kBlue, 240.0).right, effect == FirmwareEffect::Static)
            << name;
        EXPECT_EQ(tour::judgePulsating(samples, kBlue).right, effect == FirmwareEffect::Pulsating)
            << name;
        EXPECT_EQ(tour::judgeStrobing(samples, kBlue).right, effect == FirmwareEffect::Strobing)
            << name;
        EXPECT_EQ(tour::judgeRainbow(samples).right, effect == FirmwareEffect::Rainbow) << name;
    }
}

TEST(TourChecks, WrongColoursAreCaught) {
    // The right effect in another colour than the one programmed, or than the one asked.
    const LedColor red{178, 0, 0};
    EXPECT_FALSE(tour::judgeStatic(std::vector<LedColor>(5, red), kBlue, 240.0).right);
    EXPECT_FALSE(tour::judgeStatic(std::vector<LedColor>(5, red), red, 240.0).right);
    EXPECT_FALSE(tour::judgePulsating(rendered(FirmwareEffect::Pulsating, 2200), red).right);
    EXPECT_FALSE(tour::judgeStrobing(rendered(FirmwareEffect::Strobing, 1500), red).right);
    // Dark LEDs have no hue; a hue wraps round at red.
    EXPECT_FALSE(tour::judgeHue(LedColor{}, 0.0, 180.0).right);
    EXPECT_TRUE(tour::judgeHue(LedColor{255, 0, 16}, 0.0, 10.0).right);
    EXPECT_TRUE(tour::judgeHue(LedColor{0, 255, 255}, 180.0, 1.0).right);
    EXPECT_FALSE(tour::judgeHue(LedColor{0, 255, 255}, 0.0, 40.0).right);
    // Among many samples one clearly lit near the hue is enough; a dim one is not.
    EXPECT_TRUE(tour::judgeHueSeen({{}, red, {0, 200, 190}, {}}, 180.0, 30.0).right);
    EXPECT_FALSE(tour::judgeHueSeen({{}, red, {0, 20, 19}, {}}, 180.0, 30.0).right);
}

} // namespace
