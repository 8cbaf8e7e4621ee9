#include "service/band_analysis.h"

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

} // namespace

std::vector<float> KISS_FFT::transform(const std::uint8_t* samples, std::int32_t frames,
                                       std::uint32_t channels) const {
    const std::uint32_t reported = std::min<std::uint32_t>(bandCount_, 3);
    // The capture never hands over an empty packet or a stream without channels;
    // should one come anyway, it is silence rather than a read outside the packet.
    if (frames < 1 || samples == nullptr || channels == 0)
        return std::vector<float>(reported, 0.0f);

    const auto n = std::size_t(frames);
    std::vector<kiss_fft_cpx> input(n), output(n);
    std::unique_ptr<kiss_fft_state, PlanDeleter> plan(kiss_fft_alloc(frames, 0, nullptr, nullptr));
    if (!plan)
        throw std::bad_alloc();

    const std::size_t frameBytes = std::size_t(channels) * 2;
    const std::size_t rightOffset = channels >= 2 ? 2 : 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* frame = samples + i * frameBytes;
        const double left = sampleAt(frame) * 0x1p-15;
        const double right = sampleAt(frame + rightOffset) * 0x1p-15;
        input[i].r = float((left + right) * 0.5);
        input[i].i = 0.0f;
    }

    kiss_fft(plan.get(), input.data(), output.data());

    const std::uint32_t half = std::uint32_t(frames) / 2;
    std::vector<double> magnitude(half);
    for (std::uint32_t j = 0; j < half; ++j) {
        const float re = output[j].r;
        const float im = output[j].i;
        const float power = re * re + im * im;
        magnitude[j] = double(float(std::sqrt(double(power)))) * 0.5;
    }

    // Band edges come from powers of N^0.1, truncated, not from square roots: near
    // perfect squares the two differ by a bin, and the colours depend on which.
    const std::int64_t maxBin = std::int64_t(half) - 1;
    const double base = std::pow(double(frames), 0.1);
    const std::int64_t steps = bandCount_ > 1 ? std::int64_t(bandCount_) - 1 : 1;
    std::int64_t lower = 0;
    std::vector<float> result;
    result.reserve(reported);
    for (std::uint32_t d = 0; d < bandCount_; ++d) {
        float value = 0.0f;
        const std::int64_t exponent = std::int64_t(d) * 10 / steps;
        auto upper = std::int64_t(std::pow(base, double(exponent)));
        if (upper <= lower)
            upper = lower + 1;
        if (upper > maxBin)
            upper = maxBin;
        if (lower < upper) {
            for (std::int64_t k = lower + 1; k <= upper; ++k)
                if (magnitude[std::size_t(k)] > double(value))
                    value = float(magnitude[std::size_t(k)]);
            lower = upper;
        }
        if (d < 3)
            result.push_back(value);
    }
    return result;
}

} // namespace service
