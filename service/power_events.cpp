#include "service/power_events.h"

namespace service {

PowerEventQueue::PowerEventQueue(std::function<void(std::uint32_t)> handle,
                                 std::function<void()> begin)
    : handle_(std::move(handle)), begin_(std::move(begin)), thread_([this] { run(); }) {}

PowerEventQueue::~PowerEventQueue() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void PowerEventQueue::post(std::uint32_t event) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
    }
    wake_.notify_one();
}

void PowerEventQueue::run() {
    if (begin_)
        begin_();
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return ending_ || !events_.empty(); });
        if (events_.empty())
            return;
        const std::uint32_t event = events_.front();
        events_.pop_front();
        lock.unlock();
        handle_(event);
        lock.lock();
    }
}

} // namespace service
