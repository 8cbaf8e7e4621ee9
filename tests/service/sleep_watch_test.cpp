// Sleep and resume from a stand-in login manager, through the service's watch.

#include "fake_logind.h"
#include "service/sleep_watch_linux.h"

#include <atomic>
#include <gmock/gmock.h>
#include <system_error>

namespace {

using namespace service_testing;
using service::SleepWatch;
using testing_support::eventually;

TEST(SleepWatch, HoldsTheLockThroughTheSuspendWorkAndTakesItAgainAfterResume) {
    LogindBus system;
    ASSERT_TRUE(system.running());
    FakeLogind& logind = *system.logind;

    std::mutex mutex;
    std::vector<std::uint32_t> events;
    std::vector<bool> heldDuringWork;
    auto connection = sdbus::createSystemBusConnection();
    SleepWatch watch(*connection, [&](std::uint32_t event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
        heldDuringWork.push_back(logind.locksTaken() > 0 && logind.held(logind.locksTaken() - 1));
    });
    connection->enterEventLoopAsync();
    ASSERT_EQ(logind.locksTaken(), 1);
    EXPECT_THAT(logind.lastRequest(),
                ::testing::ElementsAre("sleep", "Lumivane", ::testing::_, "delay"));

    logind.announceSleep(true);
    ASSERT_TRUE(eventually([&] { return !logind.held(0); }));
    logind.announceSleep(false);
    ASSERT_TRUE(eventually([&] { return logind.locksTaken() == 2; }));
    EXPECT_TRUE(logind.held(1));
    connection->leaveEventLoop();

    std::lock_guard lock(mutex);
    EXPECT_THAT(events, ::testing::ElementsAre(SleepWatch::kSuspend, SleepWatch::kResume));
    // The machine waited for the suspend work: the lock was let go only after it.
    EXPECT_THAT(heldDuringWork, ::testing::ElementsAre(true, false));
}

TEST(SleepWatch, AThrowingHandlerStillLetsTheMachineSleepAndTheWatchGoesOn) {
    LogindBus system;
    ASSERT_TRUE(system.running());
    FakeLogind& logind = *system.logind;
    auto connection = sdbus::createSystemBusConnection();
    std::atomic<int> calls{0};
    SleepWatch watch(*connection, [&](std::uint32_t) {
        ++calls;
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    connection->enterEventLoopAsync();
    logind.announceSleep(true);
    EXPECT_TRUE(eventually([&] { return !logind.held(0); }));
    logind.announceSleep(false);
    EXPECT_TRUE(eventually([&] { return logind.locksTaken() == 2; }));
    connection->leaveEventLoop();
    EXPECT_EQ(calls.load(), 2);
}

TEST(SleepWatch, WithoutALoginManagerTheWatchCannotStart) {
    testing_support::PrivateBus empty; // a bus, but nobody owns the login manager's name
    ASSERT_TRUE(empty.running());
    testing_support::ScopedEnvironment system("DBUS_SYSTEM_BUS_ADDRESS", empty.address());
    auto connection = sdbus::createSystemBusConnection();
    EXPECT_THROW(SleepWatch(*connection, [](std::uint32_t) {}), sdbus::Error);
}

} // namespace
