// Audio-to-LED latency: from the moment the first sample of a tone burst is heard
// on the default sink (written, plus the stream's playback latency) to the first
// change of an EC colour register in the virtual board's trace. Between bursts the
// player keeps playing silence, as a music player does, and the LEDs go dark.
//
//   tests/audio/with-pulseaudio build/linux/bin/music_latency_bench [bursts]

#include "audio_signals.h"
#include "board/ec_led_port.h"
#include "live_board.h"
#include "service/music_effect.h"

#include <algorithm>
#include <atomic>
#include <thread>

int main(int argc, char** argv) {
    using namespace std::chrono;
    const int bursts = argc > 1 ? std::atoi(argv[1]) : 60;
    LiveBoard live;
    service::setCapturePrintSink([](const std::string&) {});
    board::EcLedPort port;
    service::MusicEffect effect;
    effect.start();
    if (!effect.capture().waitStreaming(5000)) {
        std::fprintf(stderr, "the capture did not start\n");
        return 1;
    }

    Player player;
    const auto silence = audio_signals::packet(480, 2, [](int, int) { return std::int16_t(0); });
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
        player.write(tone);
        for (int i = 0; i < 9; ++i)
            player.write(tone);
        // Let the colour arrive while silence follows.
        for (int i = 0; i < 10; ++i)
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
    if (latencies.empty())
        return 1;
    std::sort(latencies.begin(), latencies.end());
    std::printf("bursts            %zu\n", latencies.size());
    std::printf("latency median    %.1f ms\n", latencies[latencies.size() / 2]);
    std::printf("latency p99       %.1f ms\n", latencies[latencies.size() * 99 / 100]);
    std::printf("latency min, max  %.1f ms, %.1f ms\n", latencies.front(), latencies.back());
    // Counting the player's own buffer too: from the write call that queued the burst.
    std::sort(fromWrite.begin(), fromWrite.end());
    std::printf("from write median %.1f ms, p99 %.1f ms\n", fromWrite[fromWrite.size() / 2],
                fromWrite[fromWrite.size() * 99 / 100]);
    return 0;
}
