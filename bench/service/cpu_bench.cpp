// CPU time of the running music effect (capture, analysis under the global lock,
// colour thread writing the virtual board's registers) while 10 s of music play,
// as a share of one core. The music comes from paplay in a child process, so its
// own CPU time is not counted.
//
//   tests/service/with-pulseaudio build/linux/bin/music_cpu_bench [seconds]

#include "audio_signals.h"
#include "board/ec_led_port.h"
#include "live_board.h"
#include "service/music_effect.h"

#include <cmath>
#include <fstream>
#include <random>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void writeMusic(const std::filesystem::path& path, int seconds) {
    std::mt19937 random(1);
    std::uniform_int_distribution<int> hiss(-800, 800);
    const int frames = 48000 * seconds;
    // Beats of bass, a changing chord, hi-hats: every band moves.
    const auto data = audio_signals::packet(frames, 2, [&](int i, int c) {
        const double t = i / 48000.0;
        const double beat = std::fmod(t, 0.5) < 0.12 ? 1.0 : 0.2;
        const double chord = 220.0 * (1 + int(t) % 3 * 0.25);
        const double v = 12000 * beat * std::sin(2 * M_PI * 60 * t) +
                         5000 * std::sin(2 * M_PI * chord * t + c) +
                         (std::fmod(t, 0.25) < 0.03 ? 4000.0 : 300.0) * hiss(random) / 800.0;
        return std::int16_t(std::clamp(v, -32768.0, 32767.0));
    });
    auto u32 = [](std::uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    auto u16 = [](std::uint16_t v) {
        return std::string{char(v), char(v >> 8)};
    };
    std::ofstream out(path, std::ios::binary);
    out << "RIFF" << u32(std::uint32_t(36 + data.size())) << "WAVEfmt " << u32(16) << u16(1)
        << u16(2) << u32(48000) << u32(192000) << u16(4) << u16(16) << "data"
        << u32(std::uint32_t(data.size()));
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    LiveBoard live;
    const auto music = live.dir.path() / "music.wav";
    writeMusic(music, seconds);
    service::setCapturePrintSink([](const std::string&) {});

    board::EcLedPort port; // loads the I/O binding the global lock uses, as the service does
    service::MusicEffect effect;
    effect.start();
    if (!effect.capture().waitStreaming(5000)) {
        std::fprintf(stderr, "the capture did not start\n");
        return 1;
    }
    const std::string file = music.string();
    char* args[] = {const_cast<char*>("paplay"), const_cast<char*>("--latency-msec=20"),
                    const_cast<char*>(file.c_str()), nullptr};
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = cpuSeconds();
    const auto writesStart = live.board->readout().counters().ecTransactions;
    pid_t child = 0;
    if (posix_spawnp(&child, "paplay", nullptr, nullptr, args, environ) != 0) {
        std::fprintf(stderr, "cannot run paplay\n");
        return 1;
    }
    int status = 0;
    waitpid(child, &status, 0);
    const double cpu = cpuSeconds() - cpuStart;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const auto writes = live.board->readout().counters().ecTransactions - writesStart;
    const auto frames = effect.capture().frameCount();
    effect.stop();

    std::printf("music played      %.2f s\n", wall);
    std::printf("effect CPU time   %.3f s\n", cpu);
    std::printf("share of one core %.2f %%\n", 100.0 * cpu / wall);
    std::printf("colours written   %.0f per second\n", double(writes) / 6.0 / wall);
    std::printf("frames captured   %u\n", frames);
    return 0;
}
