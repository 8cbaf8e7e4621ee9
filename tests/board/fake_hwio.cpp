#include "fake_hwio.h"

#include "board/hwio_abi.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#ifdef _WIN32
#define FAKE_EXPORT extern "C" __declspec(dllexport)
#else
#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

struct Region {
    std::uint32_t base;
    std::vector<std::uint8_t> bytes;
};

std::mutex mutex;
FakeHwioState state;
std::vector<Region> memory;
std::vector<void*> views;

[[maybe_unused]] void record(bool write, std::uint32_t port, std::uint32_t value) {
    if (state.accessCount < std::size(state.accesses))
        state.accesses[state.accessCount++] = {std::uint8_t(write), std::uint16_t(port),
                                               std::uint8_t(value)};
}

Region* regionHolding(std::uint64_t address, std::uint64_t length) {
    for (Region& region : memory)
        if (address >= region.base && address + length <= region.base + region.bytes.size())
            return &region;
    return nullptr;
}

void resetLocked() {
    std::memset(&state, 0, sizeof state);
    state.openResult = 1;
    memory.clear();
    views.clear();
}

struct Init {
    Init() { resetLocked(); }
} init;

} // namespace

FAKE_EXPORT FakeHwioState* fake_hwio_state() {
    return &state;
}

FAKE_EXPORT void fake_hwio_reset() {
    std::lock_guard lock(mutex);
    resetLocked();
}

FAKE_EXPORT void fake_hwio_add_memory(std::uint32_t base, std::uint32_t size) {
    std::lock_guard lock(mutex);
    memory.push_back({base, std::vector<std::uint8_t>(size, 0)});
}

FAKE_EXPORT void fake_hwio_poke(std::uint32_t address, const std::uint8_t* bytes,
                                std::uint32_t length) {
    std::lock_guard lock(mutex);
    if (Region* region = regionHolding(address, length))
        std::memcpy(region->bytes.data() + (address - region->base), bytes, length);
}

#ifndef FAKE_HWIO_WITHOUT_OPEN
FAKE_EXPORT std::uint32_t LUMIVANE_HWIO_CALL HWIO_Open(std::uint32_t) {
    std::uint32_t delay = 0, result = 0;
    {
        std::lock_guard lock(mutex);
        ++state.openCalls;
        delay = state.openDelayMs;
        result = state.openResult;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    return result;
}
#endif

#ifndef FAKE_HWIO_WITHOUT_PORTS
FAKE_EXPORT std::uint32_t LUMIVANE_HWIO_CALL HWIO_InPortB(std::uint32_t port) {
    std::lock_guard lock(mutex);
    std::uint8_t value = 0xFF;
    if (port == 0x6C) {
        std::uint32_t reads = state.statusReads++;
        if (state.statusCount == 0)
            value = 0;
        else
            value = state.status[reads < state.statusCount ? reads : state.statusCount - 1];
    }
    record(false, port, value);
    // Garbage above the byte: callers must look at the low 8 bits only.
    return 0xABCD0000u | value;
}

FAKE_EXPORT void LUMIVANE_HWIO_CALL HWIO_OutPortB(std::uint32_t port, std::uint32_t value) {
    {
        std::lock_guard lock(mutex);
        record(true, port, value);
    }
    if (state.yieldAfterWrites)
        std::this_thread::yield();
}
#endif

FAKE_EXPORT std::uint32_t LUMIVANE_HWIO_CALL HWIO_InPortD(std::uint32_t) {
    return 0xFFFFFFFFu;
}
FAKE_EXPORT void LUMIVANE_HWIO_CALL HWIO_OutPortD(std::uint32_t, std::uint32_t) {}
FAKE_EXPORT std::uint32_t LUMIVANE_HWIO_CALL HWIO_ReadMSR(std::uint32_t, std::uint64_t*) {
    return 0;
}
FAKE_EXPORT std::uint32_t LUMIVANE_HWIO_CALL HWIO_WriteMSR(std::uint32_t, std::uint64_t) {
    return 0;
}

FAKE_EXPORT void* LUMIVANE_HWIO_CALL HWIO_MapMem(std::uint32_t address, std::uint32_t length) {
    std::lock_guard lock(mutex);
    Region* region = regionHolding(address, length);
    if (state.mappingCount < std::size(state.mappings))
        state.mappings[state.mappingCount++] = {address, length, std::uint8_t(region != nullptr)};
    if (!region)
        return nullptr;
    ++state.liveViews;
    void* view = region->bytes.data() + (address - region->base);
    views.push_back(view);
    return view;
}

FAKE_EXPORT void LUMIVANE_HWIO_CALL HWIO_UnmapMem(void* view, std::uint32_t zero) {
    std::lock_guard lock(mutex);
    ++state.unmapCount;
    for (auto it = views.begin(); it != views.end(); ++it) {
        if (*it == view) {
            views.erase(it);
            --state.liveViews;
            if (zero != 0)
                ++state.badUnmaps;
            return;
        }
    }
    ++state.badUnmaps;
}

FAKE_EXPORT void* LUMIVANE_HWIO_CALL MapPhysToLin(std::uint32_t address, std::uint32_t length,
                                                  void** handle, std::uint64_t* token) {
    std::lock_guard lock(mutex);
    Region* region = regionHolding(address, length);
    if (!region)
        return nullptr;
    *handle = region;
    *token = address;
    return region->bytes.data() + (address - region->base);
}

FAKE_EXPORT void LUMIVANE_HWIO_CALL UnmapPhysicalMemory(void*, void*, std::uint64_t) {}
