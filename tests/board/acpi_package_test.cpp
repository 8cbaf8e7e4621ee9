#include "board/acpi_package.h"

#include <gtest/gtest.h>

using board::AcpiPackage;
using board::AcpiPackageBuilder;

namespace {

std::vector<std::uint8_t> le32(std::uint32_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}

} // namespace

TEST(AcpiPackage, ElementsFollowTheSpacingRule) {
    // Short data occupies a 12-byte element; longer data 8 + its length.
    const std::vector<std::uint8_t> bytes =
        AcpiPackageBuilder().value(0x06030012).text("Enabled").value(7).raw(le32(5), 2).build();
    const AcpiPackage package(bytes);
    ASSERT_TRUE(package.valid());
    ASSERT_EQ(package.declaredCount(), 4u);

    auto e = package.first();
    ASSERT_TRUE(e);
    EXPECT_EQ(e->offset(), 8u);
    EXPECT_EQ(e->value(), 0x06030012u);
    e = package.next(*e);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->offset(), 8u + 12);
    EXPECT_EQ(e->dataLength(), 8u); // "Enabled" and its NUL
    EXPECT_EQ(e->text(), "Enabled");
    e = package.next(*e);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->offset(), 8u + 12 + 16);
    EXPECT_EQ(e->value(), 7u);
    e = package.next(*e);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->offset(), 8u + 12 + 16 + 12);
    EXPECT_EQ(e->dataLength(), 2u);
    EXPECT_EQ(e->value(), 5u); // a 32-bit value is read whatever the declared length
    EXPECT_FALSE(package.next(*e));
    EXPECT_EQ(bytes.size(), 8u + 12 + 16 + 12 + 12);

    EXPECT_EQ(package.element(2)->offset(), 8u + 12 + 16);
    EXPECT_FALSE(package.element(4));
}

TEST(AcpiPackage, NothingBeyondTheBufferIsAnElement) {
    const std::vector<std::uint8_t> whole =
        AcpiPackageBuilder().value(1).text("a longer text").value(3).build();

    // Cut inside the last element: two readable, the count is not met.
    std::vector<std::uint8_t> cut(whole.begin(), whole.end() - 9);
    AcpiPackage truncated(cut);
    EXPECT_FALSE(truncated.valid());
    EXPECT_EQ(truncated.declaredCount(), 3u);
    EXPECT_EQ(truncated.readableCount(), 2u);
    EXPECT_FALSE(truncated.element(2));
    EXPECT_FALSE(truncated.next(*truncated.element(1)));

    // The last element's trailing 4 bytes are padding nobody reads: not needed.
    std::vector<std::uint8_t> noPadding(whole.begin(), whole.end() - 4);
    EXPECT_TRUE(AcpiPackage(noPadding).valid());

    // A count far beyond the buffer.
    std::vector<std::uint8_t> huge = AcpiPackageBuilder().value(1).declareCount(0xFFFFFFFF).build();
    AcpiPackage claimed(huge);
    EXPECT_FALSE(claimed.valid());
    EXPECT_EQ(claimed.readableCount(), 1u);

    // A data length reaching beyond the buffer.
    std::vector<std::uint8_t> longLength = AcpiPackageBuilder().value(1).value(2).build();
    longLength[8 + 12 + 2] = 0xFF;
    longLength[8 + 12 + 3] = 0x7F;
    AcpiPackage overlong(longLength);
    EXPECT_FALSE(overlong.valid());
    EXPECT_EQ(overlong.readableCount(), 1u);

    // Headers cut off.
    std::vector<std::uint8_t> tiny{0xE1, 0, 0, 0, 1, 0};
    EXPECT_FALSE(AcpiPackage(tiny).valid());
    EXPECT_EQ(AcpiPackage(tiny).declaredCount(), 0u);
    std::vector<std::uint8_t> headerOnly = AcpiPackageBuilder().build();
    EXPECT_TRUE(AcpiPackage(headerOnly).valid());
    EXPECT_FALSE(AcpiPackage(headerOnly).first());

    // Counted elements end the package even when more bytes follow.
    std::vector<std::uint8_t> extra =
        AcpiPackageBuilder().value(1).value(2).declareCount(1).build();
    AcpiPackage one(extra);
    EXPECT_TRUE(one.valid());
    EXPECT_FALSE(one.next(*one.first()));
}

TEST(AcpiPackage, TextNeedsItsNulInsideTheBuffer) {
    std::vector<std::uint8_t> bytes = AcpiPackageBuilder().text("abc").build();
    EXPECT_EQ(AcpiPackage(bytes).first()->text(), "abc");

    // A text that runs on past its element still ends at a NUL inside the buffer.
    bytes[8 + 4 + 3] = 'd';
    EXPECT_EQ(AcpiPackage(bytes).first()->text(), "abcd");

    // No NUL before the end of the buffer: no text.
    std::vector<std::uint8_t> noNul =
        AcpiPackageBuilder().raw(std::vector<std::uint8_t>{'x', 'y', 'z', 'w'}, 4).build();
    noNul.resize(8 + 4 + 4);
    ASSERT_TRUE(AcpiPackage(noNul).first());
    EXPECT_FALSE(AcpiPackage(noNul).first()->text());
}
