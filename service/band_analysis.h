#pragma once

// Reduces one captured audio packet to the strength of its low, middle and high
// parts of the spectrum.

#include <cstdint>
#include <vector>

namespace service {

class FastFourierTransform {
public:
    virtual ~FastFourierTransform() = default;
    // samples: interleaved 16-bit little-endian frames of `channels` samples each.
    // One value per band, at most three, each 0 or more.
    virtual std::vector<float> transform(const std::uint8_t* samples, std::int32_t frames,
                                         std::uint32_t channels) const = 0;
};

// One forward transform over the whole packet (single precision), magnitudes of
// the lower half of the spectrum, and for each band the largest magnitude inside a
// logarithmically spaced range of bins: with three bands, bin 1 alone, bins 2 to
// about sqrt(N), and the rest up to N/2 - 1. Bin 0 (the constant part) never counts.
//
// The stream's first two channels are mixed to one; a mono stream counts its one
// channel as both. Every intermediate keeps the precision it has here (single or
// double), so results are reproducible to the bit: the colour follows from them.
class KISS_FFT : public FastFourierTransform {
public:
    explicit KISS_FFT(std::uint32_t bandCount) : bandCount_(bandCount) {}

    std::vector<float> transform(const std::uint8_t* samples, std::int32_t frames,
                                 std::uint32_t channels) const override;

    std::uint32_t bandCount() const { return bandCount_; }

private:
    std::uint32_t bandCount_;
};

} // namespace service
