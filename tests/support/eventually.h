#pragma once

// Waits for something another thread or process brings about, polling briefly, up
// to a limit: false when it never came.

#include <chrono>
#include <thread>

namespace testing_support {

template <typename Condition>
bool eventually(Condition condition,
                std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace testing_support
