#pragma once

// A stand-in I/O library for the board tests: it records every port access and
// mapping, serves status bytes from a script and views of a synthetic physical
// memory. Tests reach its state through the extra exports below. The state is
// plain data: the test program and the library may have different heaps.

#include <cstdint>

struct FakeHwioPortAccess {
    std::uint8_t write; // 1 write, 0 read
    std::uint16_t port;
    std::uint8_t value; // written, or returned
};

struct FakeHwioMapping {
    std::uint32_t address;
    std::uint32_t length;
    std::uint8_t granted;
};

struct FakeHwioState {
    std::uint32_t openCalls; // counted as the call begins
    std::uint32_t openResult;
    std::uint32_t openDelayMs; // how long HWIO_Open takes

    // Status bytes of port 0x6C, one per read; the last one repeats.
    std::uint8_t status[64];
    std::uint32_t statusCount;
    std::uint32_t statusReads;
    // Gives other threads a turn after every port write, so that writers interleave.
    std::uint32_t yieldAfterWrites;

    FakeHwioPortAccess accesses[65536];
    std::uint32_t accessCount;

    FakeHwioMapping mappings[64];
    std::uint32_t mappingCount;
    std::uint32_t unmapCount;
    std::uint32_t liveViews;
    std::uint32_t badUnmaps; // unknown views, or a second argument other than 0
};

using FakeHwioStateFn = FakeHwioState* (*)();
using FakeHwioResetFn = void (*)();
// Adds zero-filled memory at [base, base + size) and copies bytes into it.
using FakeHwioAddMemoryFn = void (*)(std::uint32_t base, std::uint32_t size);
using FakeHwioPokeFn = void (*)(std::uint32_t address, const std::uint8_t* bytes,
                                std::uint32_t length);

inline constexpr const char* kFakeHwioState = "fake_hwio_state";
inline constexpr const char* kFakeHwioReset = "fake_hwio_reset";
inline constexpr const char* kFakeHwioAddMemory = "fake_hwio_add_memory";
inline constexpr const char* kFakeHwioPoke = "fake_hwio_poke";
