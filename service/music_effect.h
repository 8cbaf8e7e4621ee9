#pragma once

// Mode 1 of the lighting: the LEDs follow the music the computer plays. Packets of
// the loopback capture are analysed on the capture thread (under the firmware's
// global lock, which keeps the analysis off the firmware's EC work); a colour thread
// turns the latest bands into a colour every 10 ms.

#include "service/audio_effect.h"
#include "service/loopback_capture.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace service {

class MusicEffect {
public:
    // Runs `work` (the analysis of one packet) while holding what must be held.
    using AnalysisGuard = std::function<void(const std::function<void()>& work)>;

    static constexpr std::uint32_t kLockAttempts = 1500;

    // The product's effect: render loopback, LED registers, firmware global lock.
    MusicEffect();
    MusicEffect(CaptureEndpoint endpoint, std::unique_ptr<ColorOutput> output, AnalysisGuard guard);
    ~MusicEffect();
    MusicEffect(const MusicEffect&) = delete;
    MusicEffect& operator=(const MusicEffect&) = delete;

    // Both are no-ops in the state they would reach. stop() returns once the capture
    // and the colour thread have ended: no analysis runs and no colour is written
    // after it; the LEDs keep the last colour.
    void start();
    void stop();
    bool running() const { return running_.load() != 0; }

    LoopbackCapture& capture() { return *capture_; }
    EasyEffect& effect() { return *effect_; }

private:
    std::unique_ptr<LoopbackCapture> capture_;
    std::unique_ptr<EasyEffect> effect_;
    std::atomic<std::int32_t> running_{0};
    // Callers come from several threads (automation calls, power events); a start and
    // a stop must not interleave their halves.
    std::mutex lifecycle_;
};

// The firmware global lock around `work`, released only if this call obtained it.
void withGlobalLock(const std::function<void()>& work);

} // namespace service
