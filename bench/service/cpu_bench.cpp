// CPU time of the running music effect (capture, analysis under the global lock,
// colour thread writing the virtual board's registers) while music plays, as a share
// of one core, at 48000 Hz and at 44100 Hz (a second null sink made the default). In
// the same process and on the same music, the capture alone with a callback that
// does nothing gives the floor of this design; the effect's
// figure is printed beside it and as a ratio to it. The music comes from paplay in a
// child process, so its own CPU time is not counted.
//
//   tests/audio/with-pulseaudio build/linux/bin/music_cpu_bench [seconds]

#include "audio_signals.h"
#include "board/ec_led_port.h"
#include "live_board.h"
#include "service/music_effect.h"

#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <random>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

struct Usage {
    double cpu = 0;
    long wakeups = 0;
};

Usage usage() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return {double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
                double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6,
            r.ru_nvcsw};
}

void writeMusic(const std::filesystem::path& path, int rate, int seconds) {
    std::mt19937 random(1);
    std::uniform_int_distribution<int> hiss(-800, 800);
    const int frames = rate * seconds;
    // Beats of bass, a changing chord, hi-hats: every band moves.
    const auto data = audio_signals::packet(frames, 2, [&](int i, int c) {
        const double t = double(i) / rate;
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
        << u16(2) << u32(std::uint32_t(rate)) << u32(std::uint32_t(rate * 4)) << u16(4) << u16(16)
        << "data" << u32(std::uint32_t(data.size()));
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

bool run(std::vector<std::string> words) {
    std::vector<char*> args;
    for (auto& word : words)
        args.push_back(word.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t quiet; // pactl prints the new module's number
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int error = posix_spawnp(&child, args[0], &quiet, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (error != 0)
        return false;
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Figures {
    double wall = 0, cpu = 0, wakeups = 0;
};

// Plays the music to its end; what the process spent meanwhile.
Figures whilePlaying(const std::filesystem::path& music) {
    const auto wallStart = std::chrono::steady_clock::now();
    const Usage start = usage();
    if (!run({"paplay", "--latency-msec=20", music.string()})) {
        std::fprintf(stderr, "cannot run paplay\n");
        std::exit(1);
    }
    const Usage end = usage();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    return {wall, end.cpu - start.cpu, double(end.wakeups - start.wakeups) / wall};
}

// The floor: the same capture stream, 10 ms packets handed to a callback that does
// nothing, without analysis, lock or colour thread.
Figures minimalLoop(const std::filesystem::path& music) {
    service::LoopbackCapture capture;
    capture.setCallback([](const std::uint8_t*, std::uint32_t, std::uint32_t, std::uint32_t) {});
    capture.start();
    if (!capture.waitStreaming(5000)) {
        std::fprintf(stderr, "the capture did not start\n");
        std::exit(1);
    }
    const Figures figures = whilePlaying(music);
    capture.stop();
    return figures;
}

Figures effectRun(const std::filesystem::path& music, std::uint32_t& frames) {
    service::MusicEffect effect;
    effect.start();
    if (!effect.capture().waitStreaming(5000)) {
        std::fprintf(stderr, "the capture did not start\n");
        std::exit(1);
    }
    const Figures figures = whilePlaying(music);
    frames = effect.capture().frameCount();
    effect.stop();
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    LiveBoard live;
    service::setCapturePrintSink([](const std::string&) {});
    board::EcLedPort port; // loads the I/O binding the global lock uses, as the service does

    std::printf("rate   what        played s  CPU s   %% of a core  wake-ups/s  colours/s\n");
    for (std::uint32_t rate : {48000u, 44100u}) {
        if (rate != 48000) {
            const std::string name = "lumivane" + std::to_string(rate);
            if (!run({"pactl", "load-module", "module-null-sink", "sink_name=" + name,
                      "rate=" + std::to_string(rate), "channels=2"}) ||
                !run({"pactl", "set-default-sink", name})) {
                std::fprintf(stderr, "cannot make a %u Hz sink\n", rate);
                return 1;
            }
        }
        const auto music = live.dir.path() / ("music" + std::to_string(rate) + ".wav");
        writeMusic(music, int(rate), seconds);

        const auto writesStart = live.board->readout().counters().ecTransactions;
        std::uint32_t frames = 0;
        const Figures effect = effectRun(music, frames);
        const auto writes = live.board->readout().counters().ecTransactions - writesStart;
        const Figures floor = minimalLoop(music);

        auto line = [&](const char* what, const Figures& f, double colours) {
            std::printf("%5u  %-10s  %8.2f  %6.3f  %11.2f  %10.0f  %9.0f\n", rate, what, f.wall,
                        f.cpu, 100.0 * f.cpu / f.wall, f.wakeups, colours);
        };
        line("effect", effect, double(writes) / 6.0 / effect.wall);
        line("floor", floor, 0);
        std::printf("%5u  effect / floor %.2f; %u frames captured\n", rate,
                    (effect.cpu / effect.wall) / (floor.cpu / floor.wall), frames);
    }
    return 0;
}
