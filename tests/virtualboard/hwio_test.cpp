// The HwIO stand-in, driven only through its exports as the system drives it.

#include "board_fixture.h"
#include "hwio_binding.h"

#include <gmock/gmock.h>
#include <thread>
#include <utility>
#include <vector>

namespace {

using virtualboard::BusyMode;
using virtualboard::LedColor;
using virtualboard::TraceEntry;
using virtualboard::TraceKind;
using PortWrite = std::pair<std::uint16_t, std::uint8_t>;

class HwioStandIn : public vbtest::BoardTest {
protected:
    void SetUp() override {
        createBoard();
        ASSERT_TRUE(hwio.library.isLoaded()) << virtualboard::hwioBareName();
        ASSERT_NE(hwio.open(0), 0u);
    }

    std::vector<PortWrite> portWrites() const {
        std::vector<PortWrite> writes;
        for (const TraceEntry& entry : board->readout().trace())
            if (entry.kind == TraceKind::PortWrite)
                writes.emplace_back(entry.port, entry.value);
        return writes;
    }

    // (bank, register, value) of every register write, in order.
    std::vector<std::tuple<int, int, int>> registerWrites() const {
        std::vector<std::tuple<int, int, int>> writes;
        for (const TraceEntry& entry : board->readout().trace())
            if (entry.kind == TraceKind::RegisterWrite)
                writes.emplace_back(entry.bank, entry.reg, entry.value);
        return writes;
    }

    vbtest::HwioBinding hwio;
};

std::vector<PortWrite> expectedPortWrites(const std::vector<std::pair<int, int>>& pairs) {
    std::vector<PortWrite> writes;
    for (auto [address, value] : pairs) {
        writes.emplace_back(0x6C, 0x81);
        writes.emplace_back(0x68, std::uint8_t(address));
        writes.emplace_back(0x68, std::uint8_t(value));
    }
    return writes;
}

TEST_F(HwioStandIn, ColorWriteSetsRegistersAndLeavesTheTransactionTrace) {
    hwio.writeColor(0x12, 0x34, 0x56, false);

    EXPECT_EQ(board->readout().ledColor(), (LedColor{0x12, 0x34, 0x56}));
    EXPECT_EQ(
        portWrites(),
        expectedPortWrites(
            {{0xFF, 0x00}, {0x53, 0x12}, {0xFF, 0x00}, {0x5D, 0x34}, {0xFF, 0x00}, {0x5B, 0x56}}));
    auto counters = board->readout().counters();
    EXPECT_EQ(counters.ecTransactions, 6u);
    EXPECT_EQ(counters.ecProtocolErrors, 0u);
    EXPECT_EQ(counters.ecStatusReads, 36u); // six wait steps per transaction, one read each
    EXPECT_EQ(hwio.sleeps, 0u);

    // The music path: same pairs, blue first; register changes keep their old values.
    board->knobs().clearTrace();
    hwio.writeColor(0x21, 0x43, 0x65, true);
    EXPECT_EQ(registerWrites(), (std::vector<std::tuple<int, int, int>>{{0, 0xFF, 0},
                                                                        {0, 0x5B, 0x65},
                                                                        {0, 0xFF, 0},
                                                                        {0, 0x5D, 0x43},
                                                                        {0, 0xFF, 0},
                                                                        {0, 0x53, 0x21}}));
    std::vector<TraceEntry> trace = board->readout().trace();
    auto blue = std::find_if(trace.begin(), trace.end(), [](const TraceEntry& e) {
        return e.kind == TraceKind::RegisterWrite && e.reg == 0x5B;
    });
    ASSERT_NE(blue, trace.end());
    EXPECT_EQ(blue->oldValue, 0x56);
    for (std::size_t i = 1; i < trace.size(); ++i) {
        EXPECT_EQ(trace[i].sequence, trace[i - 1].sequence + 1);
        EXPECT_GE(trace[i].timeNs, trace[i - 1].timeNs);
    }
}

TEST_F(HwioStandIn, BanksSeparateRegistersAndTheRingKeepsTheNewest) {
    hwio.ecWriteBanked(3, 0x53, 0x99);
    EXPECT_EQ(board->readout().ecRegister(3, 0x53), 0x99);
    EXPECT_EQ(board->readout().ledColor().red, 0) << "bank 0 holds the LED colour";
    EXPECT_EQ(board->readout().ec().bank, 3);

    const std::uint64_t writes = virtualboard::layout::kTraceCapacity + 100;
    for (std::uint64_t i = 0; i < writes; ++i)
        hwio.outPortB(0x80, std::uint8_t(i));
    std::vector<TraceEntry> trace = board->readout().trace();
    ASSERT_EQ(trace.size(), virtualboard::layout::kTraceCapacity);
    EXPECT_EQ(trace.back().value, std::uint8_t(writes - 1));
    EXPECT_EQ(trace.back().sequence - trace.front().sequence, trace.size() - 1);
}

TEST_F(HwioStandIn, ConcurrentWritersKeepTheImageConsistent) {
    // Threads of one process through two copies of the library, all at once.
    vbtest::HwioBinding system(virtualboard::hwioSystemName());
    ASSERT_TRUE(system.library.isLoaded());
    constexpr int kThreads = 4, kWrites = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            vbtest::HwioBinding& binding = t % 2 ? system : hwio;
            for (int i = 0; i < kWrites; ++i) {
                binding.outPortB(0x90 + t, std::uint8_t(i));
                binding.inPortB(0x6C);
            }
        });
    for (std::thread& thread : threads)
        thread.join();

    auto counters = board->readout().counters();
    EXPECT_EQ(counters.portWrites, std::uint64_t(kThreads * kWrites));
    EXPECT_EQ(counters.ecStatusReads, std::uint64_t(kThreads * kWrites));
    std::vector<TraceEntry> trace = board->readout().trace();
    ASSERT_EQ(trace.size(), std::size_t(kThreads * kWrites));
    std::vector<int> next(kThreads, 0);
    for (std::size_t i = 0; i < trace.size(); ++i) {
        EXPECT_EQ(trace[i].sequence, i + 1);
        int t = trace[i].port - 0x90;
        ASSERT_TRUE(t >= 0 && t < kThreads);
        // Each thread's writes appear whole and in its own order.
        EXPECT_EQ(trace[i].value, std::uint8_t(next[t]++));
    }
}

TEST_F(HwioStandIn, ProtocolErrorsAreCountedAndLeaveRegistersAlone) {
    hwio.outPortB(0x68, 0x53); // a data byte with no command
    EXPECT_EQ(board->readout().counters().ecProtocolErrors, 1u);
    EXPECT_EQ(board->readout().ledColor().red, 0);

    hwio.outPortB(0x6C, 0x81);
    hwio.outPortB(0x68, 0x53);
    hwio.outPortB(0x6C, 0x81); // abandons the first transaction
    hwio.outPortB(0x68, 0x5D);
    hwio.outPortB(0x68, 0x44);
    EXPECT_EQ(board->readout().counters().ecProtocolErrors, 2u);
    EXPECT_EQ(board->readout().counters().ecTransactions, 1u);
    EXPECT_EQ(board->readout().ledColor(), (LedColor{0, 0x44, 0}));

    hwio.outPortB(0x6C, 0x99); // no such command
    hwio.outPortB(0x68, 0x01);
    EXPECT_EQ(board->readout().counters().ecProtocolErrors, 4u);

    // A read transaction answers through the output buffer.
    hwio.outPortB(0x6C, 0x80);
    hwio.outPortB(0x68, 0x5D);
    EXPECT_EQ(hwio.inPortB(0x6C) & 0x01, 0x01u);
    EXPECT_EQ(hwio.inPortB(0x68), 0x44u);
    EXPECT_EQ(hwio.inPortB(0x6C) & 0x01, 0x00u);
    EXPECT_EQ(board->readout().counters().ecReadTransactions, 1u);
}

TEST_F(HwioStandIn, BusyModesShapeTheStatusReads) {
    board->knobs().setBusyMode(BusyMode::ForReads, 3);
    std::vector<std::uint32_t> statuses;
    for (int i = 0; i < 5; ++i)
        statuses.push_back(hwio.inPortB(0x6C));
    EXPECT_EQ(statuses, (std::vector<std::uint32_t>{0x02, 0x02, 0x02, 0x00, 0x00}));

    // Always busy: every wait step reads twice and sleeps once; the bytes still land.
    board->knobs().setBusyMode(BusyMode::Always);
    board->knobs().resetCounters();
    hwio.sleeps = 0;
    hwio.ecWrite(0x53, 0x7E);
    auto counters = board->readout().counters();
    EXPECT_EQ(hwio.sleeps, 6u);
    EXPECT_EQ(counters.ecStatusReads, 12u);
    EXPECT_EQ(counters.ecBusyStatusReads, 12u);
    EXPECT_EQ(counters.ecWritesWhileBusy, 3u);
    EXPECT_EQ(board->readout().ledColor().red, 0x7E);

    // Never busy: one read per wait step, no sleep.
    board->knobs().setBusyMode(BusyMode::Never);
    board->knobs().resetCounters();
    hwio.sleeps = 0;
    hwio.ecWrite(0x53, 0x01);
    EXPECT_EQ(hwio.sleeps, 0u);
    EXPECT_EQ(board->readout().counters().ecStatusReads, 6u);
    EXPECT_EQ(board->readout().counters().ecBusyStatusReads, 0u);
}

TEST_F(HwioStandIn, PortsWithoutADeviceFloatAndPm1PortsBehave) {
    EXPECT_EQ(hwio.inPortB(0x80), 0xFFu);
    EXPECT_EQ(hwio.inPortD(0x2000), 0xFFFFFFFFu);
    hwio.outPortB(0x80, 0x12);
    EXPECT_EQ(board->readout().counters().unclaimedPortWrites, 1u);

    const std::uint16_t event = board->facts().pm1aEventPort;
    const std::uint16_t control = board->facts().pm1aControlPort;
    hwio.outPortB(event + 2, 0x21);
    hwio.outPortB(event + 0x30, 0x80);
    hwio.outPortD(control, 0x0000ABCD); // two control bytes and two ports beyond
    EXPECT_EQ(hwio.inPortB(event + 2), 0x21u);
    EXPECT_EQ(hwio.inPortB(event + 0x30), 0x80u);
    EXPECT_EQ(board->readout().pm1().control, 0xABCD);
    hwio.outPortB(event, 0x20); // write-one-to-clear on a clear bit changes nothing
    EXPECT_EQ(hwio.inPortB(event), 0x00u);

    std::uint64_t value = 0;
    EXPECT_EQ(hwio.readMsr(0x19C, &value), 0u);
    EXPECT_NE(hwio.writeMsr(0x19C, 0x0000000088450000ull), 0u);
    EXPECT_NE(hwio.readMsr(0x19C, &value), 0u);
    EXPECT_EQ(value, 0x0000000088450000ull);
}

TEST_F(HwioStandIn, MappingsCoverTheEmulatedRegionsOnly) {
    EXPECT_NE(hwio.mapMem(0xF0000, 0xFFFE), nullptr);
    EXPECT_NE(hwio.mapMem(0xE0000, 0x1234 + board->facts().smbiosTableLength), nullptr);
    EXPECT_EQ(hwio.mapMem(0x00000000, 16), nullptr);
    EXPECT_EQ(hwio.mapMem(0xFDAEFFF0, 0x20), nullptr) << "straddles the window's end";
    EXPECT_EQ(hwio.mapMem(0xFDAE0000, 0), nullptr);

    auto* window = static_cast<std::uint8_t*>(hwio.mapMem(0xFDAE0000, 0xFFFF));
    ASSERT_NE(window, nullptr);
    auto& enable = *reinterpret_cast<std::uint32_t*>(window + 0x480);
    EXPECT_EQ(enable, board->readout().windowRegister(0x480));
    enable = (enable | 0x100) & ~0x200u;
    EXPECT_EQ(board->readout().windowRegister(0x480) & 0x300, 0x100u);

    // A second binding (another copy of the library) sees the same memory.
    vbtest::HwioBinding system(virtualboard::hwioSystemName());
    ASSERT_TRUE(system.library.isLoaded());
    void* handle = nullptr;
    std::uint64_t token = 0;
    auto* again = static_cast<std::uint8_t*>(system.mapPhysToLin(0xFDAE0480, 4, &handle, &token));
    ASSERT_NE(again, nullptr);
    EXPECT_NE(handle, nullptr);
    EXPECT_EQ(*reinterpret_cast<std::uint32_t*>(again), enable);
    system.unmapPhysicalMemory(handle, again, token);
    hwio.unmapMem(window, 0);

    auto counters = board->readout().counters();
    EXPECT_EQ(counters.maps, 4u);
    EXPECT_EQ(counters.failedMaps, 3u);
    EXPECT_EQ(counters.unmaps, 2u);
}

TEST_F(HwioStandIn, FailureModesChosenForTheBoard) {
    board->knobs().setOpenFails(true);
    EXPECT_EQ(hwio.open(0), 0u);
    board->knobs().setOpenFails(false);
    EXPECT_NE(hwio.open(0), 0u);
    EXPECT_EQ(board->readout().counters().opens, 3u);

    {
        testing_support::ScopedEnvironment none("VBOARD_IMAGE",
                                                (directory.path() / "absent.img").string());
        EXPECT_EQ(hwio.open(0), 0u);
        EXPECT_EQ(hwio.inPortB(0x6C), 0xFFu);
        EXPECT_EQ(hwio.mapMem(0xF0000, 0x100), nullptr);
        hwio.outPortB(0x6C, 0x81); // goes nowhere
    }
    EXPECT_EQ(board->readout().counters().portWrites, 0u);

    // Each variant lacks exactly its one export.
    for (const std::string& missing : virtualboard::hwioExportNames()) {
        os::Library variant = os::Library::open(virtualboard::hwioVariantName(missing));
        ASSERT_TRUE(variant.isLoaded()) << missing;
        for (const std::string& name : virtualboard::hwioExportNames())
            EXPECT_EQ(variant.symbol(name.c_str()) == nullptr, name == missing)
                << name << " in the variant without " << missing;
    }
}

TEST_F(HwioStandIn, InstalledLibrariesCarryTheChosenVariant) {
    std::filesystem::path target = directory.path() / "hwio";
    virtualboard::installHwio(vbtest::binaryDirectory(), target, "MapPhysToLin");
    os::Library system = os::Library::open((target / virtualboard::hwioSystemName()).string());
    ASSERT_TRUE(system.isLoaded());
    EXPECT_EQ(system.symbol("MapPhysToLin"), nullptr);
    EXPECT_NE(system.symbol("HWIO_MapMem"), nullptr);
    EXPECT_THROW(virtualboard::installHwio(directory.path(), target, ""), virtualboard::BoardError);
}

} // namespace
