#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
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

// "audio analyse|colours|capture ..." (args without the program name).
int runAudio(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace lumivanectl
