#include "audio_signals.h"
#include "service/band_analysis.h"

#include <bit>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>

using service::KISS_FFT;

namespace {

std::vector<float> analyse(const std::vector<std::uint8_t>& bytes, int frames, int channels = 2) {
    return KISS_FFT(3).transform(bytes.data(), frames, std::uint32_t(channels));
}

// For every bin of the lower half, a cosine exactly on that bin must light the band
// that holds the bin, at about N/4, and leave the other two bands near zero.
void expectBandEdges(int frames, int lastBinOfBand1) {
    const int maxBin = frames / 2 - 1;
    for (int k = 1; k <= maxBin; ++k) {
        const int band = k == 1 ? 0 : (k <= lastBinOfBand1 ? 1 : 2);
        const auto values = analyse(audio_signals::tone(frames, 2, k), frames);
        ASSERT_EQ(values.size(), 3u);
        for (int b = 0; b < 3; ++b) {
            if (b == band)
                EXPECT_NEAR(values[std::size_t(b)], frames / 4.0, frames / 400.0)
                    << "N " << frames << " bin " << k;
            else
                EXPECT_LT(values[std::size_t(b)], 1.0f) << "N " << frames << " bin " << k;
        }
    }
}

} // namespace

TEST(SpectrumAnalysis, BandEdgesOfTenAndTwentyMillisecondPackets) {
    expectBandEdges(480, 21); // 100 Hz | 200-2100 Hz | 2200-23900 Hz at 48000 Hz
    expectBandEdges(960, 30);
}

TEST(SpectrumAnalysis, TinyPacketsUseOnlyTheBinsTheyHave) {
    // N = 4: one usable bin, which is band 0; the other ranges are empty.
    const auto four = analyse(audio_signals::tone(4, 2, 1), 4);
    ASSERT_EQ(four.size(), 3u);
    EXPECT_NEAR(four[0], 1.0, 0.01);
    EXPECT_EQ(four[1], 0.0f);
    EXPECT_EQ(four[2], 0.0f);

    for (int frames = 1; frames <= 3; ++frames) {
        const auto loud = audio_signals::packet(
            frames, 2, [](int i, int) { return std::int16_t(i % 2 ? -32768 : 32767); });
        EXPECT_EQ(analyse(loud, frames), (std::vector<float>{0, 0, 0})) << frames << " frames";
    }
}

TEST(SpectrumAnalysis, SilenceAndCancellingChannelsGiveZero) {
    const auto silence = audio_signals::packet(480, 2, [](int, int) { return std::int16_t(0); });
    EXPECT_EQ(analyse(silence, 480), (std::vector<float>{0, 0, 0}));

    // Left and right in opposite phase: the mix-down is exactly silence.
    const auto opposed = audio_signals::packet(480, 2, [](int i, int c) {
        const std::int16_t s = audio_signals::cosine(i, 480, 7);
        return std::int16_t(c == 0 ? s : -s);
    });
    EXPECT_EQ(analyse(opposed, 480), (std::vector<float>{0, 0, 0}));
}

TEST(SpectrumAnalysis, MixesTheFirstTwoChannelsOfAnyLayout) {
    // Left and right differ, so a layout that mixed the wrong samples shows.
    auto music = [](int i, int c) {
        return c == 0 ? audio_signals::cosine(i, 480, 1, 20000)
                      : audio_signals::cosine(i, 480, 40, 9000);
    };
    const auto stereo = analyse(audio_signals::packet(480, 2, music), 480);
    ASSERT_EQ(stereo.size(), 3u);
    EXPECT_GT(stereo[0], 10.0f);
    EXPECT_GT(stereo[2], 10.0f);

    // Six channels: the rest carry loud noise that must not reach the bands.
    std::srand(7);
    const auto surround = audio_signals::packet(480, 6, [&](int i, int c) {
        return c < 2 ? music(i, c) : std::int16_t(std::rand() % 65536 - 32768);
    });
    EXPECT_EQ(analyse(surround, 480, 6), stereo);

    // Mono counts its one channel as both: the same bands as that channel in stereo.
    auto left = [&](int i, int) {
        return music(i, 0);
    };
    EXPECT_EQ(analyse(audio_signals::packet(480, 1, left), 480, 1),
              analyse(audio_signals::packet(480, 2, left), 480));
}

TEST(SpectrumAnalysis, ReportsAtMostThreeBands) {
    const auto bytes = audio_signals::tone(480, 2, 3);
    EXPECT_EQ(KISS_FFT(5).transform(bytes.data(), 480, 2).size(), 3u);
    EXPECT_EQ(KISS_FFT(2).transform(bytes.data(), 480, 2).size(), 2u);
    EXPECT_TRUE(KISS_FFT(0).transform(bytes.data(), 480, 2).empty());
}

// The analyser keeps plans and buffers across packets; whatever length came before,
// its bands must be the per-packet computation's to the bit. Every length up to
// 1100 frames, each followed by a return to 480 (kept) and to half the length (long evicted), in
// stereo and mono, with noisy music so every bin differs.
TEST(BandAnalysis, KeptPlansGiveTheBandsOfAFreshOneForEveryLength) {
    std::mt19937 random(3);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    service::BandAnalyzer analyzer;
    auto check = [&](int frames, int channels) {
        const auto bytes = audio_signals::packet(frames, channels, [&](int i, int) {
            return std::int16_t(audio_signals::cosine(i, frames, 3.3, 12000) + sample(random) / 4);
        });
        const auto expected = analyse(bytes, frames, channels);
        const auto got = analyzer.bands(bytes.data(), frames, std::uint32_t(channels));
        for (std::size_t b = 0; b < 3; ++b)
            ASSERT_EQ(std::bit_cast<std::uint32_t>(got[b]),
                      std::bit_cast<std::uint32_t>(expected[b]))
                << frames << " frames, " << channels << " channels, band " << b;
    };
    for (int channels : {2, 1})
        for (int frames = 1; frames <= 1100; ++frames) {
            check(frames, channels);
            check(480, channels);
            check(frames / 2 + 1, channels);
        }
}
