#pragma once

// The service's lighting state: the colour a client last gave, the effect mode (0
// none, 1 music, 2 CPU temperature) kept in Lighting.xml, and the software effects
// that follow the mode. One per process, built on first use and never destroyed.

#include "board/ec_led_port.h"
#include "os/event.h"
#include "service/music_effect.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace board {
class BiosItemRegistry;
}
namespace settings {
class LightingSettings;
}

namespace service {

class LedController;

// The temperature effect's thread: reads the CPU temperature and, while the mode is
// 2, shows it, once per thermal period until the stop event is signalled or a newer
// thread has taken its place (`generation` is the one it was started as).
std::uint32_t thermalThreadMain(LedController& controller, std::uint64_t generation);

class LedController {
public:
    static constexpr std::int32_t kModeOff = 0;
    static constexpr std::int32_t kModeMusic = 1;
    static constexpr std::int32_t kModeTemperature = 2;
    static constexpr const char* kThermalEventName = "ThermalThread";
    static constexpr std::chrono::milliseconds kThermalPeriod{3000};
    // How long a restart waits for the thread before it: one cycle's work is far less.
    // A thread still busy then is stuck in a firmware call; it is left to end by itself.
    static constexpr std::chrono::milliseconds kThermalStopLimit{500};

    // Power broadcast event codes.
    static constexpr std::uint32_t kPowerSuspend = 4;
    static constexpr std::uint32_t kPowerResumeCritical = 6;
    static constexpr std::uint32_t kPowerResumeSuspend = 7;
    static constexpr std::uint32_t kPowerResumeAutomatic = 18;

    // What the controller works with. The service's own come from instance(); tests
    // bring their own. The factories run at their point in the construction order.
    struct Collaborators {
        settings::LightingSettings& settings;
        board::BiosItemRegistry& items;
        std::function<std::unique_ptr<MusicEffect>()> makeMusicEffect;
        std::chrono::milliseconds thermalPeriod = kThermalPeriod;
        // Throws when the event cannot be created.
        std::function<std::unique_ptr<os::Event>()> makeStopEvent = [] {
            return std::make_unique<os::Event>(os::Event::Reset::Automatic, false,
                                               kThermalEventName);
        };
    };

    // Safe from any thread; the first call builds the controller and starts the
    // stored effect.
    static LedController& instance();

    explicit LedController(Collaborators collaborators);
    // Stops both effects and waits for the thermal thread (the service's controller
    // is never destroyed; tests' controllers are).
    ~LedController();
    LedController(const LedController&) = delete;
    LedController& operator=(const LedController&) = delete;

    std::uint32_t getColor() const { return color_.load(); }
    // Only kept for clients to read back: the LEDs do not change.
    void setColor(std::uint32_t value) { color_.store(value); }

    std::int32_t getMode() const { return mode_.load(); }
    // Anything but 1 and 2 becomes 0. Saved to Lighting.xml on every call, then applied.
    void setMode(std::int32_t requested);
    // Starts and stops the effects to match the mode.
    void applyMode();
    void stopMusicEffect();
    // Tells the thermal thread to end; it does so at its next wait.
    void stopThermalThread();
    // Suspend stops the effects; the first resume after it restarts the stored effect
    // when the lighting is switched on. Other events change nothing.
    void handlePowerBroadcast(std::uint32_t event);

    // How long the service waits for the effects when it ends: each is a cycle's work
    // away from its stop, unless a firmware call or the capture hangs.
    static constexpr std::chrono::milliseconds kShutdownLimit{3000};
    // For the end of the process: stops both effects and waits, at most `limit`, until
    // every effect thread has ended, so that none is left holding the firmware's
    // global lock or halfway through an EC write. True when they all ended in time.
    // From then on nothing starts an effect again: mode changes and resumes still
    // store the mode, but run nothing.
    bool shutDown(std::chrono::milliseconds limit = kShutdownLimit);

    MusicEffect& musicEffect() { return *musicEffect_; }
    // Whether a thermal thread is running and has not been told to stop.
    bool thermalThreadRunning() const;
    // Thermal threads alive right now, and the most ever alive at once.
    int liveThermalThreads() const { return liveThermalThreads_.load(); }
    int peakThermalThreads() const { return peakThermalThreads_.load(); }

private:
    friend std::uint32_t thermalThreadMain(LedController& controller, std::uint64_t generation);

    void setModeLocked(std::int32_t requested);
    void applyModeLocked();
    void stopThermalThreadLocked();
    void startThermalThreadLocked();

    std::atomic<std::uint32_t> color_{0};
    std::atomic<std::int32_t> mode_{0};
    settings::LightingSettings& settings_;
    board::BiosItemRegistry& items_;
    std::unique_ptr<board::EcLedPort> ecPort_;
    std::unique_ptr<MusicEffect> musicEffect_;
    std::unique_ptr<os::Event> thermalStopEvent_; // null when it could not be created
    const std::chrono::milliseconds thermalPeriod_;

    // Automation calls and power events arrive on several threads; mode changes and
    // the thermal thread's start and stop must not interleave.
    mutable std::mutex mutex_;
    std::thread thermalThread_;
    bool thermalStarted_ = false; // started and not yet told to stop
    // The current thread's generation and whether it has left its loop; threads left
    // behind in a stuck call see a newer generation and end without a word.
    mutable std::mutex threadMutex_;
    std::condition_variable threadEnded_;
    std::atomic<std::uint64_t> thermalGeneration_{0};
    bool thermalEnded_ = true;
    bool suspended_ = false;
    // shutDown's: the thread that stops the effects, and whether it is done.
    std::atomic<bool> shutDown_{false};
    std::mutex shutdownMutex_;
    std::condition_variable shutdownEnded_;
    bool shutdownDone_ = false;
    std::thread stopper_;
    std::atomic<int> liveThermalThreads_{0};
    std::atomic<int> peakThermalThreads_{0};
};

} // namespace service
