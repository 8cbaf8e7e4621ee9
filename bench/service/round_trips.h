#pragma once

// Round trips to the lighting service: each call timed on its own, so the tail shows
// what a client waits for at worst, not only on average.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace bench_support {

struct RoundTrips {
    double medianUs = 0;
    double p99Us = 0;
};

template <typename Call>
RoundTrips timeRoundTrips(int count, Call call) {
    for (int i = 0; i < count / 10 + 1; ++i) // connections, caches and the first file write
        call(i);
    std::vector<double> micros;
    micros.reserve(count);
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        call(i);
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2],
            micros[std::min(micros.size() - 1, micros.size() * 99 / 100)]};
}

inline void printRoundTrips(const char* transport, const char* member, int count,
                            const RoundTrips& trips) {
    std::printf("%-8s %-10s %6d calls  median %8.1f us  p99 %8.1f us\n", transport, member, count,
                trips.medianUs, trips.p99Us);
}

} // namespace bench_support
