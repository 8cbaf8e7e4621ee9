#include "service/led_controller.h"

#include "board/bios_item_registry.h"
#include "os/com_apartment.h"
#include "os/diagnostics.h"
#include "service/service_identity.h"
#include "settings/lighting_settings.h"

#include <exception>

namespace service {

namespace {

bool isResume(std::uint32_t event) {
    return event == LedController::kPowerResumeCritical ||
           event == LedController::kPowerResumeSuspend ||
           event == LedController::kPowerResumeAutomatic;
}

std::int32_t normalisedMode(std::int32_t requested) {
    return requested == LedController::kModeMusic || requested == LedController::kModeTemperature
               ? requested
               : LedController::kModeOff;
}
} // namespace

LedController& LedController::instance() {
    // Never destroyed: the effects end with the process, not with static teardown.
    static LedController* const controller = new LedController(Collaborators{
        settings::LightingSettings::instance(),
        board::BiosItemRegistry::instance(),
        [] { return std::make_unique<MusicEffect>(); },
    });
    return *controller;
}

LedController::LedController(Collaborators collaborators)
    : settings_(collaborators.settings), items_(collaborators.items),
      thermalPeriod_(collaborators.thermalPeriod) {
    os::ComApartment::enterForThread();
    mode_ = settings_.getMode();
    ecPort_ = std::make_unique<board::EcLedPort>(items_);
    // The panel hands the LEDs to the software before it asks for an effect; after a
    // restart nobody does, so a stored software effect takes them here.
    if (mode_ == kModeMusic || mode_ == kModeTemperature)
        ecPort_->enableSoftwareControl();
    musicEffect_ = collaborators.makeMusicEffect();
    try {
        thermalStopEvent_ = collaborators.makeStopEvent();
    } catch (const std::exception& e) {
        os::logEvent(kServiceName,
                     std::string("The temperature effect is unavailable: ") + e.what());
    }
    std::lock_guard lock(mutex_);
    applyModeLocked();
}

LedController::~LedController() {
    // A shutdown still waiting for a thread stuck in a call: that call returns first.
    if (stopper_.joinable())
        stopper_.join();
    std::lock_guard lock(mutex_);
    musicEffect_->stop();
    stopThermalThreadLocked();
    if (thermalThread_.joinable())
        thermalThread_.join();
    // Threads left behind in a stuck call still use this controller when they return.
    std::unique_lock threads(threadMutex_);
    threadEnded_.wait(threads, [this] { return liveThermalThreads_.load() == 0; });
}

void LedController::setMode(std::int32_t requested) {
    std::lock_guard lock(mutex_);
    setModeLocked(requested);
}

void LedController::setModeLocked(std::int32_t requested) {
    const std::int32_t m = normalisedMode(requested);
    mode_ = m;
    settings_.setMode(m);
    applyModeLocked();
}

void LedController::applyMode() {
    std::lock_guard lock(mutex_);
    applyModeLocked();
}

void LedController::applyModeLocked() {
    if (shutDown_)
        return;
    switch (mode_.load()) {
    case kModeMusic:
        stopThermalThreadLocked();
        musicEffect_->start();
        break;
    case kModeTemperature:
        musicEffect_->stop();
        startThermalThreadLocked();
        break;
    default:
        musicEffect_->stop();
        stopThermalThreadLocked();
        break;
    }
}

bool LedController::shutDown(std::chrono::milliseconds limit) {
    shutDown_ = true;
    std::unique_lock lock(shutdownMutex_);
    // The stop runs on a thread of its own, so that the wait for it is bounded even
    // when a caller stuck in a firmware call holds the lock it needs.
    if (!stopper_.joinable() && !shutdownDone_) {
        try {
            stopper_ = std::thread([this] {
                {
                    std::lock_guard controllerLock(mutex_);
                    musicEffect_->stop();
                    stopThermalThreadLocked();
                }
                {
                    // Threads let go earlier, stuck in a call, count as well: they
                    // write when it returns.
                    std::unique_lock threads(threadMutex_);
                    threadEnded_.wait(threads, [this] { return liveThermalThreads_.load() == 0; });
                }
                std::lock_guard done(shutdownMutex_);
                shutdownDone_ = true;
                shutdownEnded_.notify_all();
            });
        } catch (const std::exception&) {
            return false; // no thread to stop them with: the process ends as it is
        }
    }
    return shutdownEnded_.wait_for(lock, limit, [this] { return shutdownDone_; });
}

void LedController::stopMusicEffect() {
    musicEffect_->stop();
}

void LedController::stopThermalThread() {
    std::lock_guard lock(mutex_);
    stopThermalThreadLocked();
}

void LedController::stopThermalThreadLocked() {
    // With no thread running the signal stays set until the next start resets it.
    if (thermalStopEvent_)
        thermalStopEvent_->set();
    thermalStarted_ = false;
}

bool LedController::thermalThreadRunning() const {
    std::lock_guard lock(mutex_);
    std::lock_guard threads(threadMutex_);
    return thermalStarted_ && !thermalEnded_;
}

void LedController::startThermalThreadLocked() {
    {
        std::lock_guard threads(threadMutex_);
        if (thermalStarted_ && !thermalEnded_)
            return;
    }
    if (!thermalStopEvent_)
        return;
    // A thread told to stop has its signal pending until it consumes it; wait for
    // that before the reset below could take the signal away and leave it running
    // beside the new one. It is at most one cycle's work away from its wait, unless a
    // firmware call hangs: then it is let go, and the newer generation keeps it from
    // writing anything when the call returns.
    if (thermalThread_.joinable()) {
        std::unique_lock threads(threadMutex_);
        const bool ended =
            threadEnded_.wait_for(threads, kThermalStopLimit, [this] { return thermalEnded_; });
        threads.unlock();
        if (ended)
            thermalThread_.join();
        else
            thermalThread_.detach();
    }
    thermalStopEvent_->reset();
    std::uint64_t generation = 0;
    {
        std::lock_guard threads(threadMutex_);
        thermalEnded_ = false;
        generation = ++thermalGeneration_;
    }
    try {
        thermalThread_ = std::thread([this, generation] { thermalThreadMain(*this, generation); });
        thermalStarted_ = true;
    } catch (const std::exception& e) {
        // The next change to mode 2 tries again.
        std::lock_guard threads(threadMutex_);
        thermalEnded_ = true;
        os::logEvent(kServiceName,
                     std::string("The temperature thread did not start: ") + e.what());
    }
}

void LedController::handlePowerBroadcast(std::uint32_t event) {
    if (event == kPowerSuspend) {
        std::lock_guard lock(mutex_);
        if (mode_ != kModeOff) {
            musicEffect_->stop();
            stopThermalThreadLocked();
        }
        suspended_ = true;
        return;
    }
    // After a shutdown a resume does not take the LEDs for an effect that will not run.
    if (!isResume(event) || shutDown_)
        return;
    std::int32_t m = kModeOff;
    {
        // The first resume claims the restart. The bridge calls below run without the
        // lock: on a single-threaded apartment they pump messages, and the second
        // resume the system sends may arrive inside them; it finds nothing to do.
        std::lock_guard lock(mutex_);
        if (!suspended_)
            return;
        suspended_ = false;
        m = mode_;
    }
    if (m != kModeMusic && m != kModeTemperature)
        return;
    board::EcLedPort port(items_);
    if (!port.isLightingOn())
        return;
    port.enableSoftwareControl();
    std::lock_guard lock(mutex_);
    // A client's mode or another suspend that came in meanwhile has the last word.
    if (suspended_ || mode_ != m)
        return;
    setModeLocked(m);
}

std::uint32_t thermalThreadMain(LedController& controller, std::uint64_t generation) {
    const int live = ++controller.liveThermalThreads_;
    int peak = controller.peakThermalThreads_;
    while (live > peak && !controller.peakThermalThreads_.compare_exchange_weak(peak, live)) {
    }
    // The temperature comes through an automation object.
    os::ComApartment::enterForThread();
    for (;;) {
        // A cycle without a reading writes nothing: the LEDs keep the last colour
        // rather than show a guess.
        board::BiosItem* item = controller.items_.Find(board::kCpuTemperatureItem);
        std::uint32_t tenths = 0;
        const bool read = item && item->GetValue(&tenths);
        // Back from a call that outlasted this thread's turn: the event is no longer
        // its own to wait on, and the LEDs belong to whatever runs now.
        if (controller.thermalGeneration_.load() != generation)
            break;
        if (read && controller.mode_.load() == LedController::kModeTemperature)
            controller.ecPort_->showTemperature(std::int32_t(tenths / 10));
        // Told to stop, or a wait that cannot be made: either way the loop ends.
        if (controller.thermalStopEvent_->wait(std::uint32_t(controller.thermalPeriod_.count())) !=
            os::Event::WaitResult::TimedOut)
            break;
    }
    {
        std::lock_guard threads(controller.threadMutex_);
        if (controller.thermalGeneration_.load() == generation)
            controller.thermalEnded_ = true;
        --controller.liveThermalThreads_;
    }
    controller.threadEnded_.notify_all();
    return 0;
}

} // namespace service
