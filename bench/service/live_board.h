#pragma once

// A virtual board for the live benchmarks, set up as the service would find it,
// and a player into the default sink.

#include "test_environment.h"
#include "virtualboard/board.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <unistd.h>

struct LiveBoard {
    testing_support::TemporaryDirectory dir;
    std::unique_ptr<virtualboard::Board> board =
        virtualboard::Board::create(dir.path() / "board.img", {}, dir.path() / "firmware");
    testing_support::ScopedEnvironment image{"VBOARD_IMAGE", (dir.path() / "board.img").string()};
    testing_support::ScopedEnvironment firmware{"LUMIVANE_FIRMWARE_DIR",
                                                (dir.path() / "firmware").string()};
    testing_support::ScopedEnvironment library{
        "LUMIVANE_HWIO_DIR",
        std::filesystem::read_symlink("/proc/self/exe").parent_path().string()};
};

// A player into the default sink: at 20 ms, as games and browsers ask, or at the
// server's default latency (seconds ahead), as plain paplay and many music players.
class Player {
public:
    enum class Latency { Low, ServerDefault };

    explicit Player(Latency latency = Latency::Low) {
        const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, 48000, 2};
        pa_buffer_attr attr{std::uint32_t(-1),
                            std::uint32_t(pa_usec_to_bytes(20000, &sampleFormat)),
                            std::uint32_t(-1), std::uint32_t(-1), std::uint32_t(-1)};
        int error = 0;
        stream_ =
            pa_simple_new(nullptr, "bench", PA_STREAM_PLAYBACK, nullptr, "music", &sampleFormat,
                          nullptr, latency == Latency::Low ? &attr : nullptr, &error);
        if (!stream_) {
            std::fprintf(stderr, "no audio server (run inside with-pulseaudio): %s\n",
                         pa_strerror(error));
            std::exit(1);
        }
    }
    ~Player() { pa_simple_free(stream_); }
    // Blocks while the server's buffer is full, so writes pace themselves.
    void write(const std::vector<std::uint8_t>& bytes) {
        int error = 0;
        pa_simple_write(stream_, bytes.data(), bytes.size(), &error);
    }
    // How long until what is written now is heard.
    std::chrono::microseconds latency() {
        int error = 0;
        return std::chrono::microseconds(pa_simple_get_latency(stream_, &error));
    }

private:
    pa_simple* stream_ = nullptr;
};
