// The ACPI tables the global lock rests on (RSDP, RSDT, FADT, FACS), from fuzzed
// physical memory or from the firmware-table service: table lookup and copy stay
// inside every view and buffer, every view is released, and the only port writes
// are the three PM1a signals, at the ports the FADT names.
//
// Input: u8 flags (bit 0: the table service offers the first chunk as the FADT;
// bit 1: the firmware waits for the lock once it is taken), u32 signature looked
// up, u16 copy size, then chunks of physical memory: u32 address, u16 length, bytes.
// Chunks inside the BIOS area are written into it; others are regions of their own.

#include "board/global_lock.h"
#include "fuzz_input.h"
#include "os/firmware_tables.h"
#include "test_environment.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

namespace {

constexpr std::uint32_t kBiosArea = 0xF0000;
constexpr std::uint32_t kBiosAreaLength = 0x10000;
constexpr std::uint32_t kFacsViewLength = 24;

struct Region {
    std::uint32_t base;
    std::uint32_t size;
    std::unique_ptr<std::uint8_t[]> bytes;
};

struct Machine {
    std::vector<Region> regions;
    int liveViews = 0;
    bool firmwareWaits = false;
    int facsViews = 0;
    std::vector<std::uint32_t> portsWritten;
    std::vector<std::uint8_t> valuesWritten;
};

Machine* machine = nullptr;

void* LUMIVANE_HWIO_CALL mapPhysToLin(std::uint32_t address, std::uint32_t length, void** handle,
                                      std::uint64_t* token) {
    for (Region& r : machine->regions) {
        if (address < r.base || std::uint64_t(address) + length > std::uint64_t(r.base) + r.size)
            continue;
        std::uint8_t* view = r.bytes.get() + (address - r.base);
        ++machine->liveViews;
        *handle = view;
        *token = address;
        // The firmware asks for the lock while we hold it: its pending bit is there
        // when the release maps the FACS again.
        if (length == kFacsViewLength && machine->firmwareWaits && machine->facsViews++ == 1)
            view[16] |= 1;
        return view;
    }
    return nullptr;
}

void LUMIVANE_HWIO_CALL unmapPhysicalMemory(void* handle, void* view, std::uint64_t) {
    FUZZ_CHECK(handle == view);
    --machine->liveViews;
}

std::uint32_t LUMIVANE_HWIO_CALL inPortB(std::uint32_t) {
    return 0;
}

void LUMIVANE_HWIO_CALL outPortB(std::uint32_t port, std::uint32_t value) {
    machine->portsWritten.push_back(port);
    machine->valuesWritten.push_back(std::uint8_t(value));
}

const std::filesystem::path& firmwareDirectory() {
    static testing_support::TemporaryDirectory* directory = [] {
        auto* d = new testing_support::TemporaryDirectory;
        testing_support::setEnvironment("LUMIVANE_FIRMWARE_DIR", d->path().string());
        std::filesystem::create_directories(d->path() / "acpi" / "tables");
        return d;
    }();
    return directory->path();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path fadtFile = firmwareDirectory() / "acpi" / "tables" / "FACP";
    fuzzing::FuzzInput input(data, size);
    const std::uint8_t flags = input.u8();
    const std::uint32_t signature = input.u32();
    const std::uint32_t copySize = input.u16();

    // Nothing of the previous input's service may remain.
    std::filesystem::remove(fadtFile);
    Machine m;
    m.firmwareWaits = (flags & 2) != 0;
    m.regions.push_back(
        {kBiosArea, kBiosAreaLength, std::make_unique<std::uint8_t[]>(kBiosAreaLength)});
    bool first = true;
    while (!input.empty()) {
        const std::uint32_t address = input.u32();
        const std::vector<std::uint8_t> bytes = input.bytes(input.u16());
        if (first && (flags & 1)) {
            std::ofstream(fadtFile, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        } else if (address >= kBiosArea && address - kBiosArea < kBiosAreaLength) {
            const std::size_t n =
                std::min<std::size_t>(bytes.size(), kBiosArea + kBiosAreaLength - address);
            std::copy_n(bytes.begin(), n, m.regions[0].bytes.get() + (address - kBiosArea));
        } else if (!bytes.empty()) {
            Region r{address, std::uint32_t(bytes.size()),
                     std::make_unique<std::uint8_t[]>(bytes.size())};
            std::copy(bytes.begin(), bytes.end(), r.bytes.get());
            m.regions.push_back(std::move(r));
        }
        first = false;
    }

    machine = &m;
    board::acpi::forgetCachedTables();
    board::HwIOFunctions io;
    io.mapPhysToLin = &mapPhysToLin;
    io.unmapPhysicalMemory = &unmapPhysicalMemory;
    io.inPortB = &inPortB;
    io.outPortB = &outPortB;

    // Exactly the size asked for, so a copy past it is seen.
    auto buffer = std::make_unique<std::uint8_t[]>(copySize);
    (void)board::acpi::getTable(io, signature, buffer.get(), copySize);

    board::acpi::forgetCachedTables();
    const board::GlobalLockResult result = board::acpi::tryAcquire(io, 1);
    FUZZ_CHECK(result.attempts <= 1);
    FUZZ_CHECK(m.portsWritten.empty());
    // Only a holder releases, as ScopedGlobalLock does.
    if (result.obtained())
        board::acpi::release(io);

    FUZZ_CHECK(m.liveViews == 0);
    if (!m.portsWritten.empty()) {
        FUZZ_CHECK(result.obtained() && m.firmwareWaits);
        const std::uint32_t event = m.portsWritten[1];
        FUZZ_CHECK(event <= 0xFFFF);
        FUZZ_CHECK((m.portsWritten == std::vector<std::uint32_t>{event + 2, event, event + 0x30}));
        FUZZ_CHECK((m.valuesWritten == std::vector<std::uint8_t>{0x20, 0x20, 0x80}));
    }
    machine = nullptr;
    board::acpi::forgetCachedTables();
    return 0;
}
