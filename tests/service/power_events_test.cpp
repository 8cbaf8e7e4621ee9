#include "service/power_events.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

// A resume queued while another is being handled (as the system's second resume
// arrives inside the first's firmware calls) waits for it; nothing is lost, and the
// order is the order posted.
TEST(PowerEventQueue, HandlesEventsOneAtATimeInOrder) {
    std::mutex mutex;
    std::vector<std::uint32_t> handled;
    std::atomic<int> inside{0}, mostInside{0};
    std::thread::id worker, caller = std::this_thread::get_id();
    {
        service::PowerEventQueue* self = nullptr;
        service::PowerEventQueue queue(
            [&](std::uint32_t event) {
                const int now = ++inside;
                mostInside = std::max(mostInside.load(), now);
                if (event == 18)
                    self->post(7); // re-entered from within a handler
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                std::lock_guard lock(mutex);
                handled.push_back(event);
                --inside;
            },
            [&] { worker = std::this_thread::get_id(); });
        self = &queue;
        queue.post(4);
        queue.post(18);
        queue.post(18);
    } // the destructor handles everything still queued

    EXPECT_EQ(handled, (std::vector<std::uint32_t>{4, 18, 18, 7, 7}));
    EXPECT_EQ(mostInside.load(), 1);
    EXPECT_NE(worker, caller);
}
