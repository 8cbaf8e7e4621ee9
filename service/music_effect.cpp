#include "service/music_effect.h"

#include "os/com_apartment.h"

#include <algorithm>

namespace service {

namespace {

CaptureSourceFactory& productCaptureSource() {
    static CaptureSourceFactory factory;
    return factory;
}

std::unique_ptr<CaptureSource> makeProductCaptureSource() {
    if (const CaptureSourceFactory& factory = productCaptureSource())
        return factory();
    return std::make_unique<LocalCaptureSource>(CaptureEndpoint::RenderLoopback);
}

} // namespace

void setProductCaptureSource(CaptureSourceFactory factory) {
    productCaptureSource() = std::move(factory);
}

MusicEffect::MusicEffect()
    : MusicEffect(makeProductCaptureSource(), std::make_unique<LedColorOutput>(), withGlobalLock) {}

MusicEffect::MusicEffect(CaptureEndpoint endpoint, std::unique_ptr<ColorOutput> output,
                         AnalysisGuard guard)
    : MusicEffect(std::make_unique<LocalCaptureSource>(endpoint), std::move(output),
                  std::move(guard)) {}

MusicEffect::MusicEffect(std::unique_ptr<CaptureSource> capture,
                         std::unique_ptr<ColorOutput> output, AnalysisGuard guard)
    : capture_(std::move(capture)), effect_(std::make_unique<EasyEffect>(std::move(output))) {
    capture_->setCallback([this, guard = std::move(guard)](const std::uint8_t* samples,
                                                           std::uint32_t frames, std::uint32_t,
                                                           std::uint32_t channels) {
        guard([&] { effect_->analyze(samples, frames, channels); });
    });
    // A run that ends stops the packets, and the effect's own silence rule fades the
    // LEDs out meanwhile. A new default output is followed after the same pause as any
    // other ended run, so a server that keeps flipping its default is backed off too.
    capture_->setRunEndedCallback([this](std::int32_t) {
        {
            std::lock_guard lock(restartMutex_);
            runEnded_ = true;
        }
        restartWake_.notify_all();
    });
}

MusicEffect::~MusicEffect() {
    stop();
}

void MusicEffect::start() {
    std::lock_guard lock(lifecycle_);
    if (running_.exchange(1) == 1)
        return;
    try {
        capture_->start();
        effect_->start();
        {
            std::lock_guard restart(restartMutex_);
            stopping_ = false;
        }
        restarter_ = std::thread([this] { restartEndedRuns(); });
    } catch (...) {
        // Not started after all (a thread that could not be made): what did start
        // stops again, and the next start tries anew. The caller hears of it.
        capture_->stop();
        effect_->stop();
        running_ = 0;
        throw;
    }
}

void MusicEffect::stop() {
    std::lock_guard lock(lifecycle_);
    if (running_.exchange(0) != 1)
        return;
    {
        std::lock_guard restart(restartMutex_);
        stopping_ = true;
    }
    restartWake_.notify_all();
    if (restarter_.joinable())
        restarter_.join();
    capture_->stop();
    effect_->stop();
    std::lock_guard restart(restartMutex_);
    runEnded_ = false;
}

void MusicEffect::restartEndedRuns() {
    using Clock = std::chrono::steady_clock;
    // The capture's start asks COM for the audio devices: this thread needs an
    // apartment of its own rather than rely on another thread's (at process start
    // the controller's thread may be the only one with COM).
    const os::ComApartment com(os::ComApartment::Kind::MultiThreaded);
    std::chrono::milliseconds pause = kFirstRetry;
    Clock::time_point started = Clock::now(); // the run start() began
    std::unique_lock lock(restartMutex_);
    for (;;) {
        restartWake_.wait(lock, [this] { return stopping_ || runEnded_; });
        if (stopping_)
            return;
        runEnded_ = false;
        if (Clock::now() - started >= kSteadyRun)
            pause = kFirstRetry;
        if (restartWake_.wait_for(lock, pause, [this] { return stopping_; }))
            return;
        lock.unlock();
        capture_->stop(); // the ended run's thread
        capture_->start();
        started = Clock::now();
        pause = std::min(pause * 2, kLastRetry);
        lock.lock();
    }
}

} // namespace service
