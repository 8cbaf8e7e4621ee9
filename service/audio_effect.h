#pragma once

// The colour half of the music effect: the latest band values, and a colour thread
// that turns them into an LED colour every 10 ms.

#include "audio/band_analysis.h"
#include "service/color_step.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

namespace service {

// Where the colour thread's colours go.
class ColorOutput {
public:
    virtual ~ColorOutput() = default;
    virtual void write(const Rgb& color) = 0;
};

// The LED colour registers: blue, then green, then red, each with its own bank
// selection. Deliberately without the firmware lock: a colour a hundred times a
// second must not queue behind the firmware.
class LedColorOutput : public ColorOutput {
public:
    void write(const Rgb& color) override;
};

class AudioEffect {
public:
    static constexpr std::uint32_t kCycleMs = 10;
    // A loopback stream delivers nothing at all while nothing plays: after this many
    // colour cycles without a packet the bands are those of silence, so no capture
    // path can leave the LEDs on the last loud colour.
    static constexpr std::uint32_t kSilentCycles = 2;

    explicit AudioEffect(std::unique_ptr<ColorOutput> output);
    virtual ~AudioEffect();
    AudioEffect(const AudioEffect&) = delete;
    AudioEffect& operator=(const AudioEffect&) = delete;

    // A hook for effects that want to compute on their own; the music effect needs none.
    virtual void update() = 0;

    // Starts the colour thread unless one is running.
    void start();
    // Ends the colour thread and waits for it: once this returns, no further colour
    // is written by it.
    void stop();
    bool threadRunning() const;

    BandValues bands() const;
    // The bands of a packet just analysed (or of none, after a capture run ended).
    void setBands(const BandValues& bands);

private:
    struct ColorRun;
    void colorThreadMain(ColorRun& run);
    // The bands this cycle shows: the latest packet's, or silence once packets have
    // stopped for kSilentCycles cycles. `seen` and `idle` are the colour thread's.
    BandValues bandsForCycle(std::uint64_t& seen, std::uint32_t& idle);

    std::unique_ptr<ColorOutput> output_;
    // Written by the capture thread, read (and silenced) by the colour thread. One
    // lock, so that silence never overwrites a packet that has just arrived.
    mutable std::mutex bandsMutex_;
    BandValues bands_;
    std::uint64_t updates_ = 0; // setBands calls so far
    mutable std::mutex runMutex_;
    std::unique_ptr<ColorRun> run_;
};

class EasyEffect : public AudioEffect {
public:
    explicit EasyEffect(std::unique_ptr<ColorOutput> output);

    void update() override {}

    // Three band values from one packet; a packet that cannot be analysed (too long,
    // or no memory for its length's plan) leaves the previous values in place. Called
    // from one thread at a time (the capture's).
    void analyze(const std::uint8_t* samples, std::uint32_t frames, std::uint32_t channels);

private:
    BandAnalyzer analyzer_;
};

} // namespace service
