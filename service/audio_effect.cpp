#include "service/audio_effect.h"

#include "board/ec_registers.h"
#include "os/diagnostics.h"
#include "os/event.h"

#include <climits>
#include <cstdio>
#include <new>
#include <system_error>
#include <thread>

namespace service {

void LedColorOutput::write(const Rgb& color) {
    board::LedRegisterWriter writer;
    writer.setBlue(color.blue);
    writer.setGreen(color.green);
    writer.setRed(color.red);
}

// One colour thread and the signal that ends it. Each run has its own, so a stop
// meant for one thread can never end (or miss) another.
struct AudioEffect::ColorRun {
    os::Event stop{os::Event::Reset::Manual};
    std::thread thread;
};

AudioEffect::AudioEffect(std::unique_ptr<ColorOutput> output) : output_(std::move(output)) {}

AudioEffect::~AudioEffect() {
    stop();
}

void AudioEffect::start() {
    std::lock_guard lock(runMutex_);
    if (run_)
        return;
    auto run = std::make_unique<ColorRun>();
    try {
        run->thread = std::thread([this, r = run.get()] { colorThreadMain(*r); });
    } catch (const std::system_error&) {
        // No colour output this time; the effect still counts as running and the
        // next start tries again.
        return;
    }
    run_ = std::move(run);
}

void AudioEffect::stop() {
    std::unique_ptr<ColorRun> run;
    {
        std::lock_guard lock(runMutex_);
        run = std::move(run_);
    }
    if (!run)
        return;
    run->stop.set();
    run->thread.join();
}

bool AudioEffect::threadRunning() const {
    std::lock_guard lock(runMutex_);
    return run_ != nullptr;
}

BandValues AudioEffect::bands() const {
    return {low_.load(std::memory_order_relaxed), mid_.load(std::memory_order_relaxed),
            high_.load(std::memory_order_relaxed)};
}

void AudioEffect::setBands(const BandValues& bands) {
    low_.store(bands.low, std::memory_order_relaxed);
    mid_.store(bands.mid, std::memory_order_relaxed);
    high_.store(bands.high, std::memory_order_relaxed);
}

void AudioEffect::colorThreadMain(ColorRun& run) {
    ColorState state;
    while (run.stop.wait(kCycleMs) == os::Event::WaitResult::TimedOut) {
        const Rgb color = nextColor(state, bands());
        char line[1024];
        std::snprintf(line, sizeof line, "[LED] Red: %d, Green: %d, Blue: %d,  \n", color.red,
                      color.green, color.blue);
        os::debugOutput(line);
        output_->write(color);
    }
}

EasyEffect::EasyEffect(std::unique_ptr<ColorOutput> output) : AudioEffect(std::move(output)) {}

void EasyEffect::analyze(const std::uint8_t* samples, std::uint32_t frames,
                         std::uint32_t channels) {
    if (frames > std::uint32_t(INT_MAX))
        return;
    try {
        const auto values = analyzer_.bands(samples, std::int32_t(frames), channels);
        setBands({values[0], values[1], values[2]});
    } catch (const std::bad_alloc&) {
        return; // on the capture thread there is nobody to tell; keep the last bands
    }
}

} // namespace service
