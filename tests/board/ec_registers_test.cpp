#include "board/ec_registers.h"
#include "board_fixtures.h"
#include "os/diagnostics.h"
#include "test_environment.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using board_testing::besideTests;
using board_testing::FakeHwio;
using Writes = std::vector<std::pair<std::uint16_t, std::uint8_t>>;

namespace {

std::atomic<int> sleeps{0};
void countSleep() {
    ++sleeps;
}

// The port writes of one EC write transaction.
void transaction(Writes& out, std::uint8_t address, std::uint8_t value) {
    out.insert(out.end(), {{0x6C, 0x81}, {0x68, address}, {0x68, value}});
}

void bankedWrite(Writes& out, std::uint8_t reg, std::uint8_t value) {
    transaction(out, 0xFF, 0x00);
    transaction(out, reg, value);
}

class EcRegisters : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fake) << "fake I/O library not loadable";
        sleeps = 0;
        ports.setSleep(countSleep);
    }

    FakeHwio fake{besideTests(FAKE_HWIO_FILE)};
    board::EcPortBinding ports{besideTests(FAKE_HWIO_FILE).string()};
};

} // namespace

TEST_F(EcRegisters, ColorSequenceInBothEffectsOrders) {
    ASSERT_EQ(ports.loadHwio(), board::kHwioLoaded);
    ports.ecWriteBanked(0, board::kLedRedRegister, 0x12);
    ports.ecWriteBanked(0, board::kLedGreenRegister, 0x34);
    ports.ecWriteBanked(0, board::kLedBlueRegister, 0x56);
    Writes temperatureOrder;
    bankedWrite(temperatureOrder, 0x53, 0x12);
    bankedWrite(temperatureOrder, 0x5D, 0x34);
    bankedWrite(temperatureOrder, 0x5B, 0x56);
    EXPECT_EQ(fake.writes(), temperatureOrder);
    // An idle controller: one status read per wait step, six per transaction.
    EXPECT_EQ(fake.reads(0x6C), 36u);
    EXPECT_EQ(sleeps, 0);

    // Reads and writes interleave as read, command, 2 reads, address, 2 reads, value, read.
    const char* pattern = "RWRRWRRWR";
    for (std::uint32_t i = 0; i < 9; ++i)
        EXPECT_EQ(fake.state().accesses[i].write ? 'W' : 'R', pattern[i]) << i;

    fake.state().accessCount = 0;
    ports.ecWriteBanked(0, board::kLedBlueRegister, 0x56);
    ports.ecWriteBanked(0, board::kLedGreenRegister, 0x34);
    ports.ecWriteBanked(0, board::kLedRedRegister, 0x12);
    Writes musicOrder;
    bankedWrite(musicOrder, 0x5B, 0x56);
    bankedWrite(musicOrder, 0x5D, 0x34);
    bankedWrite(musicOrder, 0x53, 0x12);
    EXPECT_EQ(fake.writes(), musicOrder);
}

TEST_F(EcRegisters, WaitStepLooksTwiceAndSleepsAtMostOnce) {
    struct Case {
        board_testing::Bytes status;
        std::uint32_t reads;
        int sleeps;
    };
    // One bare transaction (six wait steps) per case.
    const Case cases[] = {
        {{0x02}, 12, 6},            // always busy: every step sleeps, nothing loops
        {{0x04}, 6, 0},             // bit 0x04 alone is not looked at first
        {{0x02, 0x00}, 7, 0},       // busy, then free on the second look
        {{0x02, 0x04, 0x00}, 7, 1}, // the second look sees bit 0x04: one pause
        {{0x03, 0x02, 0x00}, 7, 1},
    };
    for (const Case& c : cases) {
        fake.state().accessCount = 0;
        fake.setStatus(c.status);
        sleeps = 0;
        ports.ecWrite(0x53, 0x77);
        EXPECT_EQ(fake.reads(0x6C), c.reads) << int(c.status[0]);
        EXPECT_EQ(sleeps, c.sleeps) << int(c.status[0]);
        Writes expected;
        transaction(expected, 0x53, 0x77);
        EXPECT_EQ(fake.writes(), expected) << "a busy controller still gets every byte";
    }
}

TEST_F(EcRegisters, LoadResultsAndWhatWritesDoAfterThem) {
    EXPECT_FALSE(ports.isLoaded());
    ports.ecWrite(0x5B, 1); // loads on first use
    EXPECT_TRUE(ports.isLoaded());
    EXPECT_EQ(fake.state().openCalls, 1u);
    ports.ecWrite(0x5B, 2);
    EXPECT_EQ(fake.state().openCalls, 1u) << "a loaded binding is not opened again";

    board::EcPortBinding refused{besideTests(FAKE_HWIO_FILE).string()};
    fake.state().openResult = 0;
    EXPECT_EQ(refused.loadHwio(), board::kHwioOpenFailed);
    EXPECT_EQ(refused.loadHwio(), board::kHwioOpenFailed);
    fake.state().accessCount = 0;
    refused.ecWrite(0x5B, 3);
    EXPECT_EQ(fake.writes().size(), 3u) << "a refused open keeps the entry points in use";
    EXPECT_EQ(fake.state().openCalls, 2u);

    FakeHwio noOpen{besideTests(FAKE_HWIO_WITHOUT_OPEN_FILE)};
    ASSERT_TRUE(noOpen);
    board::EcPortBinding withoutOpen{besideTests(FAKE_HWIO_WITHOUT_OPEN_FILE).string()};
    EXPECT_EQ(withoutOpen.loadHwio(), board::kHwioNoOpen);
    EXPECT_TRUE(withoutOpen.isLoaded());
    withoutOpen.ecWrite(0x5D, 4);
    EXPECT_EQ(noOpen.writes().size(), 3u);
}

TEST_F(EcRegisters, MissingLibraryIsRetriedAndReportedOnce) {
    testing_support::TemporaryDirectory dir;
    auto path = dir.path() / ("late" + besideTests(FAKE_HWIO_FILE).extension().string());
    board::EcPortBinding late{path.string()};
    late.setSleep(countSleep);
    os::CapturedDiagnostics diagnostics;

    EXPECT_EQ(late.loadHwio(), board::kHwioMissing);
    EXPECT_FALSE(late.isLoaded());
    for (int i = 0; i < 5; ++i)
        late.ecWriteBanked(0, board::kLedRedRegister, 0x10);
    EXPECT_FALSE(late.canWrite());
    auto seen = diagnostics.all();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, os::Diagnostic::Kind::Debug);
    EXPECT_NE(seen[0].text.find(path.string()), std::string::npos);

    // Installed later: the next write loads it and goes out.
    std::filesystem::copy_file(besideTests(FAKE_HWIO_FILE), path);
    FakeHwio installed{path};
    ASSERT_TRUE(installed);
    late.ecWrite(0x53, 0x20);
    EXPECT_TRUE(late.isLoaded());
    Writes expected;
    transaction(expected, 0x53, 0x20);
    EXPECT_EQ(installed.writes(), expected);
}

TEST_F(EcRegisters, MissingPortEntriesDropWritesSafely) {
    FakeHwio noPorts{besideTests(FAKE_HWIO_WITHOUT_PORTS_FILE)};
    ASSERT_TRUE(noPorts);
    board::EcPortBinding binding{besideTests(FAKE_HWIO_WITHOUT_PORTS_FILE).string()};
    os::CapturedDiagnostics diagnostics;
    EXPECT_EQ(binding.loadHwio(), board::kHwioLoaded);
    binding.ecWriteBanked(0, board::kLedRedRegister, 1);
    binding.ecWriteBanked(0, board::kLedRedRegister, 2);
    EXPECT_FALSE(binding.canWrite());
    EXPECT_EQ(diagnostics.all().size(), 1u);
}

TEST_F(EcRegisters, ConcurrentWritersKeepBankAndRegisterTogether) {
    ASSERT_EQ(ports.loadHwio(), board::kHwioLoaded);
    constexpr int kWrites = 1500;
    fake.state().yieldAfterWrites = 1;
    std::atomic<bool> go{false};
    auto writer = [&](std::uint8_t reg, std::uint8_t value) {
        while (!go)
            std::this_thread::yield();
        for (int i = 0; i < kWrites; ++i)
            ports.ecWriteBanked(0, reg, value);
    };
    std::thread music(writer, board::kLedBlueRegister, 0xB0);
    std::thread thermal(writer, board::kLedRedRegister, 0xA0);
    go = true;
    music.join();
    thermal.join();

    Writes writes = fake.writes();
    ASSERT_EQ(writes.size(), std::size_t(2 * kWrites * 6));
    for (std::size_t i = 0; i < writes.size(); i += 6) {
        ASSERT_EQ(writes[i], (std::pair<std::uint16_t, std::uint8_t>{0x6C, 0x81}));
        ASSERT_EQ(writes[i + 1].second, 0xFF) << i;
        ASSERT_EQ(writes[i + 3], writes[i]);
        // The register after each bank selection carries its own writer's value.
        std::uint8_t reg = writes[i + 4].second, value = writes[i + 5].second;
        EXPECT_EQ(value, reg == board::kLedBlueRegister ? 0xB0 : 0xA0) << i;
    }
}
