#include "os/firmware_tables.h"
#include "test_environment.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes entryPoint(const char* anchor, std::uint8_t major, std::uint8_t minor) {
    Bytes entry(0x1F, 0);
    std::copy(anchor, anchor + std::char_traits<char>::length(anchor), entry.begin());
    bool v3 = anchor[3] == '3';
    entry[v3 ? 7 : 6] = major;
    entry[v3 ? 8 : 7] = minor;
    entry[0x0A] = v3 ? 1 : 0;
    return entry;
}

class FirmwareTables : public ::testing::Test {
protected:
    testing_support::TemporaryDirectory dir;
    testing_support::ScopedEnvironment redirect{"LUMIVANE_FIRMWARE_DIR", dir.path().string()};
    const Bytes smbios{0x02, 0x08, 0x01, 0x00, 0x00, 0x00, 'A', 0, 0, 0x7F, 0x04, 0x02, 0x00, 0, 0};
    const Bytes fadt = Bytes(244, 0x5A);
};

} // namespace

TEST_F(FirmwareTables, SignaturesAreInMemoryOrder) {
    EXPECT_EQ(os::firmwareTableId("FACP"), 0x50434146u);
    EXPECT_EQ(os::firmwareTableId("FACS"), 0x53434146u);
    EXPECT_EQ(os::kFirmwareProviderAcpi, 0x41435049u);
    EXPECT_EQ(os::kFirmwareProviderRsmb, 0x52534D42u);
}

TEST_F(FirmwareTables, EmptyDirectoryMeansNoService) {
    EXPECT_FALSE(os::firmwareTableService());
    EXPECT_TRUE(os::readFirmwareTable(os::kFirmwareProviderRsmb, 0).empty());
    EXPECT_EQ(os::getSystemFirmwareTable(os::kFirmwareProviderAcpi, os::firmwareTableId("FACP"),
                                         nullptr, 0),
              0u);
}

TEST_F(FirmwareTables, SmbiosGetsTheRawDataHeader) {
    writeFile(dir.path() / "dmi/tables/DMI", smbios);
    writeFile(dir.path() / "dmi/tables/smbios_entry_point", entryPoint("_SM_", 2, 7));
    ASSERT_TRUE(os::firmwareTableService());

    Bytes table = os::readFirmwareTable(os::kFirmwareProviderRsmb, 0);
    ASSERT_EQ(table.size(), 8 + smbios.size());
    EXPECT_EQ(table[0], 0); // calling method
    EXPECT_EQ(table[1], 2);
    EXPECT_EQ(table[2], 7);
    std::uint32_t length =
        table[4] | table[5] << 8 | table[6] << 16 | std::uint32_t(table[7]) << 24;
    EXPECT_EQ(length, smbios.size());
    EXPECT_TRUE(std::equal(smbios.begin(), smbios.end(), table.begin() + 8));

    // Only table id 0 exists for the raw SMBIOS provider.
    EXPECT_TRUE(os::readFirmwareTable(os::kFirmwareProviderRsmb, 1).empty());

    writeFile(dir.path() / "dmi/tables/smbios_entry_point", entryPoint("_SM3_", 3, 4));
    table = os::readFirmwareTable(os::kFirmwareProviderRsmb, 0);
    EXPECT_EQ(table[1], 3);
    EXPECT_EQ(table[2], 4);
}

TEST_F(FirmwareTables, AcpiTablesBySignatureWithTheServiceSizeContract) {
    writeFile(dir.path() / "acpi/tables/FACP", fadt);
    ASSERT_TRUE(os::firmwareTableService());
    std::uint32_t facp = os::firmwareTableId("FACP");

    EXPECT_EQ(os::getSystemFirmwareTable(os::kFirmwareProviderAcpi, facp, nullptr, 0), fadt.size());

    Bytes small(16, 0xEE);
    EXPECT_EQ(os::getSystemFirmwareTable(os::kFirmwareProviderAcpi, facp, small.data(),
                                         std::uint32_t(small.size())),
              fadt.size());
    EXPECT_EQ(small, Bytes(16, 0xEE)) << "a short buffer is left alone";

    Bytes buffer(65535, 0);
    EXPECT_EQ(os::getSystemFirmwareTable(os::kFirmwareProviderAcpi, facp, buffer.data(),
                                         std::uint32_t(buffer.size())),
              fadt.size());
    EXPECT_TRUE(std::equal(fadt.begin(), fadt.end(), buffer.begin()));
    EXPECT_EQ(buffer[fadt.size()], 0);

    EXPECT_TRUE(
        os::readFirmwareTable(os::kFirmwareProviderAcpi, os::firmwareTableId("SSDT")).empty());
    EXPECT_TRUE(os::readFirmwareTable(0x12345678, facp).empty());
}

TEST_F(FirmwareTables, SignaturesThatNameNoFileAreNoTable) {
    // sysfs keeps folders beside the tables (data, dynamic); a NUL cuts the name down
    // to the table folder itself, and a '/' leads out of it.
    writeFile(dir.path() / "acpi/tables/FACP", fadt);
    std::filesystem::create_directories(dir.path() / "acpi/tables/data");
    writeFile(dir.path() / "acpi/x", fadt);
    for (const std::uint32_t id : {os::firmwareTableId("data"), std::uint32_t(0),
                                   std::uint32_t('F' | 'A' << 8), os::firmwareTableId("../x")}) {
        EXPECT_TRUE(os::readFirmwareTable(os::kFirmwareProviderAcpi, id).empty()) << std::hex << id;
        EXPECT_EQ(os::getSystemFirmwareTable(os::kFirmwareProviderAcpi, id, nullptr, 0), 0u);
    }
    EXPECT_EQ(os::readFirmwareTable(os::kFirmwareProviderAcpi, os::firmwareTableId("FACP")), fadt);
}
