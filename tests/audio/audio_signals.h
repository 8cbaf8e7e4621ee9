#pragma once

// Packets of 16-bit little-endian frames for the music tests and benchmarks.

#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <vector>

namespace audio_signals {

// frames × channels samples, channel c of frame i = sample(i, c).
inline std::vector<std::uint8_t> packet(int frames, int channels,
                                        const std::function<std::int16_t(int, int)>& sample) {
    std::vector<std::uint8_t> bytes(std::size_t(frames) * std::size_t(channels) * 2);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const auto value = std::uint16_t(sample(i, c));
            const std::size_t at = (std::size_t(i) * std::size_t(channels) + std::size_t(c)) * 2;
            bytes[at] = std::uint8_t(value & 0xFF);
            bytes[at + 1] = std::uint8_t(value >> 8);
        }
    return bytes;
}

// A full-scale cosine completing `cycles` periods over `frames` frames.
inline std::int16_t cosine(int i, int frames, double cycles, double amplitude = 32767.0) {
    return std::int16_t(
        std::lround(amplitude * std::cos(2 * std::numbers::pi * cycles * i / frames)));
}

// The same cosine in every channel.
inline std::vector<std::uint8_t> tone(int frames, int channels, double cycles) {
    return packet(frames, channels, [&](int i, int) { return cosine(i, frames, cycles); });
}

} // namespace audio_signals
