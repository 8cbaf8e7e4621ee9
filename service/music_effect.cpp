#include "service/music_effect.h"

namespace service {

MusicEffect::MusicEffect()
    : MusicEffect(CaptureEndpoint::RenderLoopback, std::make_unique<LedColorOutput>(),
                  withGlobalLock) {}

MusicEffect::MusicEffect(CaptureEndpoint endpoint, std::unique_ptr<ColorOutput> output,
                         AnalysisGuard guard)
    : capture_(std::make_unique<LoopbackCapture>(endpoint)),
      effect_(std::make_unique<EasyEffect>(std::move(output))) {
    capture_->setCallback([this, guard = std::move(guard)](const std::uint8_t* samples,
                                                           std::uint32_t frames, std::uint32_t,
                                                           std::uint32_t channels) {
        guard([&] { effect_->analyze(samples, frames, channels); });
    });
}

MusicEffect::~MusicEffect() {
    stop();
}

void MusicEffect::start() {
    std::lock_guard lock(lifecycle_);
    if (running_.exchange(1) == 1)
        return;
    capture_->start();
    effect_->start();
}

void MusicEffect::stop() {
    std::lock_guard lock(lifecycle_);
    if (running_.exchange(0) != 1)
        return;
    capture_->stop();
    effect_->stop();
}

} // namespace service
