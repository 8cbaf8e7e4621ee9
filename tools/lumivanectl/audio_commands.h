#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace lumivanectl {

// 16-bit PCM audio as the capture would deliver it.
struct PcmAudio {
    std::uint32_t sampleRate = 0;
    std::uint32_t channels = 0;
    std::vector<std::uint8_t> frames; // interleaved little-endian samples
    std::uint32_t frameCount() const { return std::uint32_t(frames.size() / (channels * 2)); }
};

// Reads a WAV file of 16-bit integer samples (plain or extensible format). Throws
// std::runtime_error with a message naming what is wrong.
PcmAudio readWav(const std::filesystem::path& file);

struct Invocation;

// A whole number above 0 (SECONDS, --frames N); a usage error naming `what` otherwise.
std::uint32_t parseCount(const std::string& text, const char* what);

// audio analyse|colors|capture FILE.wav|SECONDS: the music effect's analysis and colours
// of a file, or of what the machine plays.
int audioAnalyse(const Invocation& call);
int audioColors(const Invocation& call);
int audioCapture(const Invocation& call);

} // namespace lumivanectl
