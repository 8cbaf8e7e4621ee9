#include "board/hwio.h"
#include "board_fixtures.h"
#include "test_environment.h"

#include <gtest/gtest.h>
#include <thread>

using board_testing::besideTests;
using board_testing::FakeHwio;

namespace {

// The system directory's copy of the library, played by a copy of a fake.
class SystemDirectory : public ::testing::Test {
protected:
    std::filesystem::path install(const char* fakeFile) {
        auto target = dir.path() / board::hwio::systemLibraryFile();
        std::filesystem::copy_file(besideTests(fakeFile), target);
        return target;
    }
    FakeHwioState& stateOf(const board::HwIOLibrary& library) {
        return *library.module().function<FakeHwioStateFn>(kFakeHwioState)();
    }

    testing_support::TemporaryDirectory dir;
    testing_support::ScopedEnvironment redirect{"LUMIVANE_HWIO_DIR", dir.path().string()};
};

} // namespace

TEST_F(SystemDirectory, LoadsOnceOpensOnceAndBindsAllEleven) {
    auto path = board::systemHwIOLibraryPath();
    EXPECT_EQ(path, dir.path() / board::hwio::systemLibraryFile());
    board::HwIOLibrary library(path);
    EXPECT_FALSE(library.load()) << "nothing installed yet";
    EXPECT_FALSE(library.isLoaded());
    EXPECT_EQ(library.mapMemory(0xF0000, 0x10), nullptr);

    install(FAKE_HWIO_FILE);
    ASSERT_TRUE(library.load()) << "a failed load is tried again";
    const board::HwIOFunctions& f = library.functions();
    EXPECT_NE(f.open, nullptr);
    EXPECT_NE(f.readMsr, nullptr);
    EXPECT_NE(f.writeMsr, nullptr);
    EXPECT_NE(f.inPortB, nullptr);
    EXPECT_NE(f.outPortB, nullptr);
    EXPECT_NE(f.inPortD, nullptr);
    EXPECT_NE(f.outPortD, nullptr);
    EXPECT_NE(f.mapPhysToLin, nullptr);
    EXPECT_NE(f.unmapPhysicalMemory, nullptr);
    EXPECT_NE(f.mapMem, nullptr);
    EXPECT_NE(f.unmapMem, nullptr);
    EXPECT_TRUE(library.load());
    EXPECT_EQ(stateOf(library).openCalls, 1u);

    // The byte of a port read is the low 8 bits; the rest is the library's business.
    EXPECT_EQ(f.inPortB(0x80) & 0xFF, 0xFFu);
}

TEST_F(SystemDirectory, RefusedOpenOrMissingOpenStillBinds) {
    install(FAKE_HWIO_WITHOUT_OPEN_FILE);
    board::HwIOLibrary withoutOpen(board::systemHwIOLibraryPath());
    EXPECT_FALSE(withoutOpen.load());
    EXPECT_TRUE(withoutOpen.isLoaded());
    EXPECT_EQ(withoutOpen.functions().open, nullptr);
    EXPECT_NE(withoutOpen.functions().mapMem, nullptr);
    EXPECT_TRUE(withoutOpen.load()) << "later calls report the binding as loaded";

    // The fake's own copy, whose open is told to refuse.
    FakeHwio fake{besideTests(FAKE_HWIO_FILE)};
    ASSERT_TRUE(fake);
    fake.state().openResult = 0;
    board::HwIOLibrary refused(besideTests(FAKE_HWIO_FILE));
    EXPECT_FALSE(refused.load());
    EXPECT_TRUE(refused.load());
    EXPECT_EQ(fake.state().openCalls, 1u);
}

TEST_F(SystemDirectory, NoOneSeesTheLibraryLoadedBeforeItsDriverIsOpen) {
    FakeHwio fake{besideTests(FAKE_HWIO_FILE)};
    ASSERT_TRUE(fake);
    fake.state().openDelayMs = 200;
    board::HwIOLibrary library(besideTests(FAKE_HWIO_FILE));
    std::thread loader([&] { EXPECT_TRUE(library.load()); });
    while (fake.state().openCalls == 0)
        std::this_thread::yield();
    EXPECT_FALSE(library.isLoaded());
    EXPECT_EQ(library.mapMemory(0xF0000, 0x10), nullptr);
    EXPECT_TRUE(library.load()) << "a second caller waits for the first load";
    EXPECT_EQ(fake.state().openCalls, 1u);
    loader.join();
    fake.state().openDelayMs = 0;
}

TEST_F(SystemDirectory, ProcessWideBindingLooksAgainUntilItLoads) {
    // The process-wide binding is built like this one: where the file is, asked anew
    // on each attempt.
    board::HwIOLibrary located{board::HwIOLibrary::Locator(board::systemHwIOLibraryPath)};
    testing_support::TemporaryDirectory empty;
    {
        testing_support::ScopedEnvironment elsewhere{"LUMIVANE_HWIO_DIR", empty.path().string()};
        EXPECT_FALSE(located.load());
        EXPECT_EQ(located.path(), empty.path() / board::hwio::systemLibraryFile());
    }
    auto installed = install(FAKE_HWIO_FILE);
    EXPECT_TRUE(located.load());
    EXPECT_EQ(located.path(), installed);
}
