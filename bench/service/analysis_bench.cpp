// Time to analyse one captured packet, the work the capture thread does per packet
// while it holds the firmware lock. BM_SideBySide times, in turns within one loop,
// the per-packet computation that allocates its plan and buffers for every packet
// (the one the kept plans must match to the bit), the analyser with kept plans, and
// the bare forward transform of the same length with a kept plan (the floor), and
// reports their medians and ratios, so that a loaded machine slows all three alike.
// BM_PrimeBesideWellFactored does the same for a prime length and a well-factored one.
//
//   build/linux/bin/music_analysis_bench
//   valgrind --tool=callgrind build/linux/bin/music_analysis_bench --benchmark_filter=Bare/480
//   (and PerPacket/480, Kept/480: the instructions of one call each)

#include "audio/band_analysis.h"
#include "audio_signals.h"
#include "service/audio_effect.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <kiss_fft.h>
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

// The transform alone, on an input already mixed down, with a plan made once.
class BareTransform {
public:
    explicit BareTransform(int frames)
        : plan_(kiss_fft_alloc(frames, 0, nullptr, nullptr)), input_(std::size_t(frames)),
          output_(std::size_t(frames)) {
        for (std::size_t i = 0; i < input_.size(); ++i)
            input_[i].r = float(std::sin(double(i)));
    }
    ~BareTransform() { std::free(plan_); }
    BareTransform(const BareTransform&) = delete;
    BareTransform& operator=(const BareTransform&) = delete;

    float run() {
        kiss_fft(plan_, input_.data(), output_.data());
        return output_[1].r;
    }

private:
    kiss_fft_cfg plan_;
    std::vector<kiss_fft_cpx> input_, output_;
};

double median(std::vector<double>& ns) {
    std::sort(ns.begin(), ns.end());
    return ns[ns.size() / 2] / 1000.0;
}

template <typename Work>
double timed(Work&& work) {
    const auto begin = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(work());
    return double((std::chrono::steady_clock::now() - begin).count());
}

void BM_SideBySide(benchmark::State& state) {
    const int frames = int(state.range(0));
    const auto packet = musicPacket(frames);
    service::BandAnalyzer analyzer;
    BareTransform bare(frames);
    std::vector<double> perPacket, kept, floor;
    for (auto _ : state) {
        perPacket.push_back(
            timed([&] { return service::KISS_FFT(3).transform(packet.data(), frames, 2); }));
        kept.push_back(timed([&] { return analyzer.bands(packet.data(), frames, 2); }));
        floor.push_back(timed([&] { return bare.run(); }));
    }
    const double p = median(perPacket), k = median(kept), b = median(floor);
    state.counters["per_packet_us"] = p;
    state.counters["kept_us"] = k;
    state.counters["bare_us"] = b;
    state.counters["kept_to_bare"] = k / b;
    state.counters["per_packet_to_kept"] = p / k;
}
BENCHMARK(BM_SideBySide)->Arg(480)->Arg(441)->Arg(960)->MinTime(2.0);

// A prime length beside a well-factored one of about its length (issue 30): the
// analyser's cost for each, side by side, and the prime length's whole transform,
// which is what its analysis cost before awkward lengths were bounded.
void BM_PrimeBesideWellFactored(benchmark::State& state) {
    const int prime = int(state.range(0)), smooth = int(state.range(1));
    const auto primePacket = musicPacket(prime), smoothPacket = musicPacket(smooth);
    service::BandAnalyzer analyzer;
    BareTransform whole(prime);
    std::vector<double> primeTimes, smoothTimes, wholeTimes;
    for (auto _ : state) {
        primeTimes.push_back(timed([&] { return analyzer.bands(primePacket.data(), prime, 2); }));
        smoothTimes.push_back(
            timed([&] { return analyzer.bands(smoothPacket.data(), smooth, 2); }));
        wholeTimes.push_back(timed([&] { return whole.run(); }));
    }
    const double p = median(primeTimes), s = median(smoothTimes), w = median(wholeTimes);
    state.counters["analysed_frames"] = service::analysedFrames(prime);
    state.counters["prime_us"] = p;
    state.counters["smooth_us"] = s;
    state.counters["prime_to_smooth"] = p / s;
    state.counters["whole_prime_us"] = w;
}
BENCHMARK(BM_PrimeBesideWellFactored)
    ->Args({3833, 3840})
    ->Args({1097, 1080})
    ->Args({479, 480})
    ->MinTime(2.0);

// One of the three alone, for instruction counts under callgrind.
void BM_PerPacket(benchmark::State& state) {
    const int frames = int(state.range(0));
    const auto packet = musicPacket(frames);
    for (auto _ : state)
        benchmark::DoNotOptimize(service::KISS_FFT(3).transform(packet.data(), frames, 2));
}
BENCHMARK(BM_PerPacket)->Arg(480)->Arg(441)->Arg(960);

void BM_Kept(benchmark::State& state) {
    const int frames = int(state.range(0));
    const auto packet = musicPacket(frames);
    service::BandAnalyzer analyzer;
    for (auto _ : state)
        benchmark::DoNotOptimize(analyzer.bands(packet.data(), frames, 2));
}
BENCHMARK(BM_Kept)->Arg(480)->Arg(441)->Arg(960);

void BM_Bare(benchmark::State& state) {
    BareTransform bare(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(bare.run());
}
BENCHMARK(BM_Bare)->Arg(480)->Arg(441)->Arg(960);

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
