#pragma once

// What every fuzz target shares: a reader that takes typed values off the front of
// the input (running dry yields zeros, so every input is a valid one), and a check
// that aborts on a broken invariant whatever the build type, so that libFuzzer and
// the replay both report it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace fuzzing {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

    bool empty() const { return bytes_.empty(); }
    std::size_t remaining() const { return bytes_.size(); }

    std::uint8_t u8() { return std::uint8_t(take(1)); }
    std::uint16_t u16() { return std::uint16_t(take(2)); }
    std::uint32_t u32() { return std::uint32_t(take(4)); }
    bool flag() { return (u8() & 1) != 0; }

    // Up to n bytes (fewer when the input ends first).
    std::vector<std::uint8_t> bytes(std::size_t n) {
        n = std::min(n, bytes_.size());
        std::vector<std::uint8_t> out(bytes_.begin(), bytes_.begin() + std::ptrdiff_t(n));
        bytes_ = bytes_.subspan(n);
        return out;
    }
    std::vector<std::uint8_t> rest() { return bytes(bytes_.size()); }

private:
    // Little-endian, as every format fuzzed here is.
    std::uint64_t take(std::size_t n) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < n && i < bytes_.size(); ++i)
            value |= std::uint64_t(bytes_[i]) << (8 * i);
        bytes_ = bytes_.subspan(std::min(n, bytes_.size()));
        return value;
    }

    std::span<const std::uint8_t> bytes_;
};

} // namespace fuzzing
