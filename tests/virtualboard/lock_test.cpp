// The FACS global lock word in the board image: plain shared memory on which a
// locked compare-and-exchange is atomic across processes, and the firmware's side
// of the lock with its pending handshake.

#include "board_fixture.h"
#include "hwio_binding.h"
#include "run_program.h"

#include <thread>

namespace {

using virtualboard::TraceKind;

constexpr std::uint32_t kPending = 1, kOwned = 2;

class GlobalLock : public vbtest::BoardTest {
protected:
    std::atomic_ref<std::uint32_t> lockWord() {
        void* handle = nullptr;
        std::uint64_t token = 0;
        auto* facs = static_cast<std::uint8_t*>(
            hwio.mapPhysToLin(board->facts().facsAddress, 24, &handle, &token));
        EXPECT_NE(facs, nullptr);
        return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(facs + 16));
    }

    // One attempt as the service makes it; true when the lock was taken.
    static bool attempt(std::atomic_ref<std::uint32_t> lock, std::uint32_t& expected) {
        std::uint32_t wanted = (expected & kOwned) ? (kOwned | kPending) : kOwned;
        std::uint32_t old = expected;
        lock.compare_exchange_strong(old, wanted);
        bool taken = old == expected && !(old & kOwned);
        expected = old == expected ? wanted : old;
        return taken;
    }

    vbtest::HwioBinding hwio{virtualboard::hwioSystemName()};
};

TEST_F(GlobalLock, TwoProcessesNeverOwnItTogether) {
    createBoard();
    const unsigned long iterations = 3000;
    const std::filesystem::path contender = vbtest::binaryDirectory() / LUMIVANE_LOCK_CONTENDER;
    const std::string facs = std::to_string(board->facts().facsAddress);
    int results[2] = {-1, -1};
    std::thread first([&] {
        results[0] = vbtest::runProgram(contender, {facs, std::to_string(iterations)});
    });
    std::thread second([&] {
        results[1] = vbtest::runProgram(contender, {facs, std::to_string(iterations)});
    });
    first.join();
    second.join();
    ASSERT_EQ(results[0], 0);
    ASSERT_EQ(results[1], 0);

    auto* scratch = static_cast<std::uint32_t*>(hwio.mapMem(0xFDAE0800, 16));
    ASSERT_NE(scratch, nullptr);
    EXPECT_EQ(scratch[1], 2 * iterations) << "holds lost to a concurrent holder";
    EXPECT_EQ(scratch[2], 0u) << "times two processes held the lock at once";
    EXPECT_EQ(board->readout().globalLockWord(), 0u);
    RecordProperty("contendedAttempts", int(scratch[3]));
}

TEST_F(GlobalLock, FirmwareHoldEndsWithThePendingHandshake) {
    virtualboard::BoardOptions options;
    options.firmwareLockMs = 100;
    createBoard(options);
    ASSERT_NE(hwio.open(0), 0u); // also starts the firmware's part in this process
    auto lock = lockWord();

    std::uint32_t expected = lock.load();
    EXPECT_EQ(expected, kOwned);
    EXPECT_FALSE(attempt(lock, expected));
    EXPECT_EQ(lock.load(), kOwned | kPending) << "the first attempt asks for the lock";
    while (!attempt(lock, expected))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(lock.load(), kOwned);

    const auto event = board->facts().pm1aEventPort;
    EXPECT_EQ(board->readout().pm1().status & 0x20, 0x20) << "GBL_STS raised for the waiter";
    auto counters = board->readout().counters();
    EXPECT_EQ(counters.firmwareLockReleases, 1u);
    EXPECT_EQ(counters.firmwareLockSignals, 1u);
    std::vector<int> firmwareSteps;
    for (const auto& entry : board->readout().trace())
        if (entry.kind == TraceKind::FirmwareLock)
            firmwareSteps.push_back(entry.value);
    EXPECT_EQ(firmwareSteps, (std::vector<int>{1, 0, 2}));

    // Now the firmware wants the lock while the system holds it: it sets pending,
    // and the system's release clears both bits and answers on the PM1 ports.
    std::thread firmware([&] { board->firmwareLock().take(0); });
    while (lock.load() != (kOwned | kPending))
        std::this_thread::yield();
    std::uint32_t old = lock.load();
    while (!lock.compare_exchange_weak(old, old & ~(kOwned | kPending))) {
    }
    ASSERT_TRUE(old & kPending);
    hwio.outPortB(event + 2, hwio.inPortB(event + 2) | 0x20);
    hwio.outPortB(event, hwio.inPortB(event) | 0x20);
    hwio.outPortB(event + 0x30, hwio.inPortB(event + 0x30) | 0x80);
    firmware.join();

    auto pm1 = board->readout().pm1();
    EXPECT_EQ(pm1.status & 0x20, 0) << "GBL_STS is write-one-to-clear";
    EXPECT_EQ(pm1.enable & 0x20, 0x20);
    EXPECT_EQ(pm1.chipset, 0x80);
    EXPECT_EQ(lock.load(), kOwned) << "the firmware owns it now";
    EXPECT_TRUE(board->firmwareLock().active());
}

} // namespace
