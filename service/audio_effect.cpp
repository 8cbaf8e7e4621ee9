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
    std::lock_guard lock(bandsMutex_);
    return bands_;
}

void AudioEffect::setBands(const BandValues& bands) {
    std::lock_guard lock(bandsMutex_);
    bands_ = bands;
    ++updates_;
}

BandValues AudioEffect::bandsForCycle(std::uint64_t& seen, std::uint32_t& idle) {
    std::lock_guard lock(bandsMutex_);
    if (updates_ != seen) {
        seen = updates_;
        idle = 0;
    } else if (idle < kSilentCycles && ++idle == kSilentCycles) {
        bands_ = {}; // what a silent packet's analysis gives
    }
    return bands_;
}

void AudioEffect::colorThreadMain(ColorRun& run) {
    ColorState state;
    std::uint64_t seen = 0;
    std::uint32_t idle = 0;
    {
        // The bands a new thread finds count as fresh: the silence rule starts now.
        std::lock_guard lock(bandsMutex_);
        seen = updates_;
    }
    while (run.stop.wait(kCycleMs) == os::Event::WaitResult::TimedOut) {
        const Rgb color = nextColor(state, bandsForCycle(seen, idle));
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
