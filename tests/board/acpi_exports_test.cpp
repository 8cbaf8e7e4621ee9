#include "board/acpi_exports.h"
#include "test_environment.h"

#include <gtest/gtest.h>
#include <vector>

#ifdef _WIN32
#include "os/com_apartment.h"
#endif

// The exported functions run over the platform's own transport. Where no bridge is
// installed (here: none registered, or no bus to find one on) every one of them fails
// and leaves the caller's variables alone.
TEST(AcpiExports, WithoutABridgeEveryOperationFailsAndTouchesNothing) {
#ifdef _WIN32
    os::ComApartment apartment(os::ComApartment::Kind::MultiThreaded);
    ASSERT_TRUE(apartment.ok());
#else
    testing_support::ScopedEnvironment bus("LUMIVANE_BUS", "nowhere");
#endif
    std::uint32_t value = 7;
    std::vector<std::uint8_t> buffer(64, 0x3C);
    std::uint32_t length = 64;
    std::uint32_t code = 0x12;

    EXPECT_EQ(AcpiInit(), 0);
    EXPECT_EQ(AcpiGetItem(0x06030012, &value), 0);
    EXPECT_EQ(AcpiGetItemEx(1, 2, &value), 0);
    EXPECT_EQ(AcpiSetItem(0x13060040, 0, 1), 0);
    EXPECT_EQ(AcpiSetItemBuffer(0, 1, buffer.data(), &length), 0);
    EXPECT_EQ(AcpiMbif(buffer.data(), &length), 0);
    EXPECT_EQ(AcpiGGrp(0x13, buffer.data(), &length), 0);
    EXPECT_EQ(AcpiCallMethod(&code, buffer.data(), &length), 0);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(64, 0x3C));
}
