// The board's firmware tables, read back by a reader written here from the table
// standards: once by scanning emulated memory through the stand-in's exports, once
// from the firmware-table directory, and the two must agree.

#include "board_fixture.h"
#include "hwio_binding.h"
#include "os/firmware_tables.h"

#include <cstring>
#include <optional>

namespace {

using Bytes = std::vector<std::uint8_t>;
using virtualboard::BoardOptions;

std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::uint8_t sum(const std::uint8_t* p, std::size_t length) {
    std::uint8_t total = 0;
    for (std::size_t i = 0; i < length; ++i)
        total = std::uint8_t(total + p[i]);
    return total;
}

// The product names of every type-2 structure, walking with bounds checks.
std::vector<std::string> baseboardProducts(const Bytes& table) {
    std::vector<std::string> products;
    std::size_t at = 0;
    while (at + 4 <= table.size()) {
        std::uint8_t type = table[at], length = table[at + 1];
        if (type == 127 || length < 4 || at + length > table.size())
            break;
        std::size_t strings = at + length;
        std::vector<std::string> set;
        std::size_t p = strings;
        while (p < table.size() && table[p] != 0) {
            std::size_t end = p;
            while (end < table.size() && table[end] != 0)
                ++end;
            set.emplace_back(reinterpret_cast<const char*>(&table[p]), end - p);
            p = end + 1;
        }
        if (type == 2) {
            std::uint8_t number = length > 5 ? table[at + 5] : 0;
            products.push_back(number >= 1 && number <= set.size() ? set[number - 1] : "");
        }
        at = (p == strings ? p + 2 : p + 1); // an empty set is two NULs
    }
    return products;
}

struct ScannedSmbios {
    std::uint32_t entryPoint = 0;
    Bytes table;
};

std::optional<ScannedSmbios> scanSmbios(vbtest::HwioBinding& hwio) {
    auto* area = static_cast<const std::uint8_t*>(hwio.mapMem(0xF0000, 0xFFFE));
    if (!area)
        return std::nullopt;
    for (std::uint32_t offset = 0; offset < 0xFFFF; offset += 16) {
        if (std::memcmp(area + offset, "_SM_", 4) != 0)
            continue;
        // The full entry point, from its own mapping (the scan window may cut it).
        auto* entry = static_cast<const std::uint8_t*>(hwio.mapMem(0xF0000 + offset, 0x1F));
        if (!entry || sum(entry, entry[5]) != 0 || sum(entry + 0x10, 0x0F) != 0)
            return std::nullopt;
        std::uint32_t length = entry[0x16] | entry[0x17] << 8;
        std::uint32_t address = le32(entry + 0x18);
        std::uint32_t low = address & 0xFFFF;
        auto* window = static_cast<const std::uint8_t*>(hwio.mapMem(address - low, length + low));
        if (!window)
            return std::nullopt;
        return ScannedSmbios{0xF0000 + offset, Bytes(window + low, window + low + length)};
    }
    return std::nullopt;
}

// Finds a table by walking RSDP -> RSDT -> headers; returns its whole bytes.
std::optional<Bytes> scanAcpiTable(vbtest::HwioBinding& hwio, const char* signature,
                                   std::uint32_t* addressOut = nullptr) {
    auto* area = static_cast<const std::uint8_t*>(hwio.mapMem(0xF0000, 0x10000));
    if (!area)
        return std::nullopt;
    for (std::uint32_t offset = 0; offset + 20 <= 0x10000; ++offset) {
        if (std::memcmp(area + offset, "RSD PTR ", 8) != 0 || sum(area + offset, 20) != 0)
            continue;
        auto* rsdt = static_cast<const std::uint8_t*>(hwio.mapMem(le32(area + offset + 16), 36));
        if (!rsdt || std::memcmp(rsdt, "RSDT", 4) != 0)
            return std::nullopt;
        std::uint32_t rsdtLength = le32(rsdt + 4);
        rsdt = static_cast<const std::uint8_t*>(hwio.mapMem(le32(area + offset + 16), rsdtLength));
        if (!rsdt || sum(rsdt, rsdtLength) != 0)
            return std::nullopt;
        for (std::uint32_t i = 36; i + 4 <= rsdtLength; i += 4) {
            std::uint32_t address = le32(rsdt + i);
            auto* header = static_cast<const std::uint8_t*>(hwio.mapMem(address, 36));
            if (!header || std::memcmp(header, signature, 4) != 0)
                continue;
            auto* table = static_cast<const std::uint8_t*>(hwio.mapMem(address, le32(header + 4)));
            if (addressOut)
                *addressOut = address;
            return Bytes(table, table + le32(header + 4));
        }
        return std::nullopt;
    }
    return std::nullopt;
}

class BoardTables : public vbtest::BoardTest {
protected:
    vbtest::HwioBinding hwio;
};

TEST_F(BoardTables, ScanAndTableServiceAgree) {
    createBoard();
    ASSERT_TRUE(hwio.library.isLoaded());

    auto scanned = scanSmbios(hwio);
    ASSERT_TRUE(scanned);
    EXPECT_EQ(scanned->entryPoint, 0xF0800u);
    EXPECT_EQ(baseboardProducts(scanned->table), std::vector<std::string>{"XR40-SUMMIT"});
    EXPECT_EQ(scanned->table.size(), board->facts().smbiosTableLength);

    Bytes rsmb = os::readFirmwareTable(os::kFirmwareProviderRsmb, 0);
    ASSERT_GT(rsmb.size(), 8u);
    EXPECT_EQ(le32(rsmb.data() + 4), rsmb.size() - 8);
    EXPECT_EQ(Bytes(rsmb.begin() + 8, rsmb.end()), scanned->table);
    EXPECT_EQ(rsmb[1], 2) << "SMBIOS major version from the entry point";

    std::uint32_t fadtAddress = 0;
    auto fadt = scanAcpiTable(hwio, "FACP", &fadtAddress);
    ASSERT_TRUE(fadt);
    EXPECT_EQ(sum(fadt->data(), fadt->size()), 0);
    EXPECT_EQ(*fadt, os::readFirmwareTable(os::kFirmwareProviderAcpi, os::firmwareTableId("FACP")));
    EXPECT_EQ(le32(fadt->data() + 56), board->facts().pm1aEventPort);
    EXPECT_EQ(le32(fadt->data() + 64), board->facts().pm1aControlPort);

    // FIRMWARE_CTRL leads to the FACS and its lock word, the same memory the board uses.
    std::uint32_t facsAddress = le32(fadt->data() + 36);
    auto* facs = static_cast<std::uint8_t*>(hwio.mapMem(facsAddress, 24));
    ASSERT_NE(facs, nullptr);
    EXPECT_EQ(std::memcmp(facs, "FACS", 4), 0);
    board->knobs().setGlobalLockWord(2);
    EXPECT_EQ(le32(facs + 16), 2u);
    Bytes facsFile = os::readFirmwareTable(os::kFirmwareProviderAcpi, os::firmwareTableId("FACS"));
    ASSERT_EQ(facsFile.size(), 64u);
    EXPECT_EQ(std::memcmp(facsFile.data(), facs, 16), 0);

    // GetAcpiTable maps 65535 bytes at the FADT: that must be possible.
    EXPECT_NE(hwio.mapPhysToLin(fadtAddress, 65535, nullptr, nullptr), nullptr);
}

TEST_F(BoardTables, CreationOptionsShapeTheTables) {
    BoardOptions two;
    two.baseboards = 2;
    two.baseboardLength = 0x20;
    two.secondProductName = "OTHER";
    createBoard(two);
    auto scanned = scanSmbios(hwio);
    ASSERT_TRUE(scanned);
    EXPECT_EQ(baseboardProducts(scanned->table),
              (std::vector<std::string>{"XR40-SUMMIT", "OTHER"}));

    BoardOptions none;
    none.baseboards = 0;
    createBoard(none);
    scanned = scanSmbios(hwio);
    ASSERT_TRUE(scanned);
    EXPECT_TRUE(baseboardProducts(scanned->table).empty());

    BoardOptions unnamed;
    unnamed.productName = "";
    unnamed.baseboardLength = 6;
    createBoard(unnamed);
    scanned = scanSmbios(hwio);
    ASSERT_TRUE(scanned);
    EXPECT_EQ(baseboardProducts(scanned->table), std::vector<std::string>{""});

    // The last paragraph the scan tests, and one that is not on a paragraph.
    BoardOptions last;
    last.entryPointOffset = 0xFFF0;
    createBoard(last);
    scanned = scanSmbios(hwio);
    ASSERT_TRUE(scanned);
    EXPECT_EQ(scanned->entryPoint, 0xFFFF0u);
    last.entryPointOffset = 0xFFF8;
    createBoard(last);
    EXPECT_FALSE(scanSmbios(hwio));

    // A table far from the BIOS area gets its own region, reachable through the
    // 64 KiB-aligned window.
    BoardOptions high;
    high.smbiosTableAddress = 0x7FF01234;
    createBoard(high);
    scanned = scanSmbios(hwio);
    ASSERT_TRUE(scanned);
    EXPECT_EQ(baseboardProducts(scanned->table), std::vector<std::string>{"XR40-SUMMIT"});
    EXPECT_EQ(hwio.mapMem(0x7FF01234 - 0x10000, 16), nullptr);

    BoardOptions bare;
    bare.rsdp = false;
    bare.tableService = false;
    createBoard(bare);
    EXPECT_FALSE(scanAcpiTable(hwio, "FACP"));
    EXPECT_TRUE(std::filesystem::is_directory(firmwarePath()));
    EXPECT_FALSE(os::firmwareTableService());
    EXPECT_TRUE(os::readFirmwareTable(os::kFirmwareProviderRsmb, 0).empty());
}

TEST_F(BoardTables, ImpossibleBoardsAreRefusedBeforeAnythingIsWritten) {
    auto refused = [&](BoardOptions options) {
        std::filesystem::path image = directory.path() / "refused.img";
        EXPECT_THROW(virtualboard::Board::create(image, options, directory.path() / "fw"),
                     virtualboard::BoardError);
        EXPECT_FALSE(std::filesystem::exists(image));
        EXPECT_FALSE(std::filesystem::exists(directory.path() / "fw"));
    };
    BoardOptions options;
    options.baseboards = 3;
    refused(options);
    options = {};
    options.baseboardLength = 5;
    refused(options);
    options = {};
    options.smbiosTableAddress = 0xFDAE0100; // inside the register window
    refused(options);
    options = {};
    options.smbiosTableAddress = 0xF0810; // over the entry point
    refused(options);
    options = {};
    options.entryPointOffset = 0xE020; // over the RSDP
    refused(options);
    options = {};
    options.missingExport = "HWIO_Close";
    refused(options);
    options = {};
    options.productName = std::string(64, 'X');
    refused(options);
}

} // namespace
