#pragma once

// What keeps the COM host alive: one count for every object that lives and every
// LockServer(TRUE) not yet taken back. The host decides what an idle module means:
// a local server ends its process, a service goes on.

#include <atomic>
#include <functional>
#include <mutex>

namespace service {

class ComModule {
public:
    static ComModule& instance();

    // Safe from any thread (COM calls in on several). Both return the new count.
    long lock();
    // An unmatched unlock takes nothing away.
    long unlock();
    long count() const { return count_.load(); }

    // Runs on the thread whose unlock brought the count to zero.
    void setIdleHandler(std::function<void()> handler);

private:
    std::atomic<long> count_{0};
    std::mutex handlerMutex_;
    std::function<void()> idle_;
};

} // namespace service
