#pragma once

// Reduces one captured audio packet to the strength of its low, middle and high
// parts of the spectrum.

#include <array>
#include <cstdint>
#include <memory>
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

// How many of a packet's frames the analysis transforms: its last analysedFrames(N).
// kissfft has butterflies of its own for the factors 2, 3 and 5; any other prime p
// goes through its generic butterfly, about p - 1 times the work per point, so that a
// prime length is quadratic (3833 frames, 10 ms at 383300 Hz: 2600 times a 3840-frame
// packet). A length whose factors above 5 add at most 12 such work (7, 11, 13 or 7 x 7:
// 441 and 882 frames at 44100 and 88200 Hz) is transformed whole, at most about 3
// times the cost of a well-factored length near it; any other over the largest length
// at most N made of 2, 3 and 5 alone (3833 frames: the last 3750), which costs no more
// than a well-factored packet does.
std::int32_t analysedFrames(std::int32_t frames);

// One forward transform over the packet's analysed frames (single precision), magnitudes of
// the lower half of the spectrum, and for each band the largest magnitude inside a
// logarithmically spaced range of bins: with three bands, bin 1 alone, bins 2 to
// about sqrt(N), and the rest up to N/2 - 1, N the analysed length. Bin 0 (the
// constant part) never counts.
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

// The same three band values, to the bit, for a stream of packets: the transform's
// plan, its buffers and the band edges are made once per packet length and kept for
// the lengths seen last, so a steady stream allocates nothing. The capture delivers
// packets of a few lengths (441 or 480 frames, a longer one after a stall), which
// the cache holds all at once. Not thread-safe: one analyser per capture thread.
class BandAnalyzer {
public:
    static constexpr std::size_t kCachedLengths = 4;

    BandAnalyzer();
    ~BandAnalyzer();
    BandAnalyzer(const BandAnalyzer&) = delete;
    BandAnalyzer& operator=(const BandAnalyzer&) = delete;

    // As KISS_FFT(3).transform; throws std::bad_alloc when a new length's plan
    // cannot be made.
    std::array<float, 3> bands(const std::uint8_t* samples, std::int32_t frames,
                               std::uint32_t channels);

    struct Workspace;

private:
    Workspace& workspaceFor(std::int32_t frames);

    // Most recently used first.
    std::vector<std::unique_ptr<Workspace>> cache_;
};

} // namespace service
