#pragma once

// Mode 1 of the lighting: the LEDs follow the music the computer plays. Packets of
// the loopback capture are analysed on the capture thread (under the firmware's
// global lock, which keeps the analysis off the firmware's EC work); a colour thread
// turns the latest bands into a colour every 10 ms.

#include "audio/capture_source.h"
#include "service/audio_effect.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace service {

class MusicEffect {
public:
    // Runs `work` (the analysis of one packet) while holding what must be held.
    using AnalysisGuard = std::function<void(const std::function<void()>& work)>;

    static constexpr std::uint32_t kLockAttempts = 1500;

    // The product's effect: render loopback, LED registers, firmware global lock.
    MusicEffect();
    MusicEffect(CaptureEndpoint endpoint, std::unique_ptr<ColorOutput> output, AnalysisGuard guard);
    MusicEffect(std::unique_ptr<CaptureSource> capture, std::unique_ptr<ColorOutput> output,
                AnalysisGuard guard);
    ~MusicEffect();
    MusicEffect(const MusicEffect&) = delete;
    MusicEffect& operator=(const MusicEffect&) = delete;

    // A capture run that ends by itself (the sound server restarted, the output went
    // away, another output became the default) is started again after a pause. The
    // pause doubles from the first to the last of these with every run that ends
    // within kSteadyRun of its start, and starts over after a run that lasted: a
    // sound server that keeps failing, or keeps changing its default output, costs
    // a start every kLastRetry at most.
    static constexpr std::chrono::milliseconds kFirstRetry{100};
    static constexpr std::chrono::milliseconds kLastRetry{5000};
    static constexpr std::chrono::milliseconds kSteadyRun{5000};

    // Both are no-ops in the state they would reach. stop() returns once the capture
    // and the colour thread have ended: no analysis runs and no colour is written
    // after it; the LEDs keep the last colour. A start that throws (a thread that
    // could not be made) leaves the effect stopped.
    void start();
    void stop();
    bool running() const { return running_.load() != 0; }

    CaptureSource& capture() { return *capture_; }
    EasyEffect& effect() { return *effect_; }

private:
    void restartEndedRuns();

    std::unique_ptr<CaptureSource> capture_;
    std::unique_ptr<EasyEffect> effect_;
    std::atomic<std::int32_t> running_{0};
    // Callers come from several threads (automation calls, power events); a start and
    // a stop must not interleave their halves.
    std::mutex lifecycle_;

    // While the effect runs, only the restart thread starts and stops the capture.
    std::thread restarter_;
    std::mutex restartMutex_;
    std::condition_variable restartWake_;
    bool runEnded_ = false;
    bool stopping_ = false;
};

// Where the product's effect (the default constructor) gets its packets; set before
// the effect is built. Unset: the loopback capture of this process. The installed
// Linux service, running as root, names the seat user's capture helper here.
using CaptureSourceFactory = std::function<std::unique_ptr<CaptureSource>()>;
void setProductCaptureSource(CaptureSourceFactory factory);

// The firmware global lock around `work`, released only if this call obtained it.
void withGlobalLock(const std::function<void()>& work);

} // namespace service
