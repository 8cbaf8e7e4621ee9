#pragma once

// Power events taken from the window procedure and handled one after the other on a
// thread of their own. Handling a resume makes firmware calls that pump messages on
// the window's thread, and the system sends resumes in pairs: handled in the window
// procedure, the second would run inside the first. Here the window procedure only
// queues, so no event's work ever starts inside another's, and none is lost the way
// a posted message is lost to a nested loop that has no window to give it to.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace service {

class PowerEventQueue {
public:
    // `handle` runs on the queue's thread for every event, in the order posted;
    // `begin`, when given, runs there first (the thread's apartment, for instance).
    explicit PowerEventQueue(std::function<void(std::uint32_t event)> handle,
                             std::function<void()> begin = {});
    // Handles what is still queued, then ends the thread.
    ~PowerEventQueue();
    PowerEventQueue(const PowerEventQueue&) = delete;
    PowerEventQueue& operator=(const PowerEventQueue&) = delete;

    // Returns at once, from any thread, the handler's own included.
    void post(std::uint32_t event);

private:
    void run();

    std::function<void(std::uint32_t)> handle_;
    std::function<void()> begin_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::uint32_t> events_;
    bool ending_ = false;
    std::thread thread_;
};

} // namespace service
