#include "board/hwio.h"
#include "board/smbios.h"
#include "board_fixtures.h"
#include "os/diagnostics.h"
#include "test_environment.h"

#include <gtest/gtest.h>
#include <map>

using namespace board_testing;
using board::DmiWalker;

namespace {

// Firmware tables from a directory of the test's own.
class TableService : public ::testing::Test {
protected:
    board::BoardIdentity identify(const Bytes& structures) {
        writeDmiTable(dir.path(), structures);
        DmiWalker walker(nullptr, nullptr);
        EXPECT_EQ(walker.source(), DmiWalker::Source::FirmwareTableService);
        return board::readBoardIdentity(walker);
    }

    testing_support::TemporaryDirectory dir;
    testing_support::ScopedEnvironment redirect{"LUMIVANE_FIRMWARE_DIR", dir.path().string()};
};

// Physical memory made of a few regions; a view is granted only inside one.
class SyntheticMemory {
public:
    void add(std::uint32_t base, Bytes bytes) { regions_[base] = std::move(bytes); }
    void put(std::uint32_t address, const Bytes& bytes) {
        for (auto& [base, region] : regions_)
            if (address >= base && address + bytes.size() <= base + region.size()) {
                std::copy(bytes.begin(), bytes.end(), region.begin() + (address - base));
                return;
            }
        ADD_FAILURE() << "no region at " << address;
    }

    board::PhysicalMap map() {
        return [this](std::uint32_t address, std::uint32_t length) -> void* {
            requests.emplace_back(address, length);
            for (auto& [base, region] : regions_)
                if (address >= base && std::uint64_t(address) + length <= base + region.size()) {
                    ++live;
                    return region.data() + (address - base);
                }
            return nullptr;
        };
    }
    board::PhysicalUnmap unmap() {
        return [this](void*) {
            --live;
        };
    }

    std::vector<std::pair<std::uint32_t, std::uint32_t>> requests;
    int live = 0;

private:
    std::map<std::uint32_t, Bytes> regions_;
};

// A board whose BIOS area holds an entry point and whose table lies elsewhere.
struct ScanBoard {
    Bytes structures = table({bios(), baseboard("XR40-SUMMIT"), endOfTable()});
    SyntheticMemory memory;

    ScanBoard(std::uint32_t entryAddress, std::uint32_t tableAddress, bool tableRegion = true) {
        memory.add(0xE0000, Bytes(0x20000 + 0x40, 0));
        memory.put(entryAddress, entryPoint(tableAddress, std::uint16_t(structures.size())));
        if (tableAddress >= 0xE0000 && tableAddress < 0x100000)
            memory.put(tableAddress, structures);
        else if (tableRegion)
            memory.add(tableAddress, structures);
    }

    board::BoardIdentity identify() {
        DmiWalker walker(DmiWalker::Source::MemoryScan, memory.map(), memory.unmap());
        return board::readBoardIdentity(walker);
    }
};

} // namespace

TEST_F(TableService, FirstBaseboardNamesTheBoard) {
    auto identity = identify(table({bios(), systemStructure("Desktop"), baseboard("XR40-SUMMIT"),
                                    baseboard("SECOND-BOARD"), endOfTable()}));
    EXPECT_TRUE(identity.tableFound);
    EXPECT_TRUE(identity.baseboardFound);
    EXPECT_EQ(identity.productName, "XR40-SUMMIT");

    // A longer formatted area still takes byte 5, counted from the string set's start.
    identity = identify(table({baseboard("LONG-AREA", Bytes(0x30, 0x41)), endOfTable()}));
    EXPECT_EQ(identity.productName, "LONG-AREA");

    // Structures without strings are stepped over by their two NULs.
    identity = identify(table({{4, {0, 0, 0}, {}}, {7, {}, {}}, baseboard("AFTER-EMPTY")}));
    EXPECT_EQ(identity.productName, "AFTER-EMPTY");
}

TEST_F(TableService, NoBaseboardOrNoProductGivesEmptyName) {
    auto identity = identify(table({endOfTable(), baseboard("HIDDEN")}));
    EXPECT_TRUE(identity.tableFound);
    EXPECT_FALSE(identity.baseboardFound) << "type 127 first ends the walk";
    EXPECT_EQ(identity.productName, "");

    identity = identify(table({bios(), systemStructure("Only a system")}));
    EXPECT_FALSE(identity.baseboardFound);

    Structure noProduct = baseboard("UNNAMED");
    noProduct.formatted[1] = 0;
    identity = identify(table({noProduct, baseboard("NEXT")}));
    EXPECT_TRUE(identity.baseboardFound);
    EXPECT_EQ(identity.productName, "") << "string 0 means none; the next board is not asked";

    Structure beyond = baseboard("UNUSED");
    beyond.formatted[1] = 9;
    EXPECT_EQ(identify(table({beyond})).productName, "");

    // A structure too short to hold byte 5 has no product.
    EXPECT_EQ(identify(table({{2, {1}, {"Vantor", "SHORT"}}})).productName, "");
}

TEST_F(TableService, MalformedTablesEndTheWalkInsideTheTable) {
    const Bytes whole = table({bios(), baseboard("XR40-SUMMIT"), endOfTable()});
    const std::size_t productEnd = table({bios()}).size() + 8 + 7 + 12;
    // Every cut of the table: the name comes out only while its string is whole.
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        Bytes truncated(whole.begin(), whole.begin() + std::ptrdiff_t(cut));
        auto identity = identify(truncated);
        EXPECT_EQ(identity.productName, cut >= productEnd ? "XR40-SUMMIT" : "") << cut;
    }

    // A string set never terminated: the walk ends instead of running on.
    Bytes unterminated{1, 4, 0, 0, 'a', 'b', 'c'};
    writeDmiTable(dir.path(), unterminated);
    DmiWalker walker(nullptr, nullptr);
    ASSERT_TRUE(walker.Open());
    EXPECT_FALSE(walker.AtEnd());
    EXPECT_STREQ(walker.GetString(1), "");
    walker.Next();
    EXPECT_TRUE(walker.AtEnd());
    walker.Next();
    EXPECT_TRUE(walker.AtEnd());

    // A formatted length pointing beyond the table is not a structure.
    EXPECT_FALSE(identify(Bytes{2, 0xF0, 0, 0, 1, 1, 0, 0}).baseboardFound);
    // A header cut after the type byte.
    EXPECT_FALSE(identify(Bytes{2}).baseboardFound);
}

TEST_F(TableService, WalkerListsStructuresAndStrings) {
    writeDmiTable(dir.path(), table({bios(), systemStructure("Desktop"), endOfTable()}));
    DmiWalker walker(nullptr, nullptr);
    ASSERT_TRUE(walker.Open());
    EXPECT_EQ(walker.CurrentType(), 0);
    EXPECT_STREQ(walker.GetString(1), "Vantor");
    EXPECT_STREQ(walker.GetString(3), "01/02/2026");
    EXPECT_STREQ(walker.GetString(4), "") << "beyond the strings present";
    EXPECT_STREQ(walker.GetString(0), "");
    EXPECT_STREQ(walker.GetString(-1), "");
    walker.Next();
    EXPECT_EQ(walker.CurrentType(), 1);
    EXPECT_EQ(walker.CurrentLength(), 8);
    EXPECT_STREQ(walker.GetString(2), "Desktop");
    walker.Next();
    EXPECT_TRUE(walker.AtEnd());
    EXPECT_EQ(walker.CurrentType(), 127);
}

TEST_F(TableService, AnEmptyTableOrNoServiceMeansNoTable) {
    // Only the 8-byte header: no structures at all.
    writeDmiTable(dir.path(), {});
    EXPECT_FALSE(board::readBoardIdentity().tableFound);

    std::filesystem::remove_all(dir.path() / "dmi");
    DmiWalker walker(nullptr, nullptr);
    EXPECT_EQ(walker.source(), DmiWalker::Source::MemoryScan);
}

TEST(MemoryScan, EntryPointSearchCoversEveryParagraphOfTheArea) {
    os::CapturedDiagnostics diagnostics;
    ScanBoard last(0xFFFF0, 0x000E1234);
    auto identity = last.identify();
    EXPECT_EQ(identity.productName, "XR40-SUMMIT") << "the last paragraph is searched";
    EXPECT_TRUE(diagnostics.messages().empty());
    EXPECT_EQ(last.memory.requests.front(),
              (std::pair<std::uint32_t, std::uint32_t>{0xF0000, 0xFFFE}));
    EXPECT_EQ(last.memory.live, 0);

    ScanBoard first(0xF0000, 0x000E1234);
    EXPECT_EQ(first.identify().productName, "XR40-SUMMIT");

    ScanBoard offGrid(0xFFFF8, 0x000E1234);
    identity = offGrid.identify();
    EXPECT_FALSE(identity.tableFound);
    EXPECT_EQ(diagnostics.messages(),
              (std::vector<os::Diagnostic>{
                  {os::Diagnostic::Kind::Message, "DmiHelp", "Can not find SMBIOS Header"}}));
    EXPECT_EQ(offGrid.memory.live, 0);
}

TEST(MemoryScan, TableWindowStartsOnA64KiBBoundary) {
    ScanBoard board(0xFFDA0, 0x000E1234);
    EXPECT_EQ(board.identify().productName, "XR40-SUMMIT");
    ASSERT_GE(board.memory.requests.size(), 2u);
    EXPECT_EQ(board.memory.requests[1],
              (std::pair<std::uint32_t, std::uint32_t>{
                  0x000E0000, std::uint32_t(board.structures.size() + 0x1234)}));
    EXPECT_EQ(board.memory.live, 0);

    // Memory only where the table is: the window fails, the table alone is mapped.
    ScanBoard high(0xF0100, 0x7FF01000);
    EXPECT_EQ(high.identify().productName, "XR40-SUMMIT");
    ASSERT_EQ(high.memory.requests.size(), 3u);
    EXPECT_EQ(high.memory.requests[1].first, 0x7FF00000u);
    EXPECT_EQ(high.memory.requests[2], (std::pair<std::uint32_t, std::uint32_t>{
                                           0x7FF01000, std::uint32_t(high.structures.size())}));
    EXPECT_EQ(high.memory.live, 0);
}

TEST(MemoryScan, FailuresTellTheUserAndReleaseEverything) {
    os::CapturedDiagnostics diagnostics;
    ScanBoard unmapped(0xF0200, 0x7FF01000, false);
    EXPECT_FALSE(unmapped.identify().tableFound);
    EXPECT_EQ(diagnostics.messages(),
              (std::vector<os::Diagnostic>{
                  {os::Diagnostic::Kind::Message, "DmiHelp", "Can not map DMI header"}}));
    EXPECT_EQ(unmapped.memory.live, 0);

    // No library: no view of anything.
    diagnostics.clear();
    DmiWalker walker(DmiWalker::Source::MemoryScan, nullptr, nullptr);
    EXPECT_FALSE(walker.Open());
    ASSERT_EQ(diagnostics.messages().size(), 1u);
    EXPECT_EQ(diagnostics.messages()[0].text, "Can not find SMBIOS Header");
}

TEST(MemoryScan, ThroughTheSystemDirectoryLibrary) {
    testing_support::TemporaryDirectory hwioDir, firmwareDir;
    testing_support::ScopedEnvironment noService{"LUMIVANE_FIRMWARE_DIR",
                                                 firmwareDir.path().string()};
    auto path = hwioDir.path() / board::hwio::systemLibraryFile();
    std::filesystem::copy_file(besideTests(FAKE_HWIO_FILE), path);
    board::HwIOLibrary library(path);
    ASSERT_TRUE(library.load());
    auto* state = library.module().function<FakeHwioStateFn>(kFakeHwioState)();
    auto addMemory = library.module().function<FakeHwioAddMemoryFn>(kFakeHwioAddMemory);
    auto poke = library.module().function<FakeHwioPokeFn>(kFakeHwioPoke);

    Bytes structures = table({bios(), baseboard("XR40-SUMMIT"), endOfTable()});
    Bytes entry = entryPoint(0x000E1234, std::uint16_t(structures.size()));
    addMemory(0xE0000, 0x20000);
    poke(0xFE300, entry.data(), std::uint32_t(entry.size()));
    poke(0xE1234, structures.data(), std::uint32_t(structures.size()));

    auto identity = board::readBoardIdentity(library);
    EXPECT_EQ(identity.productName, "XR40-SUMMIT");
    ASSERT_EQ(state->mappingCount, 2u);
    EXPECT_EQ(state->mappings[1].address, 0xE0000u);
    EXPECT_EQ(state->liveViews, 0u);
    EXPECT_EQ(state->unmapCount, 2u);
    EXPECT_EQ(state->badUnmaps, 0u) << "views are released with 0 as second argument";
}
