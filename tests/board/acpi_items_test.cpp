#include "board/acpi_items.h"
#include "fake_acpi_bridge.h"

#include <gtest/gtest.h>
#include <numeric>

using board::AcpiItemLibrary;
using testing_support::FakeAcpiBridge;
using testing_support::SeenArgument;
using Kind = SeenArgument::Kind;

namespace {

class AcpiItems : public ::testing::Test {
protected:
    FakeAcpiBridge bridge;
    AcpiItemLibrary library{bridge};
};

std::vector<std::uint8_t> pattern(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(n);
    std::iota(bytes.begin(), bytes.end(), seed);
    return bytes;
}

} // namespace

TEST_F(AcpiItems, ScalarCallsSendTheirArgumentsInOrder) {
    bridge.values[0x06030012] = 452;
    std::uint32_t temperature = 0;
    EXPECT_EQ(library.getItem(0x06030012, &temperature), 1);
    EXPECT_EQ(temperature, 452u);
    std::uint32_t ex = 0;
    EXPECT_EQ(library.getItemEx(0xF0, 0x0F, &ex), 1);
    EXPECT_EQ(ex, 0xFFu);
    EXPECT_EQ(library.setItem(0x13060041, 1, 3), 1);
    EXPECT_EQ(library.init(), 1);

    const auto calls = bridge.calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].method, "iAcpiGetItem");
    EXPECT_EQ(calls[0].arguments,
              (std::vector<SeenArgument>{{Kind::In, 0x06030012, {}}, {Kind::Out, 0, {}}}));
    EXPECT_EQ(calls[1].method, "iAcpiGetItemEx");
    EXPECT_EQ(calls[1].arguments,
              (std::vector<SeenArgument>{
                  {Kind::In, 0xF0, {}}, {Kind::In, 0x0F, {}}, {Kind::Out, 0, {}}}));
    EXPECT_EQ(calls[2].method, "iAcpiSetItem");
    EXPECT_EQ(calls[2].arguments,
              (std::vector<SeenArgument>{
                  {Kind::In, 0x13060041, {}}, {Kind::In, 1, {}}, {Kind::In, 3, {}}}));
    EXPECT_EQ(calls[3].method, "iAcpiInit");
    EXPECT_TRUE(calls[3].arguments.empty());

    // Every operation opened its own bridge and released it before returning.
    EXPECT_EQ(bridge.opens(), 4);
    EXPECT_EQ(bridge.liveSessions(), 0);
}

TEST_F(AcpiItems, GetItemKeepsThePreviousValueWhenNothingIsWritten) {
    bridge.values[0x06030012] = 300;
    bridge.getItemWritesNothing = true;
    std::uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(library.getItem(0x06030012, &value), 1);
    EXPECT_EQ(value, 0xDEADBEEFu);

    // A failed invocation is 0, and the variable is still as it was.
    EXPECT_EQ(library.getItem(0x0BAD0001, &value), 0);
    EXPECT_EQ(value, 0xDEADBEEFu);

    // A null result pointer is never handed to the bridge.
    EXPECT_EQ(library.getItem(0x06030012, nullptr), 0);
    EXPECT_EQ(library.getItemEx(1, 2, nullptr), 0);
    EXPECT_EQ(bridge.callCount("iAcpiGetItemEx"), 0u);
}

TEST_F(AcpiItems, GroupRequestSendsTheMarkerWhateverTheBufferHeld) {
    const std::vector<std::uint8_t> list = board::AcpiPackageBuilder().value(1).value(2).build();
    bridge.groups[0x13] = list;
    std::vector<std::uint8_t> buffer(4096, 0x5A);
    std::uint32_t length = 4096;
    EXPECT_EQ(library.gGrp(0x13, buffer.data(), &length), 1);

    const auto calls = bridge.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, "iAcpiGGrp");
    ASSERT_EQ(calls[0].arguments.size(), 3u);
    EXPECT_EQ(calls[0].arguments[0], (SeenArgument{Kind::In, 0x13, {}}));
    const std::vector<std::uint8_t>& sent = calls[0].arguments[1].bytes;
    ASSERT_EQ(sent.size(), 4096u);
    EXPECT_EQ(sent[0], board::kGroupRequestMarker);
    EXPECT_TRUE(std::all_of(sent.begin() + 1, sent.end(), [](auto b) { return b == 0x5A; }));
    EXPECT_EQ(calls[0].arguments[2], (SeenArgument{Kind::Length, 4096, {}}));

    // The reply is copied back and the length is what the bridge reported.
    EXPECT_EQ(length, list.size());
    EXPECT_TRUE(std::equal(list.begin(), list.end(), buffer.begin()));
    EXPECT_EQ(buffer[list.size()], 0x5A);
}

TEST_F(AcpiItems, CopyBackStaysWithinWhatWasSentAndWhatCameBack) {
    std::vector<std::uint8_t> buffer = pattern(64, 0);
    std::uint32_t length = 64;

    // A bridge that shortens the length: only that much is copied, the rest stays.
    bridge.lengthOverride = 10;
    EXPECT_EQ(library.mbif(buffer.data(), &length), 1);
    EXPECT_EQ(length, 10u);
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(buffer[i], 63 - i); // the fake echoes the array reversed
    for (std::size_t i = 10; i < 64; ++i)
        EXPECT_EQ(buffer[i], i);

    // A bridge that claims more than was sent: never more than the caller's buffer.
    buffer = pattern(64, 0);
    std::vector<std::uint8_t> guard(buffer.begin(), buffer.end());
    length = 32;
    bridge.lengthOverride = 4096;
    EXPECT_EQ(library.mbif(buffer.data(), &length), 1);
    EXPECT_EQ(length, 32u);
    EXPECT_TRUE(std::equal(buffer.begin() + 32, buffer.end(), guard.begin() + 32));

    // A returned array shorter than the length: copy what it holds.
    buffer = pattern(64, 0);
    length = 64;
    bridge.lengthOverride = 64;
    bridge.arraySizeOverride = 5;
    EXPECT_EQ(library.mbif(buffer.data(), &length), 1);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(buffer[4], 59);
    EXPECT_EQ(buffer[5], 5);

    // No array comes back: nothing copied, length kept, and a failure.
    buffer = pattern(64, 0);
    length = 64;
    bridge.arraySizeOverride.reset();
    bridge.dropArray = true;
    EXPECT_EQ(library.mbif(buffer.data(), &length), 0);
    EXPECT_EQ(length, 64u);
    EXPECT_EQ(buffer, pattern(64, 0));
}

TEST_F(AcpiItems, BufferCallsPassValuesNotPointers) {
    std::vector<std::uint8_t> buffer = pattern(16, 1);
    std::uint32_t length = 16;
    std::uint32_t code = 0xC0DE1300;
    bridge.descriptors[code] = board::AcpiPackageBuilder().value(0x13060040).build();
    EXPECT_EQ(library.callMethod(&code, buffer.data(), &length), 1);
    auto calls = bridge.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, "iAcpiCallMethod");
    EXPECT_EQ(calls[0].arguments[0], (SeenArgument{Kind::In, 0xC0DE1300, {}}));
    EXPECT_EQ(calls[0].arguments[1].bytes, pattern(16, 1)); // no marker outside iAcpiGGrp
    EXPECT_EQ(length, 16u); // the 20-byte package does not fit a 16-byte buffer
    EXPECT_EQ(library.callMethod(nullptr, buffer.data(), &length), 0);

    // The first argument of the buffer write is never looked at: same call on the wire.
    bridge.forget();
    buffer = pattern(8, 1);
    length = 8;
    EXPECT_EQ(library.setItemBuffer(0, 0x77, buffer.data(), &length), 1);
    buffer = pattern(8, 1);
    length = 8;
    EXPECT_EQ(library.setItemBuffer(0xFFFFFFFF, 0x77, buffer.data(), &length), 1);
    calls = bridge.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method, "iAcpiSetItemBuffer");
    EXPECT_EQ(calls[0].arguments, calls[1].arguments);
    EXPECT_EQ(calls[0].arguments.size(), 3u);
    EXPECT_EQ(calls[0].arguments[0], (SeenArgument{Kind::In, 0x77, {}}));

    // iAcpiMbif has no leading value.
    bridge.forget();
    EXPECT_EQ(library.mbif(buffer.data(), &length), 1);
    calls = bridge.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].arguments.size(), 2u);
    EXPECT_EQ(calls[0].arguments[0].kind, Kind::Bytes);
    EXPECT_EQ(calls[0].arguments[1].kind, Kind::Length);
}

TEST_F(AcpiItems, AMissingBridgeLeavesEverythingUntouched) {
    bridge.unavailable = true;
    std::uint32_t value = 17;
    EXPECT_EQ(library.init(), 0);
    EXPECT_EQ(library.getItem(1, &value), 0);
    EXPECT_EQ(library.getItemEx(1, 2, &value), 0);
    EXPECT_EQ(library.setItem(1, 2, 3), 0);
    EXPECT_EQ(value, 17u);

    std::vector<std::uint8_t> buffer(32, 0x42);
    std::uint32_t length = 32;
    std::uint32_t code = 5;
    EXPECT_EQ(library.gGrp(0x13, buffer.data(), &length), 0);
    EXPECT_EQ(library.callMethod(&code, buffer.data(), &length), 0);
    EXPECT_EQ(library.mbif(buffer.data(), &length), 0);
    EXPECT_EQ(library.setItemBuffer(0, 1, buffer.data(), &length), 0);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(32, 0x42)); // not even the group marker
    EXPECT_EQ(length, 32u);
    EXPECT_TRUE(bridge.calls().empty());
}

TEST_F(AcpiItems, AnUnknownMethodFailsScalarsButBuffersComeBackUnchanged) {
    bridge.unknownMethods = {"iAcpiGetItem", "iAcpiSetItem", "iAcpiInit", "iAcpiGGrp", "iAcpiMbif"};
    std::uint32_t value = 9;
    EXPECT_EQ(library.getItem(1, &value), 0);
    EXPECT_EQ(value, 9u);
    EXPECT_EQ(library.setItem(1, 2, 3), 0);
    EXPECT_EQ(library.init(), 0);

    std::vector<std::uint8_t> buffer = pattern(16, 3);
    std::uint32_t length = 16;
    EXPECT_EQ(library.mbif(buffer.data(), &length), 1);
    EXPECT_EQ(buffer, pattern(16, 3));
    EXPECT_EQ(length, 16u);

    // iAcpiGGrp's marker was written into the caller's buffer before the call.
    EXPECT_EQ(library.gGrp(0x13, buffer.data(), &length), 1);
    EXPECT_EQ(buffer[0], board::kGroupRequestMarker);
    EXPECT_TRUE(std::equal(buffer.begin() + 1, buffer.end(), pattern(16, 3).begin() + 1));

    // A failed invocation that leaves its array in place is the same exchange.
    bridge.unknownMethods.clear();
    bridge.failInvocations = true;
    buffer = pattern(16, 3);
    EXPECT_EQ(library.setItemBuffer(0, 1, buffer.data(), &length), 1);
    EXPECT_EQ(buffer, pattern(16, 3));
}

TEST_F(AcpiItems, DegenerateBuffersAreHandledWithoutTouchingMemory) {
    std::uint32_t length = 0;
    std::uint8_t byte = 0x42;
    // A zero-length group request has no first byte to mark.
    EXPECT_EQ(library.gGrp(0x13, &byte, &length), 1);
    EXPECT_EQ(byte, 0x42);
    EXPECT_EQ(length, 0u);
    const auto calls = bridge.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].arguments[1].bytes.empty());

    length = 4;
    EXPECT_EQ(library.gGrp(0x13, nullptr, &length), 0);
    EXPECT_EQ(library.mbif(&byte, nullptr), 0);
    EXPECT_EQ(bridge.opens(), 1);
}
