#include "board/global_lock.h"
#include "os/firmware_tables.h"
#include "test_environment.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using board::GlobalLockResult;
using Status = GlobalLockResult::Status;

// Physical memory and ports of a small in-process machine, behind the I/O library's
// function pointers.
struct Machine {
    std::map<std::uint32_t, std::vector<std::uint8_t>> regions; // start -> bytes
    std::map<std::uint32_t, std::uint8_t> ports;
    std::vector<std::pair<char, std::uint32_t>> portLog; // ('r'|'w', port)
    std::vector<std::uint8_t> written;
    int liveViews = 0;
    std::mutex mutex;

    std::uint8_t* at(std::uint32_t address, std::uint32_t length) {
        for (auto& [start, bytes] : regions)
            if (address >= start && std::uint64_t(address) + length <= start + bytes.size())
                return bytes.data() + (address - start);
        return nullptr;
    }
    void put32(std::uint32_t address, std::uint32_t value) {
        std::memcpy(at(address, 4), &value, 4);
    }
    std::uint32_t lockWord(std::uint32_t facs) {
        return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(at(facs + 16, 4)))
            .load();
    }
    void setLockWord(std::uint32_t facs, std::uint32_t value) {
        std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(at(facs + 16, 4)))
            .store(value);
    }
};

Machine* machine = nullptr;

void* LUMIVANE_HWIO_CALL mapPhysToLin(std::uint32_t address, std::uint32_t length, void** handle,
                                      std::uint64_t* token) {
    std::lock_guard lock(machine->mutex);
    std::uint8_t* view = machine->at(address, length);
    if (view) {
        ++machine->liveViews;
        *handle = reinterpret_cast<void*>(0x1234);
        *token = address;
    }
    return view;
}
void LUMIVANE_HWIO_CALL unmapPhysicalMemory(void* handle, void*, std::uint64_t) {
    std::lock_guard lock(machine->mutex);
    EXPECT_EQ(handle, reinterpret_cast<void*>(0x1234));
    --machine->liveViews;
}
std::uint32_t LUMIVANE_HWIO_CALL inPortB(std::uint32_t port) {
    std::lock_guard lock(machine->mutex);
    machine->portLog.emplace_back('r', port);
    auto it = machine->ports.find(port);
    return it == machine->ports.end() ? 0xFF : it->second;
}
void LUMIVANE_HWIO_CALL outPortB(std::uint32_t port, std::uint32_t value) {
    std::lock_guard lock(machine->mutex);
    machine->portLog.emplace_back('w', port);
    machine->ports[port] = std::uint8_t(value);
    machine->written.push_back(std::uint8_t(value));
}

constexpr std::uint32_t kFacs = 0x000E8000;
constexpr std::uint32_t kFadt = 0x000E7000;
constexpr std::uint32_t kRsdt = 0x000E6000;
constexpr std::uint32_t kSsdt = 0x000E5000;
constexpr std::uint16_t kPm1aEvent = 0x0400;
constexpr std::uint16_t kPm1aControl = 0x0404;

std::vector<std::uint8_t> table(const char* signature, std::uint32_t length) {
    std::vector<std::uint8_t> bytes(length, 0);
    std::memcpy(bytes.data(), signature, 4);
    std::memcpy(bytes.data() + 4, &length, 4);
    return bytes;
}

// Only the low 16 bits of the event block's field name the port.
std::vector<std::uint8_t> fadtBytes(std::uint32_t event = 0xABCD0000u | kPm1aEvent) {
    std::vector<std::uint8_t> fadt = table("FACP", 244);
    std::uint32_t facs = kFacs, control = kPm1aControl;
    std::memcpy(fadt.data() + 36, &facs, 4);
    std::memcpy(fadt.data() + 56, &event, 4);
    std::memcpy(fadt.data() + 64, &control, 4);
    return fadt;
}

class GlobalLock : public ::testing::Test {
protected:
    void SetUp() override {
        machine = &m;
        board::acpi::forgetCachedTables();
        io.mapPhysToLin = &mapPhysToLin;
        io.unmapPhysicalMemory = &unmapPhysicalMemory;
        io.inPortB = &inPortB;
        io.outPortB = &outPortB;
        // The BIOS area and a little beyond 1 MiB, so a signature can sit at its very end.
        m.regions[0xE0000] = std::vector<std::uint8_t>(0x30000, 0);
    }
    void TearDown() override {
        EXPECT_EQ(m.liveViews, 0) << "every mapping is released";
        board::acpi::forgetCachedTables();
        machine = nullptr;
    }

    // The firmware-table service offers the FADT.
    void withTableService(std::vector<std::uint8_t> fadt = fadtBytes()) {
        auto dir = tables.path() / "acpi" / "tables";
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "FACP", std::ios::binary)
            .write(reinterpret_cast<const char*>(fadt.data()), std::streamsize(fadt.size()));
    }
    // No service: RSDP in the BIOS area, RSDT listing an SSDT and the FADT.
    void withScanTables(std::uint32_t rsdpOffset = 0x10) {
        std::memcpy(m.at(0xF0000 + rsdpOffset, 8), "RSD PTR ", 8);
        m.put32(0xF0000 + rsdpOffset + 16, kRsdt);
        auto rsdt = table("RSDT", 36 + 8);
        std::memcpy(m.at(kRsdt, rsdt.size()), rsdt.data(), rsdt.size());
        m.put32(kRsdt + 36, kSsdt);
        m.put32(kRsdt + 40, kFadt);
        auto ssdt = table("SSDT", 36);
        std::memcpy(m.at(kSsdt, 36), ssdt.data(), 36);
        auto fadt = fadtBytes();
        std::memcpy(m.at(kFadt, fadt.size()), fadt.data(), fadt.size());
    }

    Machine m;
    board::HwIOFunctions io;
    testing_support::TemporaryDirectory tables;
    testing_support::ScopedEnvironment redirect{"LUMIVANE_FIRMWARE_DIR", tables.path().string()};
};

} // namespace

TEST_F(GlobalLock, FreeLockIsTakenAtOnceAndReleasedWithoutPorts) {
    withTableService();
    GlobalLockResult result = board::acpi::tryAcquire(io, board::kGlobalLockAttempts);
    EXPECT_EQ(result.status, Status::Obtained);
    EXPECT_EQ(result.attempts, 1u);
    EXPECT_EQ(m.lockWord(kFacs), 2u);

    board::acpi::release(io);
    EXPECT_EQ(m.lockWord(kFacs), 0u);
    EXPECT_TRUE(m.portLog.empty());

    // The service reports a size larger than the buffer without copying: no table.
    std::vector<std::uint8_t> small(16, 0);
    EXPECT_EQ(board::acpi::getTable(io, os::firmwareTableId("FACP"), small.data(), 16), 0);
    EXPECT_EQ(small, std::vector<std::uint8_t>(16, 0));
}

TEST_F(GlobalLock, FirmwareOwnerGetsPendingAndIsWaitedFor) {
    withTableService();
    m.setLockWord(kFacs, 2);
    GlobalLockResult once = board::acpi::tryAcquire(io, 1);
    EXPECT_EQ(once.status, Status::NotObtained);
    EXPECT_EQ(once.attempts, 1u) << "a count of 1 makes exactly one attempt";
    EXPECT_EQ(m.lockWord(kFacs), 3u) << "the firmware is asked to signal its release";

    GlobalLockResult more = board::acpi::tryAcquire(io, 5);
    EXPECT_EQ(more.status, Status::NotObtained);
    EXPECT_EQ(more.attempts, 5u);
    EXPECT_EQ(m.lockWord(kFacs), 3u);

    // The firmware lets go a little later; an unlimited acquire then takes it with 2.
    std::atomic<bool> acquiring = false;
    std::thread firmware([&] {
        while (!acquiring)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        m.setLockWord(kFacs, 0);
    });
    acquiring = true;
    GlobalLockResult waited = board::acpi::tryAcquire(io, 0);
    firmware.join();
    EXPECT_EQ(waited.status, Status::Obtained);
    EXPECT_GT(waited.attempts, 1u);
    EXPECT_EQ(m.lockWord(kFacs), 2u);
}

TEST_F(GlobalLock, ReleaseSignalsAWaitingFirmwareThroughPm1a) {
    withTableService();
    m.ports[kPm1aEvent] = 0x01;
    m.ports[kPm1aEvent + 2] = 0x02;
    m.ports[kPm1aEvent + 0x30] = 0x04;
    ASSERT_TRUE(board::acpi::tryAcquire(io, 1).obtained());
    m.setLockWord(kFacs, 3); // the firmware wants it and set pending

    board::acpi::release(io);
    EXPECT_EQ(m.lockWord(kFacs), 0u);
    std::vector<std::pair<char, std::uint32_t>> expected{
        {'r', kPm1aEvent + 2u}, {'w', kPm1aEvent + 2u},    {'r', kPm1aEvent},
        {'w', kPm1aEvent},      {'r', kPm1aEvent + 0x30u}, {'w', kPm1aEvent + 0x30u}};
    EXPECT_EQ(m.portLog, expected);
    EXPECT_EQ(m.written, (std::vector<std::uint8_t>{0x22, 0x21, 0x84}));
}

TEST_F(GlobalLock, WithoutAnEventBlockInTheFadtNoPortIsWritten) {
    withTableService(fadtBytes(0xABCD0000u));
    ASSERT_TRUE(board::acpi::tryAcquire(io, 1).obtained());
    m.setLockWord(kFacs, 3);
    board::acpi::release(io);
    EXPECT_EQ(m.lockWord(kFacs), 0u);
    EXPECT_TRUE(m.portLog.empty());
}

TEST_F(GlobalLock, TablesFoundByScanningForTheRsdp) {
    withScanTables();
    EXPECT_EQ(board::acpi::tryAcquire(io, 1).status, Status::Obtained);
    board::acpi::release(io);

    EXPECT_EQ(m.lockWord(kFacs), 0u);

    EXPECT_EQ(board::acpi::findTableAddress(io, os::firmwareTableId("FACP")), kFadt);
    EXPECT_EQ(board::acpi::findTableAddress(io, os::firmwareTableId("SSDT")), kSsdt);
    EXPECT_EQ(board::acpi::findTableAddress(io, os::firmwareTableId("APIC")), 0u);

    // Only the table's own length is copied, however large the buffer.
    std::vector<std::uint8_t> buffer(65535, 0xEE);
    ASSERT_EQ(board::acpi::getTable(io, os::firmwareTableId("FACP"), buffer.data(), 65535), 1);
    EXPECT_EQ(std::memcmp(buffer.data(), fadtBytes().data(), 244), 0);
    EXPECT_EQ(buffer[244], 0xEE);
    std::vector<std::uint8_t> small(16, 0);
    ASSERT_EQ(board::acpi::getTable(io, os::firmwareTableId("FACP"), small.data(), 16), 1);
    EXPECT_EQ(std::memcmp(small.data(), "FACP", 4), 0);
}

TEST_F(GlobalLock, NothingHappensWithoutTables) {
    // No table service (empty directory) and no "RSD PTR" in the BIOS area.
    m.setLockWord(kFacs, 2);
    EXPECT_EQ(board::acpi::tryAcquire(io, 3).status, Status::NoTables);
    board::acpi::release(io);
    EXPECT_EQ(m.lockWord(kFacs), 2u) << "the firmware's ownership is untouched";
    EXPECT_TRUE(m.portLog.empty());

    // An RSDP signature so close to the end of the area that its RSDT address would
    // lie beyond it is not one.
    withScanTables(0xFFF9);
    std::memset(m.at(0xF0010, 8), 0, 8);
    EXPECT_EQ(board::acpi::tryAcquire(io, 1).status, Status::NoTables);

    // And without the mapping function there is nothing to do at all.
    board::HwIOFunctions none;
    EXPECT_EQ(board::acpi::tryAcquire(none, 1).status, Status::NoLibrary);
}

TEST_F(GlobalLock, FadtWithoutFacsOrUnmappableFacs) {
    withScanTables();
    m.put32(kFadt + 36, 0);
    EXPECT_EQ(board::acpi::tryAcquire(io, 1).status, Status::NoFacs);

    board::acpi::forgetCachedTables();
    m.put32(kFadt + 36, 0x7FFF0000); // outside every region
    EXPECT_EQ(board::acpi::tryAcquire(io, 1).status, Status::MappingFailed);
}

TEST_F(GlobalLock, ThreadsNeverHoldItTogether) {
    withTableService();
    std::atomic<int> inside = 0, overlaps = 0, taken = 0;
    auto worker = [&] {
        for (int i = 0; i < 200; ++i) {
            GlobalLockResult r = board::acpi::tryAcquire(io, 0);
            if (!r.obtained())
                continue;
            ++taken;
            if (++inside > 1)
                ++overlaps;
            --inside;
            board::acpi::release(io);
        }
    };
    std::thread a(worker), b(worker);
    a.join();
    b.join();
    EXPECT_EQ(overlaps, 0);
    EXPECT_EQ(taken, 400);
    EXPECT_EQ(m.lockWord(kFacs), 0u);
}
