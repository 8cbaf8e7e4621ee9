// Audio-to-LED latency: from the moment the first sample of a tone burst is heard
// on the default sink (written, plus the stream's playback latency) to the first
// change of an EC colour register in the virtual board's trace. Between bursts the
// player keeps playing silence, as a music player does, and the LEDs go dark. Once
// with a player at 20 ms and once with one at the server's default latency; beside
// each, the sound server's wake-ups a second (voluntary context switches of all its
// threads) with the player alone and with the effect capturing.
//
//   tests/audio/with-pulseaudio build/linux/bin/music_latency_bench [bursts]

#include "audio_signals.h"
#include "board/ec_led_port.h"
#include "live_board.h"
#include "service/music_effect.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <string>
#include <thread>

namespace {

// Voluntary context switches of every thread of the sound server so far: each is
// a wake-up (the involuntary ones are the machine's load, not the server's work).
std::uint64_t serverWakeups() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::ifstream pidFile(std::string(runtime ? runtime : "") + "/pulse/pid");
    std::string pid;
    if (!(pidFile >> pid))
        return 0;
    std::uint64_t total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + pid + "/task")) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                total += std::stoull(line.substr(line.find(':') + 1));
    }
    return total;
}

// Three seconds of silence from the player: the server's wake-ups a second.
double wakeupsWhilePlaying(Player& player, const std::vector<std::uint8_t>& silence) {
    using namespace std::chrono;
    const std::uint64_t before = serverWakeups();
    const auto began = steady_clock::now();
    while (steady_clock::now() < began + 3s)
        player.write(silence);
    return double(serverWakeups() - before) / duration<double>(steady_clock::now() - began).count();
}

bool measure(LiveBoard& live, service::MusicEffect& effect, Player::Latency latency, int bursts) {
    using namespace std::chrono;
    Player player(latency);
    const auto silence = audio_signals::packet(480, 2, [](int, int) { return std::int16_t(0); });
    const double alone = wakeupsWhilePlaying(player, silence);
    effect.start();
    if (!effect.capture().waitStreaming(5000)) {
        std::fprintf(stderr, "the capture did not start\n");
        return false;
    }
    const double withCapture = wakeupsWhilePlaying(player, silence);
    const auto tone = audio_signals::packet(480, 2, [](int i, int) {
        return audio_signals::cosine(i, 480, 10, 20000); // 1 kHz in 10 ms
    });
    std::vector<double> latencies, fromWrite;
    for (int burst = 0; burst < bursts + 2; ++burst) {
        for (int i = 0; i < 40; ++i) // 400 ms of silence: the LEDs go dark
            player.write(silence);
        if (live.board->readout().ledColor() != virtualboard::LedColor{}) {
            std::fprintf(stderr, "burst %d: the LEDs did not go dark\n", burst);
            continue;
        }
        live.board->knobs().clearTrace();
        const auto written = steady_clock::now();
        const auto heard = written + player.latency();
        for (int i = 0; i < 10; ++i)
            player.write(tone);
        // Let the colour arrive while silence follows; a player that buffers seconds
        // ahead is heard that much later.
        while (steady_clock::now() < heard + 100ms)
            player.write(silence);
        std::uint64_t changed = 0;
        for (const auto& entry : live.board->readout().trace())
            if (entry.kind == virtualboard::TraceKind::RegisterWrite && entry.reg != 0xFF &&
                entry.value != entry.oldValue) {
                changed = entry.timeNs;
                break;
            }
        if (!changed) {
            std::fprintf(stderr, "burst %d: no colour change\n", burst);
            continue;
        }
        const auto heardNs = duration_cast<nanoseconds>(heard.time_since_epoch()).count();
        const double ms = double(std::int64_t(changed) - std::int64_t(heardNs)) / 1e6;
        const auto writtenNs = duration_cast<nanoseconds>(written.time_since_epoch()).count();
        if (burst >= 2) { // the first bursts settle the stream
            latencies.push_back(ms);
            fromWrite.push_back(double(std::int64_t(changed) - std::int64_t(writtenNs)) / 1e6);
        }
    }
    effect.stop();
    std::printf("player at %s\n", latency == Player::Latency::Low ? "20 ms" : "server default");
    if (latencies.empty()) {
        std::printf("  no burst measured\n");
        return false;
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("  bursts            %zu\n", latencies.size());
    std::printf("  latency median    %.1f ms\n", latencies[latencies.size() / 2]);
    std::printf("  latency p99       %.1f ms\n", latencies[latencies.size() * 99 / 100]);
    std::printf("  latency min, max  %.1f ms, %.1f ms\n", latencies.front(), latencies.back());
    // Counting the player's own buffer too: from the write call that queued the burst.
    std::sort(fromWrite.begin(), fromWrite.end());
    std::printf("  from write median %.1f ms, p99 %.1f ms\n", fromWrite[fromWrite.size() / 2],
                fromWrite[fromWrite.size() * 99 / 100]);
    std::printf("  server wake-ups   %.0f /s alone, %.0f /s with the capture\n", alone,
                withCapture);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int bursts = argc > 1 ? std::atoi(argv[1]) : 60;
    LiveBoard live;
    service::setCapturePrintSink([](const std::string&) {});
    board::EcLedPort port;
    service::MusicEffect effect;
    const bool low = measure(live, effect, Player::Latency::Low, bursts);
    const bool serverDefault = measure(live, effect, Player::Latency::ServerDefault, bursts);
    return low && serverDefault ? 0 : 1;
}
