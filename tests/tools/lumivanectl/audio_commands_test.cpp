#include "audio_commands.h"
#include "commands.h"
#include "test_environment.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <numbers>
#include <sstream>

namespace {

// A 16-bit PCM WAV file; sample(i, c) gives channel c of frame i.
template <typename Sample>
void writeWav(const std::filesystem::path& path, std::uint32_t rate, std::uint16_t channels,
              std::uint32_t frames, Sample sample) {
    std::string data;
    for (std::uint32_t i = 0; i < frames; ++i)
        for (std::uint16_t c = 0; c < channels; ++c) {
            const auto v = std::uint16_t(std::int16_t(sample(i, c)));
            data.push_back(char(v & 0xFF));
            data.push_back(char(v >> 8));
        }
    auto u32 = [](std::uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    auto u16 = [](std::uint16_t v) {
        return std::string{char(v), char(v >> 8)};
    };
    std::string fmt = u16(1) + u16(channels) + u32(rate) + u32(rate * channels * 2) +
                      u16(std::uint16_t(channels * 2)) + u16(16);
    std::string riff = "WAVE" + std::string("fmt ") + u32(16) + fmt + "data" +
                       u32(std::uint32_t(data.size())) + data;
    std::ofstream(path, std::ios::binary) << "RIFF" << u32(std::uint32_t(riff.size())) << riff;
}

struct Result {
    int status;
    std::string out, err;
};

Result run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = lumivanectl::run(args, out, err, lumivanectl::processBoardAccess());
    return {status, out.str(), err.str()};
}

std::vector<std::vector<double>> rows(const std::string& text) {
    std::vector<std::vector<double>> result;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::vector<double> row;
        for (double v; fields >> v;)
            row.push_back(v);
        result.push_back(row);
    }
    return result;
}

std::int16_t tone(std::uint32_t i, double hertz, std::uint32_t rate) {
    return std::int16_t(std::lround(20000 * std::cos(2 * std::numbers::pi * hertz * i / rate)));
}

} // namespace

TEST(AudioCommands, AnalysePrintsTheBandsOfEachPacket) {
    testing_support::TemporaryDirectory dir;
    const auto wav = dir.path() / "tone.wav";
    // 105 ms of a 1 kHz tone: ten full packets and a short last one.
    writeWav(wav, 48000, 2, 5040, [](std::uint32_t i, int) { return tone(i, 1000, 48000); });

    const Result r = run({"audio", "analyse", wav.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto packets = rows(r.out);
    ASSERT_EQ(packets.size(), 11u);
    for (std::size_t p = 0; p < packets.size(); ++p) {
        ASSERT_EQ(packets[p].size(), 5u);
        EXPECT_EQ(packets[p][0], double(p));
        EXPECT_EQ(packets[p][1], p < 10 ? 480.0 : 240.0);
        EXPECT_GT(packets[p][3], packets[p][2]); // 1 kHz is the middle band
        EXPECT_GT(packets[p][3], packets[p][4]);
    }

    const Result wide = run({"audio", "analyse", wav.string(), "--frames", "960"});
    ASSERT_EQ(wide.status, 0) << wide.err;
    EXPECT_EQ(rows(wide.out).size(), 6u);
    EXPECT_EQ(rows(wide.out)[0][1], 960.0);
}

TEST(AudioCommands, ColorsFollowLoudnessCycleByCycle) {
    testing_support::TemporaryDirectory dir;
    const auto wav = dir.path() / "burst.wav";
    // 200 ms of loud treble, then 200 ms of silence, mono.
    writeWav(wav, 48000, 1, 19200,
             [](std::uint32_t i, int) { return i < 9600 ? tone(i, 6000, 48000) : 0; });
    const Result r = run({"audio", "colors", wav.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto cycles = rows(r.out);
    ASSERT_EQ(cycles.size(), 40u);
    auto brightest = [&](std::size_t c) {
        return std::max({cycles[c][1], cycles[c][2], cycles[c][3]});
    };
    EXPECT_GT(brightest(19), 200.0);
    EXPECT_EQ(brightest(39), 0.0); // faded out well within the silent half
    EXPECT_GT(cycles[19][3], 0.0); // treble has pulled the hue through blue and magenta
}

TEST(AudioCommands, JsonCarriesWhatTheTextDoesWhereverTheOptionStands) {
    testing_support::TemporaryDirectory dir;
    const auto wav = dir.path() / "tone.wav";
    writeWav(wav, 48000, 2, 4800, [](std::uint32_t i, int) { return tone(i, 440, 48000); });
    const auto text = rows(run({"audio", "colors", wav.string()}).out);
    const Result json = run({"--json", "audio", "colors", wav.string()});
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json cycles = nlohmann::json::parse(json.out).at("cycles");
    ASSERT_EQ(cycles.size(), text.size());
    for (std::size_t c = 0; c < text.size(); ++c)
        EXPECT_EQ(cycles[c].at("red").get<double>(), text[c][1]) << c;

    const Result bands = run({"audio", "analyse", wav.string(), "--json", "--frames", "960"});
    ASSERT_EQ(bands.status, 0) << bands.err;
    const nlohmann::json packets = nlohmann::json::parse(bands.out).at("packets");
    ASSERT_EQ(packets.size(), 5u);
    EXPECT_EQ(packets[0].at("bands").size(), 3u);
    // Live capture has no JSON form: said so, not misread as a word.
    EXPECT_EQ(run({"--json", "audio", "capture", "1"}).status, 2);
}

TEST(AudioCommands, BadFilesAndArgumentsAreRefusedClearly) {
    testing_support::TemporaryDirectory dir;
    const auto junk = dir.path() / "junk.wav";
    std::ofstream(junk) << "not audio at all";
    const auto eightBit = dir.path() / "eight.wav";
    writeWav(eightBit, 8000, 1, 10, [](std::uint32_t, int) { return 0; });
    {
        // Rewrite the bits-per-sample field to 8.
        std::fstream f(eightBit, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(34);
        f.put(8);
    }

    Result r = run({"audio", "analyse", junk.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not a WAV file"), std::string::npos) << r.err;
    r = run({"audio", "colors", eightBit.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("16-bit"), std::string::npos) << r.err;
    r = run({"audio", "analyse", (dir.path() / "missing.wav").string()});
    EXPECT_EQ(r.status, 1);

    EXPECT_EQ(run({"audio", "analyse", junk.string(), "--frames", "0"}).status, 2);
    EXPECT_EQ(run({"audio", "colors", junk.string(), "--frames", "480"}).status, 2);
    EXPECT_EQ(run({"audio", "capture", "soon"}).status, 2);
    EXPECT_EQ(run({"audio"}).status, 2);
}
