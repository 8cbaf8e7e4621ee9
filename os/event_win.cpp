#include "os/event.h"
#include "os/text_win.h"

#include <stdexcept>
#include <windows.h>

namespace os {

struct Event::Impl {
    HANDLE handle;
};

Event::Event(Reset reset, bool initiallySet, std::string name) : name_(std::move(name)) {
    std::wstring wide = widen(name_);
    HANDLE handle = CreateEventW(nullptr, reset == Reset::Manual, initiallySet,
                                 name_.empty() ? nullptr : wide.c_str());
    if (!handle)
        throw std::runtime_error("CreateEventW failed for '" + name_ + "'");
    impl_.reset(new Impl{handle});
}

Event::~Event() {
    CloseHandle(impl_->handle);
}

void Event::set() {
    SetEvent(impl_->handle);
}

void Event::reset() {
    ResetEvent(impl_->handle);
}

Event::WaitResult Event::wait(std::uint32_t milliseconds) {
    switch (WaitForSingleObject(impl_->handle, milliseconds)) {
    case WAIT_OBJECT_0:
        return WaitResult::Signalled;
    case WAIT_TIMEOUT:
        return WaitResult::TimedOut;
    default: // WAIT_FAILED, or WAIT_ABANDONED had the handle become a mutex's
        return WaitResult::Failed;
    }
}

void* Event::nativeHandle() const {
    return impl_->handle;
}

} // namespace os
