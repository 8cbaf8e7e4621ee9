#include "audio/loopback_capture.h"
#include "audio/mix_format_win.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct PrintedLines {
    std::vector<std::string> lines;
    service::CapturePrintSink previous =
        service::setCapturePrintSink([this](const std::string& line) { lines.push_back(line); });
    ~PrintedLines() { service::setCapturePrintSink(previous); }
};

constexpr GUID kFloat = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID kPcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

WAVEFORMATEXTENSIBLE extensible(const GUID& subFormat, WORD channels, DWORD rate) {
    WAVEFORMATEXTENSIBLE f{};
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.nChannels = channels;
    f.Format.nSamplesPerSec = rate;
    f.Format.wBitsPerSample = 32;
    f.Format.nBlockAlign = WORD(channels * 4);
    f.Format.nAvgBytesPerSec = rate * channels * 4;
    f.Format.cbSize = 22;
    f.Samples.wValidBitsPerSample = 32;
    f.dwChannelMask = 0x3F;
    f.SubFormat = subFormat;
    return f;
}

} // namespace

TEST(MixFormat, FloatFormatsBecomeSixteenBitPcmWithTheDevicesLayout) {
    PrintedLines printed;
    auto f = extensible(kFloat, 2, 48000);
    ASSERT_EQ(service::coerceMixFormatToInt16(&f.Format), S_OK);
    EXPECT_TRUE(IsEqualGUID(f.SubFormat, kPcm));
    EXPECT_EQ(f.Format.wFormatTag, WAVE_FORMAT_EXTENSIBLE);
    EXPECT_EQ(f.Format.wBitsPerSample, 16);
    EXPECT_EQ(f.Samples.wValidBitsPerSample, 16);
    EXPECT_EQ(f.Format.nBlockAlign, 4);
    EXPECT_EQ(f.Format.nAvgBytesPerSec, 192000u);
    EXPECT_EQ(f.Format.nChannels, 2);
    EXPECT_EQ(f.Format.nSamplesPerSec, 48000u);
    EXPECT_EQ(f.dwChannelMask, 0x3Fu);

    auto six = extensible(kFloat, 6, 44100);
    ASSERT_EQ(service::coerceMixFormatToInt16(&six.Format), S_OK);
    EXPECT_EQ(six.Format.nBlockAlign, 12);
    EXPECT_EQ(six.Format.nAvgBytesPerSec, 12u * 44100);

    WAVEFORMATEX plain{WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 384000, 8, 32, 0};
    ASSERT_EQ(service::coerceMixFormatToInt16(&plain), S_OK);
    EXPECT_EQ(plain.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(plain.nBlockAlign, 4);
    EXPECT_TRUE(printed.lines.empty());
}

TEST(MixFormat, FormatsThatAreNotFloatAreRefusedAndLeftAlone) {
    PrintedLines printed;
    WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    EXPECT_EQ(service::coerceMixFormatToInt16(&pcm), E_UNEXPECTED);
    EXPECT_EQ(pcm.wFormatTag, WAVE_FORMAT_PCM);
    auto ext = extensible(kPcm, 2, 48000);
    EXPECT_EQ(service::coerceMixFormatToInt16(&ext.Format), E_UNEXPECTED);
    EXPECT_EQ(ext.Format.wBitsPerSample, 32);
    EXPECT_EQ(printed.lines,
              (std::vector<std::string>{
                  "Don't know how to coerce WAVEFORMATEX with wFormatTag = 0x00000001 to int-16\n",
                  "Don't know how to coerce mix format to int-16\n"}));
}

TEST(MixFormat, TheTimerPollsAtHalfTheDevicePeriodInWholeMilliseconds) {
    EXPECT_EQ(service::captureTimerPeriodMs(100000), 5);
    EXPECT_EQ(service::captureTimerPeriodMs(101587), 5);
    EXPECT_EQ(service::captureTimerPeriodMs(30000), 1);
}
