#include "service/com_module_win.h"

namespace service {

ComModule& ComModule::instance() {
    // Objects may still be released during static teardown: never destroyed.
    static ComModule* const module = new ComModule;
    return *module;
}

long ComModule::lock() {
    return ++count_;
}

long ComModule::unlock() {
    long current = count_.load();
    do {
        if (current == 0)
            return 0;
    } while (!count_.compare_exchange_weak(current, current - 1));
    if (current != 1)
        return current - 1;
    std::function<void()> idle;
    {
        std::lock_guard lock(handlerMutex_);
        idle = idle_;
    }
    if (idle)
        idle();
    return 0;
}

void ComModule::setIdleHandler(std::function<void()> handler) {
    std::lock_guard lock(handlerMutex_);
    idle_ = std::move(handler);
}

} // namespace service
