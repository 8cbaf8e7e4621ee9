#include "board/global_lock.h"

#include "os/firmware_tables.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace board {
namespace {

constexpr std::uint32_t kFacpSignature = 0x50434146; // "FACP"
constexpr std::uint32_t kFadtBufferSize = 65535;
constexpr std::uint32_t kBiosArea = 0xF0000;
constexpr std::uint32_t kBiosAreaLength = 0x10000;
constexpr std::uint32_t kHeaderLength = 36;
constexpr std::uint32_t kRsdtMapLength = 1060; // header and up to 256 entries
constexpr std::uint32_t kMaxRsdtEntries = 256;
constexpr std::uint32_t kFacsMapLength = 24;
constexpr std::uint32_t kLockWordOffset = 16;
constexpr std::uint32_t kPending = 1;
constexpr std::uint32_t kOwned = 2;

// Each cache is written once with the value every thread would find; atomics keep
// concurrent first uses from tearing.
std::atomic<std::uint32_t> cachedRsdt{0};
std::atomic<std::uint32_t> cachedFacs{0};
std::atomic<std::uint16_t> cachedPm1aEvent{0};
std::atomic<std::uint16_t> cachedPm1aControl{0};

std::uint32_t read32(const std::uint8_t* p) {
    std::uint32_t value;
    std::memcpy(&value, p, 4);
    return value;
}

// A physical view through MapPhysToLin, released when it goes.
class PhysicalView {
public:
    PhysicalView(const HwIOFunctions& io, std::uint32_t address, std::uint32_t length) : io_(io) {
        if (io.mapPhysToLin)
            view_ = static_cast<std::uint8_t*>(io.mapPhysToLin(address, length, &handle_, &token_));
    }
    ~PhysicalView() {
        if (view_ && io_.unmapPhysicalMemory)
            io_.unmapPhysicalMemory(handle_, view_, token_);
    }
    PhysicalView(const PhysicalView&) = delete;
    PhysicalView& operator=(const PhysicalView&) = delete;

    std::uint8_t* data() const { return view_; }
    explicit operator bool() const { return view_ != nullptr; }

private:
    const HwIOFunctions& io_;
    std::uint8_t* view_ = nullptr;
    void* handle_ = nullptr;
    std::uint64_t token_ = 0;
};

std::uint32_t findTable(const HwIOFunctions& io, std::uint32_t signature) {
    if (cachedRsdt.load(std::memory_order_relaxed) == 0) {
        PhysicalView bios(io, kBiosArea, kBiosAreaLength);
        if (!bios)
            return 0;
        // The RSDT address sits 16 bytes after the signature; a signature so close
        // to the end of the area that the address would lie outside it is no RSDP.
        const std::uint8_t* area = bios.data();
        for (std::uint32_t offset = 0; offset + 20 <= kBiosAreaLength; ++offset) {
            // The first byte alone rules out almost every offset of the byte-wise
            // scan, without a call per byte.
            if (area[offset] == 'R' && std::memcmp(area + offset, "RSD PTR", 7) == 0) {
                cachedRsdt.store(read32(area + offset + 16), std::memory_order_relaxed);
                break;
            }
        }
        if (cachedRsdt.load(std::memory_order_relaxed) == 0)
            return 0;
    }

    PhysicalView rsdt(io, cachedRsdt.load(std::memory_order_relaxed), kRsdtMapLength);
    if (!rsdt)
        return 0;
    std::uint32_t length = read32(rsdt.data() + 4);
    std::uint32_t entries =
        length < kHeaderLength ? 0 : std::min((length - kHeaderLength) / 4, kMaxRsdtEntries);
    for (std::uint32_t i = 0; i < entries; ++i) {
        std::uint32_t address = read32(rsdt.data() + kHeaderLength + 4 * i);
        PhysicalView header(io, address, kHeaderLength);
        if (!header)
            return 0;
        if (read32(header.data()) == signature)
            return address;
    }
    return 0;
}

int getTableImpl(const HwIOFunctions& io, std::uint32_t signature, void* buffer,
                 std::uint32_t size) {
    if (os::firmwareTableService()) {
        // A table larger than the buffer is reported with its size but not copied:
        // that is no copy.
        std::uint32_t copied =
            os::getSystemFirmwareTable(os::kFirmwareProviderAcpi, signature, buffer, size);
        return copied != 0 && copied <= size ? 1 : 0;
    }
    std::uint32_t address = findTable(io, signature);
    if (address == 0)
        return 0;
    // The header first: mapping a fixed 64 KiB would run past the end of memory for
    // a table near it, and the table's own length is all that is copied anyway.
    std::uint32_t length = 0;
    {
        PhysicalView header(io, address, kHeaderLength);
        if (!header)
            return 0;
        length = std::min(read32(header.data() + 4), size);
    }
    PhysicalView table(io, address, length);
    if (!table)
        return 0;
    std::memcpy(buffer, table.data(), length);
    return 1;
}

// Reads the FADT and passes it to use(); false when there is none.
template <typename Use>
bool withFadt(const HwIOFunctions& io, Use use) {
    std::vector<std::uint8_t> fadt(kFadtBufferSize, 0);
    if (!getTableImpl(io, kFacpSignature, fadt.data(), kFadtBufferSize))
        return false;
    use(fadt.data());
    return true;
}

std::uint16_t pm1aPort(const HwIOFunctions& io, std::atomic<std::uint16_t>& cache,
                       std::uint32_t offset) {
    if (cache.load(std::memory_order_relaxed) == 0)
        withFadt(io, [&](const std::uint8_t* fadt) {
            cache.store(std::uint16_t(read32(fadt + offset) & 0xFFFF), std::memory_order_relaxed);
        });
    return cache.load(std::memory_order_relaxed);
}

enum class FacsLookup { Found, NoTables, NoFacs };

FacsLookup facs(const HwIOFunctions& io, std::uint32_t& address) {
    address = cachedFacs.load(std::memory_order_relaxed);
    if (address != 0)
        return FacsLookup::Found;
    bool haveFadt = withFadt(io, [&](const std::uint8_t* fadt) {
        cachedFacs.store(read32(fadt + 36), std::memory_order_relaxed);
    });
    if (!haveFadt)
        return FacsLookup::NoTables;
    address = cachedFacs.load(std::memory_order_relaxed);
    return address != 0 ? FacsLookup::Found : FacsLookup::NoFacs;
}

// The lock word is shared with the firmware (and other processes): only locked
// compare-and-exchange on the mapped memory touches it.
std::atomic_ref<std::uint32_t> lockWord(std::uint8_t* facsView) {
    return std::atomic_ref<std::uint32_t>(
        *reinterpret_cast<std::uint32_t*>(facsView + kLockWordOffset));
}

bool aligned(const std::uint8_t* facsView) {
    return reinterpret_cast<std::uintptr_t>(facsView + kLockWordOffset) %
               std::atomic_ref<std::uint32_t>::required_alignment ==
           0;
}

const HwIOFunctions& processBinding() {
    static const HwIOFunctions none{};
    return hwIOLibrary().isLoaded() ? hwIOLibrary().functions() : none;
}

} // namespace

namespace acpi {

std::uint16_t pm1aEventBlock() {
    return pm1aPort(processBinding(), cachedPm1aEvent, 56);
}
std::uint16_t pm1aControlBlock() {
    return pm1aPort(processBinding(), cachedPm1aControl, 64);
}

std::uint32_t facsAddress() {
    std::uint32_t address = 0;
    facs(processBinding(), address);
    return address;
}

std::uint32_t findTableAddress(const HwIOFunctions& io, std::uint32_t signature) {
    return findTable(io, signature);
}

int getTable(const HwIOFunctions& io, std::uint32_t signature, void* buffer, std::uint32_t size) {
    return getTableImpl(io, signature, buffer, size);
}

void forgetCachedTables() {
    cachedRsdt.store(0);
    cachedFacs.store(0);
    cachedPm1aEvent.store(0);
    cachedPm1aControl.store(0);
}

GlobalLockResult tryAcquire(const HwIOFunctions& io, std::uint32_t attempts) {
    using Status = GlobalLockResult::Status;
    if (!io.mapPhysToLin)
        return {Status::NoLibrary, 0};
    pm1aPort(io, cachedPm1aControl, 64); // primes the tables; the port itself is not needed
    std::uint32_t address = 0;
    switch (facs(io, address)) {
    case FacsLookup::NoTables:
        return {Status::NoTables, 0};
    case FacsLookup::NoFacs:
        return {Status::NoFacs, 0};
    case FacsLookup::Found:
        break;
    }
    PhysicalView view(io, address, kFacsMapLength);
    if (!view || !aligned(view.data()))
        return {Status::MappingFailed, 0};

    auto word = lockWord(view.data());
    std::uint32_t expected = word.load();
    for (std::uint32_t made = 1;; ++made) {
        std::uint32_t desired = (expected & kOwned) ? (kOwned | kPending) : kOwned;
        std::uint32_t old = expected;
        word.compare_exchange_strong(old, desired); // old becomes the value found
        if (old == expected && !(old & kOwned))
            return {Status::Obtained, made};
        if (attempts != 0 && made >= attempts)
            return {Status::NotObtained, made};
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        expected = old;
    }
}

void release(const HwIOFunctions& io) {
    if (!io.mapPhysToLin)
        return;
    std::uint32_t address = 0;
    if (facs(io, address) != FacsLookup::Found)
        return;
    PhysicalView view(io, address, kFacsMapLength);
    if (!view || !aligned(view.data()))
        return;

    auto word = lockWord(view.data());
    std::uint32_t old = word.load();
    while (!word.compare_exchange_weak(old, old & ~(kOwned | kPending))) {
    }
    if (!(old & kPending))
        return;

    // The firmware asked to be told: set GBL_EN, clear GBL_STS (written as one), and
    // the chipset's own bit.
    std::uint16_t event = pm1aPort(io, cachedPm1aEvent, 56);
    // No event block in the FADT (a hardware-reduced system, or one that fills only
    // the extended field): ports 0, 2 and 0x30 belong to the DMA controller, and the
    // firmware has no other way to be told here.
    if (event == 0)
        return;
    auto orPort = [&](std::uint32_t port, std::uint32_t bits) {
        std::uint32_t value = io.inPortB ? io.inPortB(port) & 0xFF : 0;
        if (io.outPortB)
            io.outPortB(port, (value | bits) & 0xFF);
    };
    orPort(event + 2u, 0x20);
    orPort(event, 0x20);
    orPort(event + 0x30u, 0x80);
}

} // namespace acpi

int GetAcpiTable(std::uint32_t signature, void* buffer, std::uint32_t size) {
    return getTableImpl(processBinding(), signature, buffer, size);
}

std::uint32_t FindAcpiTableAddress(std::uint32_t signature) {
    return findTable(processBinding(), signature);
}

GlobalLockResult TryAcquireGlobalLock(std::uint32_t attempts) {
    return acpi::tryAcquire(processBinding(), attempts);
}

void ReleaseGlobalLock() {
    acpi::release(processBinding());
}

} // namespace board
