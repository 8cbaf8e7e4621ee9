// Time to analyse one captured packet, the work the capture thread does per packet
// while it holds the firmware lock. Reports the median and 99th percentile of
// single calls besides Google Benchmark's mean.

#include "audio_signals.h"
#include "service/audio_effect.h"
#include "service/band_analysis.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <random>

namespace {

// Something like music: a bass note, a chord, some hiss.
std::vector<std::uint8_t> musicPacket(int frames) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> hiss(-600, 600);
    return audio_signals::packet(frames, 2, [&](int i, int c) {
        const double t = i / 48000.0;
        const double v = 9000 * std::sin(2 * 3.14159265 * 55 * t) +
                         5000 * std::sin(2 * 3.14159265 * 440 * t + c) +
                         4000 * std::sin(2 * 3.14159265 * 554.37 * t) +
                         3000 * std::sin(2 * 3.14159265 * 659.25 * t);
        return std::int16_t(v + hiss(random));
    });
}

void reportPercentiles(benchmark::State& state, std::vector<double>& ns) {
    std::sort(ns.begin(), ns.end());
    state.counters["median_us"] = ns[ns.size() / 2] / 1000.0;
    state.counters["p99_us"] = ns[ns.size() * 99 / 100] / 1000.0;
}

void BM_Transform(benchmark::State& state) {
    const int frames = int(state.range(0));
    const auto packet = musicPacket(frames);
    std::vector<double> ns;
    ns.reserve(1 << 20);
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        auto bands = service::KISS_FFT(3).transform(packet.data(), frames, 2);
        benchmark::DoNotOptimize(bands);
        ns.push_back(double((std::chrono::steady_clock::now() - begin).count()));
    }
    reportPercentiles(state, ns);
}
BENCHMARK(BM_Transform)->Arg(480)->Arg(960)->Arg(441)->MinTime(2.0);

// The whole per-packet step of the effect: analysis and storing the bands.
void BM_Analyze(benchmark::State& state) {
    struct NoOutput : service::ColorOutput {
        void write(const service::Rgb&) override {}
    };
    service::EasyEffect effect(std::make_unique<NoOutput>());
    const int frames = int(state.range(0));
    const auto packet = musicPacket(frames);
    for (auto _ : state)
        effect.analyze(packet.data(), std::uint32_t(frames), 2);
}
BENCHMARK(BM_Analyze)->Arg(480)->Arg(960);

} // namespace

BENCHMARK_MAIN();
