#pragma once

// The vendor's port-I/O and physical-memory library. It lies outside the system: we
// load it at run time and look its functions up by name, relying only on the calls
// of hwio_abi.h. Two bindings exist side by side: the LED registers keep their own three
// functions of the library loaded by bare name (ec_registers.h); everything else
// goes through the full binding of the system directory's copy kept here.

#include "board/hwio_abi.h"
#include "os/library.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

namespace board {

namespace hwio {

// File names of the two bindings on this platform.
std::string ledLibraryName();    // loaded through the system's library search
std::string systemLibraryFile(); // looked for in os::systemLibraryDirectory()

} // namespace hwio

// The eleven entry points of the full binding, in the order they are looked up. A
// missing export leaves its pointer empty.
struct HwIOFunctions {
    hwio::OpenFn open = nullptr;
    hwio::UncalledFn readMsr = nullptr;
    hwio::UncalledFn writeMsr = nullptr;
    hwio::InPortBFn inPortB = nullptr;
    hwio::OutPortBFn outPortB = nullptr;
    hwio::InPortDFn inPortD = nullptr;
    hwio::OutPortDFn outPortD = nullptr;
    hwio::MapPhysToLinFn mapPhysToLin = nullptr;
    hwio::UnmapPhysicalMemoryFn unmapPhysicalMemory = nullptr;
    hwio::MapMemFn mapMem = nullptr;
    hwio::UnmapMemFn unmapMem = nullptr;
};

// The full binding: one library file, loaded once, opened once, never unloaded.
class HwIOLibrary {
public:
    using Locator = std::function<std::filesystem::path()>;

    explicit HwIOLibrary(std::filesystem::path path);
    // Asks where the file is on every load attempt until one succeeds.
    explicit HwIOLibrary(Locator locate);
    HwIOLibrary(const HwIOLibrary&) = delete;
    HwIOLibrary& operator=(const HwIOLibrary&) = delete;

    // True when the library is (or already was) loaded and, on the call that loaded
    // it, HWIO_Open(0) succeeded. A failed load is tried again on the next call; a
    // loaded library whose open failed is kept and not opened again.
    bool load();
    bool isLoaded() const { return loaded_.load(std::memory_order_acquire); }

    // Only meaningful once isLoaded(): the pointers are written before it turns true
    // and never change afterwards, so any thread may read them without a lock.
    const HwIOFunctions& functions() const { return functions_; }
    const os::Library& module() const { return module_; }
    // The file of the latest load attempt.
    std::filesystem::path path() const;

    // A readable view of physical memory through HWIO_MapMem; none when the library
    // is not loaded or lacks the export.
    void* mapMemory(std::uint32_t address, std::uint32_t length) const;
    void unmapMemory(void* view) const;

private:
    Locator locate_;
    mutable std::mutex loadMutex_;
    std::filesystem::path path_;
    std::atomic<bool> loaded_{false};
    os::Library module_;
    HwIOFunctions functions_;
};

// The process-wide full binding: the system directory's copy of the library.
HwIOLibrary& hwIOLibrary();
std::filesystem::path systemHwIOLibraryPath();

// Loads the process-wide full binding (see HwIOLibrary::load).
bool LoadHwIOLibrary();

} // namespace board
