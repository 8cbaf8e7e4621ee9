#pragma once

// Plays a tone into the default sink the way a music player would, at low latency
// (a default-latency player renders seconds ahead into a null sink).

#include "audio_signals.h"

#include <chrono>
#include <gtest/gtest.h>
#include <pulse/error.h>
#include <pulse/simple.h>

// Plays into `device` (the default sink when null) in 10 ms pieces until `length` has
// been played or the server is gone; a test that kills the server uses this one.
inline void playUntilGone(double hertz, std::chrono::milliseconds length,
                          const char* device = nullptr) {
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, 48000, 2};
    pa_buffer_attr attr{std::uint32_t(-1), std::uint32_t(pa_usec_to_bytes(20000, &sampleFormat)),
                        std::uint32_t(-1), std::uint32_t(-1), std::uint32_t(-1)};
    int error = 0;
    pa_simple* player = pa_simple_new(nullptr, "music test", PA_STREAM_PLAYBACK, device, "tone",
                                      &sampleFormat, nullptr, &attr, &error);
    if (!player)
        return;
    const auto piece = audio_signals::packet(
        480, 2, [&](int i, int) { return audio_signals::cosine(i, 48000, hertz, 16000); });
    for (long played = 0; played < length.count(); played += 10)
        if (pa_simple_write(player, piece.data(), piece.size(), &error) != 0)
            break;
    pa_simple_free(player);
}

enum class PlayerLatency { Low, ServerDefault };

// The whole tone in one write. At the server's default latency the player buffers
// seconds ahead, as plain paplay and many music players do.
inline void play(double hertz, std::chrono::milliseconds length,
                 PlayerLatency latency = PlayerLatency::Low) {
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, 48000, 2};
    pa_buffer_attr attr{std::uint32_t(-1), std::uint32_t(pa_usec_to_bytes(20000, &sampleFormat)),
                        std::uint32_t(-1), std::uint32_t(-1), std::uint32_t(-1)};
    int error = 0;
    pa_simple* player =
        pa_simple_new(nullptr, "music test", PA_STREAM_PLAYBACK, nullptr, "tone", &sampleFormat,
                      nullptr, latency == PlayerLatency::Low ? &attr : nullptr, &error);
    ASSERT_NE(player, nullptr) << pa_strerror(error);
    const int frames = int(48 * length.count());
    const auto bytes = audio_signals::packet(
        frames, 2, [&](int i, int) { return audio_signals::cosine(i, 48000, hertz, 16000); });
    EXPECT_EQ(pa_simple_write(player, bytes.data(), bytes.size(), &error), 0) << pa_strerror(error);
    pa_simple_drain(player, &error);
    pa_simple_free(player);
}
