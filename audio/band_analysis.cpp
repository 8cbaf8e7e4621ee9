#include "audio/band_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <kiss_fft.h>
#include <memory>
#include <new>

namespace service {
namespace {

std::int16_t sampleAt(const std::uint8_t* bytes) {
    return std::int16_t(std::uint16_t(bytes[0] | (bytes[1] << 8)));
}

struct PlanDeleter {
    void operator()(kiss_fft_cfg plan) const { std::free(plan); }
};
using Plan = std::unique_ptr<kiss_fft_state, PlanDeleter>;

Plan forwardPlan(std::int32_t frames) {
    Plan plan(kiss_fft_alloc(frames, 0, nullptr, nullptr));
    if (!plan)
        throw std::bad_alloc();
    return plan;
}

// kissfft's generic-butterfly work for the factors of n above 5, up to just past
// `limit` (a factor of 17 or more is past any limit used here).
int genericWork(std::uint32_t n, int limit) {
    for (std::uint32_t p : {2u, 3u, 5u})
        while (n % p == 0)
            n /= p;
    int work = 0;
    for (std::uint32_t p : {7u, 11u, 13u})
        while (n % p == 0 && work <= limit) {
            n /= p;
            work += int(p) - 1;
        }
    return n == 1 ? work : limit + 1;
}

// The largest 2^a 3^b 5^c at most n (n >= 1).
std::int64_t largestSmooth(std::int64_t n) {
    std::int64_t best = 1;
    for (std::int64_t a = 1; a <= n; a *= 2)
        for (std::int64_t b = a; b <= n; b *= 3)
            for (std::int64_t c = b; c <= n; c *= 5)
                best = std::max(best, c);
    return best;
}

// The first two channels mixed to one (a mono stream counts its one channel twice).
void mixDown(const std::uint8_t* samples, std::size_t frames, std::uint32_t channels,
             kiss_fft_cpx* input) {
    const std::size_t frameBytes = std::size_t(channels) * 2;
    const std::size_t rightOffset = channels >= 2 ? 2 : 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint8_t* frame = samples + i * frameBytes;
        const double left = sampleAt(frame) * 0x1p-15;
        const double right = sampleAt(frame + rightOffset) * 0x1p-15;
        input[i].r = float((left + right) * 0.5);
        input[i].i = 0.0f;
    }
}

// Bins first..last of one band; first > last for a band left empty.
struct BinRange {
    std::int64_t first = 1, last = 0;
};

// Band edges come from powers of N^0.1, truncated, not from square roots: near
// perfect squares the two differ by a bin, and the colours depend on which.
std::vector<BinRange> bandRanges(std::int32_t frames, std::uint32_t bandCount) {
    const std::int64_t maxBin = std::int64_t(std::uint32_t(frames) / 2) - 1;
    const double base = std::pow(double(frames), 0.1);
    const std::int64_t steps = bandCount > 1 ? std::int64_t(bandCount) - 1 : 1;
    std::int64_t lower = 0;
    std::vector<BinRange> ranges(bandCount);
    for (std::uint32_t d = 0; d < bandCount; ++d) {
        const std::int64_t exponent = std::int64_t(d) * 10 / steps;
        auto upper = std::int64_t(std::pow(base, double(exponent)));
        if (upper <= lower)
            upper = lower + 1;
        if (upper > maxBin)
            upper = maxBin;
        if (lower < upper) {
            ranges[d] = {lower + 1, upper};
            lower = upper;
        }
    }
    return ranges;
}

float power(const kiss_fft_cpx& bin) {
    return bin.r * bin.r + bin.i * bin.i;
}

double magnitude(float power) {
    return double(float(std::sqrt(double(power)))) * 0.5;
}

} // namespace

std::int32_t analysedFrames(std::int32_t frames) {
    constexpr int kMostGenericWork = 12;
    if (frames < 1 || genericWork(std::uint32_t(frames), kMostGenericWork) <= kMostGenericWork)
        return frames;
    return std::int32_t(largestSmooth(frames));
}

std::vector<float> KISS_FFT::transform(const std::uint8_t* samples, std::int32_t frames,
                                       std::uint32_t channels) const {
    const std::uint32_t reported = std::min<std::uint32_t>(bandCount_, 3);
    // The capture never hands over an empty packet or a stream without channels;
    // should one come anyway, it is silence rather than a read outside the packet.
    if (frames < 1 || samples == nullptr || channels == 0)
        return std::vector<float>(reported, 0.0f);

    const std::int32_t length = analysedFrames(frames);
    const auto n = std::size_t(length);
    std::vector<kiss_fft_cpx> input(n), output(n);
    const Plan plan = forwardPlan(length);
    mixDown(samples + std::size_t(frames - length) * channels * 2, n, channels, input.data());
    kiss_fft(plan.get(), input.data(), output.data());

    const std::uint32_t half = std::uint32_t(length) / 2;
    std::vector<double> magnitudes(half);
    for (std::uint32_t j = 0; j < half; ++j)
        magnitudes[j] = magnitude(power(output[j]));

    std::vector<float> result;
    result.reserve(reported);
    for (const BinRange& range : bandRanges(length, bandCount_)) {
        float value = 0.0f;
        for (std::int64_t k = range.first; k <= range.last; ++k)
            if (magnitudes[std::size_t(k)] > double(value))
                value = float(magnitudes[std::size_t(k)]);
        if (result.size() < reported)
            result.push_back(value);
    }
    return result;
}

struct BandAnalyzer::Workspace {
    explicit Workspace(std::int32_t n)
        : frames(n), length(analysedFrames(n)), plan(forwardPlan(length)),
          input(std::size_t(length)), output(std::size_t(length)), ranges(bandRanges(length, 3)) {}

    std::int32_t frames; // of the packets
    std::int32_t length; // analysed, the last of them
    Plan plan;
    std::vector<kiss_fft_cpx> input, output;
    std::vector<BinRange> ranges;
};

BandAnalyzer::BandAnalyzer() = default;
BandAnalyzer::~BandAnalyzer() = default;

BandAnalyzer::Workspace& BandAnalyzer::workspaceFor(std::int32_t frames) {
    auto found = std::find_if(cache_.begin(), cache_.end(),
                              [&](const auto& w) { return w->frames == frames; });
    if (found == cache_.end()) {
        auto fresh = std::make_unique<Workspace>(frames);
        if (cache_.size() == kCachedLengths)
            cache_.pop_back();
        found = cache_.insert(cache_.begin(), std::move(fresh));
    } else if (found != cache_.begin()) {
        std::rotate(cache_.begin(), found, found + 1);
        found = cache_.begin();
    }
    return **found;
}

std::array<float, 3> BandAnalyzer::bands(const std::uint8_t* samples, std::int32_t frames,
                                         std::uint32_t channels) {
    std::array<float, 3> values{};
    if (frames < 1 || samples == nullptr || channels == 0)
        return values;
    Workspace& w = workspaceFor(frames);
    mixDown(samples + std::size_t(frames - w.length) * channels * 2, std::size_t(w.length),
            channels, w.input.data());
    kiss_fft(w.plan.get(), w.input.data(), w.output.data());
    // The magnitude grows with the power at every rounding step, so the loudest bin's
    // magnitude is the band's maximum: one square root per band instead of per bin.
    for (std::size_t d = 0; d < values.size(); ++d) {
        float loudest = 0.0f;
        for (std::int64_t k = w.ranges[d].first; k <= w.ranges[d].last; ++k)
            loudest = std::max(loudest, power(w.output[std::size_t(k)]));
        if (loudest > 0.0f)
            values[d] = float(magnitude(loudest));
    }
    return values;
}

} // namespace service
