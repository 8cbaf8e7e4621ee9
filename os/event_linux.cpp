#include "os/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace os {

struct Event::Impl {
    Reset reset;
    bool set;
    std::mutex mutex;
    std::condition_variable changed;
};

Event::Event(Reset reset, bool initiallySet, std::string name)
    : name_(std::move(name)), impl_(new Impl{reset, initiallySet, {}, {}}) {}

Event::~Event() = default;

void Event::set() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->set = true;
    }
    if (impl_->reset == Reset::Manual)
        impl_->changed.notify_all();
    else
        impl_->changed.notify_one();
}

void Event::reset() {
    std::lock_guard lock(impl_->mutex);
    impl_->set = false;
}

Event::WaitResult Event::wait(std::uint32_t milliseconds) {
    std::unique_lock lock(impl_->mutex);
    auto isSet = [this] {
        return impl_->set;
    };
    if (milliseconds == kInfinite) {
        impl_->changed.wait(lock, isSet);
    } else if (!impl_->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), isSet)) {
        return WaitResult::TimedOut;
    }
    if (impl_->reset == Reset::Automatic)
        impl_->set = false;
    return WaitResult::Signalled;
}

void* Event::nativeHandle() const {
    return nullptr;
}

} // namespace os
