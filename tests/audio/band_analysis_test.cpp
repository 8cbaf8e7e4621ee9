#include "audio/band_analysis.h"
#include "audio_signals.h"

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

namespace {

// Music-like stereo made of integers only (a triangle bass, a square, noise from a
// fixed generator), so that every build, Windows included, analyses the same samples.
std::vector<std::uint8_t> integerMusic(int frames) {
    std::uint32_t state = 12345;
    return audio_signals::packet(frames, 2, [&](int i, int c) {
        state = state * 1664525u + 1013904223u;
        const int noise = int(state >> 20) - 2048;
        const int triangle = std::abs(i % 200 - 100) * 120 - 6000;
        const int square = (i / 7) % 2 ? 3000 : -3000;
        return std::int16_t(triangle + (c ? square : -square) + noise);
    });
}

} // namespace

// The lengths the capture delivers at 44100, 48000 and 96000 Hz keep the bands they
// had before awkward lengths were bounded, to the bit: the colours follow from them.
TEST(BandAnalysis, TheBandsOfTenAndTwentyMillisecondPacketsAreUnchanged) {
    struct Pinned {
        int frames;
        std::uint32_t low, mid, high;
    };
    // Each build's own: the kissfft of the Windows builds (built from source) and
    // Debian's differ in the last bit of a few bins.
    const std::vector<Pinned> pins = {
#ifdef _WIN32
        {441, 0x40401805, 0x417776ac, 0x3f3ac7d0},
        {480, 0x4034c256, 0x414785fd, 0x3f7d6605},
        {960, 0x3ffe47b5, 0x4207e2b9, 0x3f870131},
#else
        {441, 0x40401805, 0x417776ac, 0x3f3ac7d0},
        {480, 0x4034c256, 0x414785fd, 0x3f7d6604},
        {960, 0x3ffe47b6, 0x4207e2b9, 0x3f870131},
#endif
    };
    for (const Pinned& pinned : pins) {
        const auto bytes = integerMusic(pinned.frames);
        service::BandAnalyzer analyzer;
        const auto kept = analyzer.bands(bytes.data(), pinned.frames, 2);
        const auto fresh = analyse(bytes, pinned.frames);
        const std::uint32_t expected[3] = {pinned.low, pinned.mid, pinned.high};
        for (std::size_t b = 0; b < 3; ++b) {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(kept[b]), expected[b])
                << pinned.frames << " band " << b;
            EXPECT_EQ(std::bit_cast<std::uint32_t>(fresh[b]), expected[b])
                << pinned.frames << " band " << b;
        }
    }
}

// A length kissfft handles badly (a prime, or a factor above 13) is analysed over its
// last frames of a well-factored length, so that no packet costs much more than a
// well-factored one of about its length (3833 frames cost 2600 times 3840 before; the
// figures: music_analysis_bench --benchmark_filter=PrimeBeside).
TEST(BandAnalysis, AwkwardLengthsAreAnalysedOverAWellFactoredLength) {
    for (int frames : {441, 480, 882, 960, 3840})
        EXPECT_EQ(service::analysedFrames(frames), frames);
    EXPECT_EQ(service::analysedFrames(3833), 3750); // prime: 2 x 3 x 5^4
    EXPECT_EQ(service::analysedFrames(3757), 3750); // 13 x 17 x 17
    EXPECT_EQ(service::analysedFrames(131063), 129600);
    for (int frames = 1; frames <= 4000; ++frames) {
        const int analysed = service::analysedFrames(frames);
        ASSERT_LE(analysed, frames);
        ASSERT_GE(analysed, frames - frames / 10 - 1) << frames; // little of the packet is lost
    }

    const auto prime = integerMusic(3833);
    const std::vector<std::uint8_t> tail(prime.end() - 3750 * 4, prime.end());
    service::BandAnalyzer analyzer;
    EXPECT_EQ(analyzer.bands(prime.data(), 3833, 2), analyzer.bands(tail.data(), 3750, 2));
    EXPECT_EQ(analyse(prime, 3833), analyse(tail, 3750));
}
