#include "os/event.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using os::Event;
using Result = os::Event::WaitResult;

TEST(Event, AutomaticResetReleasesOneWaitPerSet) {
    Event event(Event::Reset::Automatic);
    EXPECT_EQ(event.wait(0), Result::TimedOut);
    event.set();
    event.set(); // setting twice is still one signal
    EXPECT_EQ(event.wait(0), Result::Signalled);
    EXPECT_EQ(event.wait(10), Result::TimedOut);

    Event initially(Event::Reset::Automatic, true);
    EXPECT_EQ(initially.wait(0), Result::Signalled);
    EXPECT_EQ(initially.wait(0), Result::TimedOut);
}

TEST(Event, ManualResetStaysSetUntilReset) {
    Event event(Event::Reset::Manual);
    event.set();
    EXPECT_EQ(event.wait(0), Result::Signalled);
    EXPECT_EQ(event.wait(0), Result::Signalled);
    event.reset();
    EXPECT_EQ(event.wait(10), Result::TimedOut);
}

TEST(Event, InfiniteWaitsAreWokenFromOtherThreads) {
    Event event(Event::Reset::Manual);
    std::atomic<int> woken = 0;
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (event.wait(Event::kInfinite) == Result::Signalled)
                ++woken;
        });
    event.set();
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(woken, 3);

    // An automatic event hands each set to exactly one of its waiters.
    Event handOff(Event::Reset::Automatic);
    std::atomic<int> taken = 0;
    std::vector<std::thread> takers;
    for (int i = 0; i < 2; ++i)
        takers.emplace_back([&] {
            if (handOff.wait(Event::kInfinite) == Result::Signalled)
                ++taken;
        });
    handOff.set();
    while (taken < 1)
        std::this_thread::yield();
    EXPECT_EQ(handOff.wait(0), Result::TimedOut);
    handOff.set();
    for (auto& t : takers)
        t.join();
    EXPECT_EQ(taken, 2);
}

TEST(Event, KeepsItsName) {
    Event named(Event::Reset::Automatic, false, "LumivaneTestEvent");
    EXPECT_EQ(named.name(), "LumivaneTestEvent");
#ifdef _WIN32
    // On Windows the name is the system's: a second event of that name is the same one.
    Event same(Event::Reset::Automatic, false, "LumivaneTestEvent");
    same.set();
    EXPECT_EQ(named.wait(0), Result::Signalled);
    EXPECT_NE(named.nativeHandle(), nullptr);
#else
    EXPECT_EQ(named.nativeHandle(), nullptr);
#endif
}

#ifdef _WIN32
#include <windows.h>

TEST(Event, AWaitThatCannotBeMadeIsAFailureNotATimeOut) {
    Event event(Event::Reset::Automatic);
    // A handle swapped for one that is gone, as a wait on a closed handle finds it.
    HANDLE duplicate = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event.nativeHandle(), GetCurrentProcess(),
                                &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS));
    ASSERT_TRUE(CloseHandle(event.nativeHandle()));
    EXPECT_EQ(event.wait(10), Result::Failed);
    // The destructor closes the value it holds: the system hands the freed value out
    // again to the next handle made, so it closes this duplicate (or, if not, no handle).
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), duplicate, GetCurrentProcess(), &duplicate, 0,
                                FALSE, DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE));
}
#endif
