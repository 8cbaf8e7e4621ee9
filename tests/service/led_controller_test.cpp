#include "led_controller_fixture.h"

#include <random>
#include <stdexcept>
#include <vector>

using namespace led_testing;
using service::LedController;

namespace {

void storeMode(const std::filesystem::path& file, std::int32_t mode) {
    settings::LightingSettings(file).setMode(mode);
}

bool softwareControlWritten(SharedBridge& bridge) {
    for (const auto& w : bridge.writes())
        if (w == std::vector<std::uint32_t>{board::kLightingControlItem, 1, 3})
            return true;
    return false;
}

} // namespace

TEST_F(ControllerTest, ModesStartAndStopTheRightEffectsAndPersist) {
    auto controller = makeController();
    EXPECT_EQ(controller->getMode(), 0);
    EXPECT_FALSE(controller->musicEffect().running());
    EXPECT_FALSE(controller->thermalThreadRunning());

    controller->setMode(1);
    EXPECT_EQ(controller->getMode(), 1);
    EXPECT_EQ(storedMode(), 1);
    EXPECT_TRUE(controller->musicEffect().running());
    EXPECT_FALSE(controller->thermalThreadRunning());

    controller->setMode(2);
    EXPECT_EQ(storedMode(), 2);
    EXPECT_FALSE(controller->musicEffect().running());
    EXPECT_TRUE(controller->thermalThreadRunning());
    controller->setMode(2);
    EXPECT_TRUE(eventually([&] { return controller->liveThermalThreads() == 1; }));
    EXPECT_EQ(controller->peakThermalThreads(), 1);

    controller->setMode(1);
    EXPECT_TRUE(controller->musicEffect().running());
    EXPECT_TRUE(eventually([&] { return controller->liveThermalThreads() == 0; }));
    controller->setMode(1); // already running: still running, the stop signalled again
    EXPECT_TRUE(controller->musicEffect().running());

    for (std::int32_t odd : {5, -1, 3, 0x7FFFFFFF}) {
        controller->setMode(2);
        controller->setMode(odd);
        EXPECT_EQ(controller->getMode(), 0) << odd;
        EXPECT_EQ(storedMode(), 0) << odd;
        EXPECT_FALSE(controller->musicEffect().running()) << odd;
        EXPECT_FALSE(controller->thermalThreadRunning()) << odd;
        EXPECT_TRUE(eventually([&] { return controller->liveThermalThreads() == 0; })) << odd;
    }
    EXPECT_EQ(controller->peakThermalThreads(), 1);
}

TEST_F(ControllerTest, AStoredSoftwareEffectStartsAtOnceAndTakesTheLeds) {
    storeMode(settingsFile(), 2);
    {
        auto controller = makeController();
        EXPECT_EQ(controller->getMode(), 2);
        EXPECT_TRUE(controller->thermalThreadRunning());
        EXPECT_TRUE(softwareControlWritten(bridge));
    }
    settings.reset();
    storeMode(settingsFile(), 0);
    bridge.setValue(board::kLightingControlItem, 0);
    auto controller = makeController();
    EXPECT_FALSE(controller->thermalThreadRunning());
    EXPECT_EQ(bridge.writes().size(), 1u) << "mode 0 must leave the LEDs to the firmware";
}

TEST_F(ControllerTest, AnUnknownStoredModeIsKeptAndRunsNothing) {
    storeMode(settingsFile(), 7);
    auto controller = makeController();
    EXPECT_EQ(controller->getMode(), 7);
    EXPECT_FALSE(controller->musicEffect().running());
    EXPECT_FALSE(controller->thermalThreadRunning());
    EXPECT_FALSE(softwareControlWritten(bridge));
    EXPECT_EQ(storedMode(), 7); // not rewritten until a client sets a mode
    controller->setMode(7);
    EXPECT_EQ(controller->getMode(), 0);
}

TEST_F(ControllerTest, TheColorIsOnlyKept) {
    auto controller = makeController();
    virtualboard::Board& board = sharedBoard();
    const auto before = board.readout().counters().ecTransactions;
    EXPECT_EQ(controller->getColor(), 0u);
    controller->setColor(0xFFFFFFFF);
    EXPECT_EQ(controller->getColor(), 0xFFFFFFFFu);
    EXPECT_EQ(board.readout().counters().ecTransactions, before);
    EXPECT_EQ(storedMode(), 0);
    EXPECT_EQ(makeController()->getColor(), 0u);
}

TEST_F(ControllerTest, SuspendStopsTheEffectsAndTheFirstResumeRestartsThemWhenLit) {
    auto controller = makeController();
    bridge.setValue(board::kLightingEnableItem, 1);

    // Mode 0: nothing to stop, nothing to restart.
    controller->handlePowerBroadcast(LedController::kPowerSuspend);
    controller->handlePowerBroadcast(LedController::kPowerResumeAutomatic);
    EXPECT_FALSE(controller->musicEffect().running());
    EXPECT_FALSE(controller->thermalThreadRunning());
    EXPECT_TRUE(bridge.writes().empty());

    // Mode 2, lighting on: back on resume, still stored.
    controller->setMode(2);
    controller->handlePowerBroadcast(LedController::kPowerSuspend);
    EXPECT_FALSE(controller->thermalThreadRunning());
    EXPECT_TRUE(eventually([&] { return controller->liveThermalThreads() == 0; }));
    EXPECT_EQ(controller->getMode(), 2);
    controller->handlePowerBroadcast(123); // not an event the controller acts on
    controller->handlePowerBroadcast(LedController::kPowerResumeSuspend);
    EXPECT_TRUE(controller->thermalThreadRunning());
    EXPECT_EQ(storedMode(), 2);
    EXPECT_TRUE(softwareControlWritten(bridge));

    // Only the first resume after a suspend acts.
    controller->setMode(1);
    controller->handlePowerBroadcast(LedController::kPowerSuspend);
    EXPECT_FALSE(controller->musicEffect().running());
    controller->handlePowerBroadcast(LedController::kPowerResumeCritical);
    EXPECT_TRUE(controller->musicEffect().running());
    controller->stopMusicEffect();
    controller->handlePowerBroadcast(LedController::kPowerResumeAutomatic);
    EXPECT_FALSE(controller->musicEffect().running());

    // Lighting off, or unreadable: the effect stays stopped and the mode stays.
    for (bool unreadable : {false, true}) {
        if (unreadable)
            bridge.removeValue(board::kLightingEnableItem);
        else
            bridge.setValue(board::kLightingEnableItem, 0);
        controller->setMode(1);
        controller->handlePowerBroadcast(LedController::kPowerSuspend);
        controller->handlePowerBroadcast(LedController::kPowerResumeSuspend);
        EXPECT_FALSE(controller->musicEffect().running()) << unreadable;
        EXPECT_EQ(controller->getMode(), 1) << unreadable;
    }

    // A resume without a suspend before it does nothing.
    bridge.setValue(board::kLightingEnableItem, 1);
    controller->handlePowerBroadcast(LedController::kPowerResumeSuspend);
    EXPECT_FALSE(controller->musicEffect().running());
}

TEST_F(ControllerTest, AResumeArrivingInsideTheFirstResumesBridgeCallFindsNothingToDo) {
    auto controller = makeController();
    bridge.setValue(board::kLightingEnableItem, 1);
    controller->setMode(2);
    controller->handlePowerBroadcast(LedController::kPowerSuspend);
    int reentered = 0;
    bridge.beforeRead = [&](std::uint32_t id) {
        if (id == board::kLightingEnableItem && reentered++ == 0)
            controller->handlePowerBroadcast(LedController::kPowerResumeAutomatic);
    };
    controller->handlePowerBroadcast(LedController::kPowerResumeSuspend);
    bridge.beforeRead = nullptr;
    EXPECT_EQ(reentered, 1);
    EXPECT_TRUE(controller->thermalThreadRunning());
    EXPECT_EQ(controller->peakThermalThreads(), 1);
}

TEST_F(ControllerTest, AThermalThreadStuckInAFirmwareCallWedgesNoModeChange) {
    auto controller = makeController();
    std::atomic<bool> stuck{false}, release{false};
    bridge.beforeRead = [&](std::uint32_t id) {
        if (id != board::kCpuTemperatureItem)
            return;
        stuck = true;
        while (!release)
            std::this_thread::sleep_for(1ms);
    };
    controller->setMode(2);
    ASSERT_TRUE(eventually([&] { return stuck.load(); }));
    // Each restart lets the stuck thread go instead of waiting for it.
    for (std::int32_t mode : {0, 2, 0, 2, 0})
        controller->setMode(mode);
    EXPECT_EQ(controller->getMode(), 0);
    EXPECT_EQ(storedMode(), 0);

    // Back from their calls, the threads left behind end without writing the LEDs.
    const auto writes = sharedBoard().readout().counters().ecTransactions;
    release = true;
    EXPECT_TRUE(eventually([&] { return controller->liveThermalThreads() == 0; }));
    EXPECT_EQ(sharedBoard().readout().counters().ecTransactions, writes);
    bridge.beforeRead = nullptr;
}

TEST_F(ControllerTest, ShutDownWaitsForTheEffectsBoundedAndStartsNothingAfter) {
    auto controller = makeController();
    controller->setMode(2);
    ASSERT_TRUE(eventually([&] { return controller->liveThermalThreads() == 1; }));
    EXPECT_TRUE(controller->shutDown(1s));
    EXPECT_EQ(controller->liveThermalThreads(), 0) << "ended before shutDown returned";
    controller->setMode(1);
    controller->handlePowerBroadcast(LedController::kPowerSuspend);
    controller->handlePowerBroadcast(LedController::kPowerResumeAutomatic);
    EXPECT_FALSE(controller->musicEffect().running());
    EXPECT_FALSE(controller->thermalThreadRunning());
    EXPECT_EQ(storedMode(), 1) << "the mode is still stored";

    // A thread stuck in a firmware call: the wait gives up at its bound.
    auto stuckController = makeController();
    std::atomic<bool> stuck{false}, release{false};
    bridge.beforeRead = [&](std::uint32_t id) {
        if (id != board::kCpuTemperatureItem)
            return;
        stuck = true;
        while (!release)
            std::this_thread::sleep_for(1ms);
    };
    stuckController->setMode(2);
    ASSERT_TRUE(eventually([&] { return stuck.load(); }));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(stuckController->shutDown(200ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    release = true;
    EXPECT_TRUE(eventually([&] { return stuckController->liveThermalThreads() == 0; }));
    bridge.beforeRead = nullptr;
}

TEST_F(ControllerTest, QuickModeChangesNeverLeaveTwoThermalThreads) {
    // A long period: an old thread that missed its stop would still be waiting.
    auto controller = makeController(10s);
    for (int i = 0; i < 50; ++i) {
        controller->setMode(2);
        controller->setMode(i % 2 ? 0 : 1);
        controller->setMode(2);
        EXPECT_LE(controller->liveThermalThreads(), 1);
    }
    EXPECT_EQ(controller->peakThermalThreads(), 1);
    EXPECT_TRUE(controller->thermalThreadRunning());
}

TEST_F(ControllerTest, ConcurrentClientsLeaveOneOfEachEffectAndTheLastModeStored) {
    auto controller = makeController(5ms);
    std::atomic<bool> go{false};
    std::vector<std::thread> clients;
    for (int t = 0; t < 6; ++t)
        clients.emplace_back([&, t] {
            std::mt19937 random(t);
            std::uniform_int_distribution<int> mode(-1, 3);
            while (!go)
                std::this_thread::yield();
            for (int i = 0; i < 60; ++i) {
                controller->setMode(mode(random));
                controller->setColor(std::uint32_t(i));
                (void)controller->getMode();
            }
        });
    go = true;
    for (auto& c : clients)
        c.join();
    controller->setMode(2);
    EXPECT_EQ(controller->peakThermalThreads(), 1);
    EXPECT_EQ(controller->musicEffect().effect().threadRunning(), false);
    EXPECT_EQ(storedMode(), 2);
    controller->setMode(1);
    EXPECT_EQ(storedMode(), 1);
    EXPECT_TRUE(eventually([&] { return controller->liveThermalThreads() == 0; }));
}

TEST_F(ControllerTest, WithoutTheStopEventNoThermalThreadRunsAndTheModeStays) {
    auto controller = makeController(
        kPeriod, []() -> std::unique_ptr<os::Event> { throw std::runtime_error("no event"); });
    controller->setMode(2);
    EXPECT_EQ(controller->getMode(), 2);
    EXPECT_EQ(storedMode(), 2);
    EXPECT_FALSE(controller->thermalThreadRunning());
    EXPECT_EQ(controller->peakThermalThreads(), 0);
    bool logged = false;
    for (const os::Diagnostic& d : diagnostics.all())
        logged |=
            d.kind == os::Diagnostic::Kind::Event && d.text.find("no event") != std::string::npos;
    EXPECT_TRUE(logged);
    controller->setMode(1); // the other effects still work
    EXPECT_TRUE(controller->musicEffect().running());
}
