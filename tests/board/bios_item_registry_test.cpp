#include "board/acpi_items.h"
#include "board/bios_item_registry.h"
#include "fake_acpi_bridge.h"
#include "os/diagnostics.h"

#include <gtest/gtest.h>
#include <thread>

using namespace board;
using testing_support::booleanDescriptor;
using testing_support::FakeAcpiBridge;
using testing_support::numberDescriptor;
using testing_support::publishGroup;
using testing_support::stringDescriptor;

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        publishGroup(bridge, 0x06,
                     {numberDescriptor(0x06030012, 0, 1, 1200),
                      numberDescriptor(0x06010001, 0xFE000019, 5, 8)});
        publishGroup(bridge, 0x13,
                     {numberDescriptor(0x13060040, 0, 1, 2), booleanDescriptor(0x13070041),
                      numberDescriptor(0x13060042, 0, 1, 0xFFFF),
                      stringDescriptor(0x13080050, {"A", "B"})});
    }

    FakeAcpiBridge bridge;
    AcpiItemLibrary library{bridge};
    BiosItemRegistry registry{library};
};

} // namespace

TEST_F(Registry, KindAndAttributeBitsDoNotMatter) {
    BiosItem* temperature = registry.Find(0x06030012);
    ASSERT_NE(temperature, nullptr);
    EXPECT_EQ(registry.Find(0x06000012), temperature);
    EXPECT_EQ(registry.Find(0x06F70012), temperature);
    EXPECT_EQ(temperature->id(), 0x06030012u);
    EXPECT_EQ(temperature->GetCount(), 1200u);
    EXPECT_EQ(registry.Find(0x06030013), nullptr); // not listed
    EXPECT_EQ(registry.Find(0x07030012), nullptr); // other group, not published
}

TEST_F(Registry, AGroupIsEnumeratedOnceWithOneRequestPerElement) {
    BiosItem* lighting = registry.Find(0x13060040);
    ASSERT_NE(lighting, nullptr);
    EXPECT_EQ(bridge.callCount("iAcpiGGrp"), 1u);
    EXPECT_EQ(bridge.callCount("iAcpiCallMethod"), 4u);
    const auto calls = bridge.calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].arguments[0].value, 0x13u);
    EXPECT_EQ(calls[0].arguments[2].value, BiosItemRegistry::kWorkBufferSize);
    for (std::size_t i = 1; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].arguments[0].value, 0xC0DE1300u + (i - 1)); // the element's data
        EXPECT_EQ(calls[i].arguments[2].value, BiosItemRegistry::kWorkBufferSize);
    }

    // Every kind built its own class.
    EXPECT_NE(dynamic_cast<BiosNumberItem*>(lighting), nullptr);
    EXPECT_NE(dynamic_cast<BiosBooleanItem*>(registry.Find(0x13070041)), nullptr);
    auto* text = dynamic_cast<BiosStringItem*>(registry.Find(0x13080050));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->IndexToString(1), L"B");
    EXPECT_EQ(registry.Find(0x13060041), registry.Find(0x13000041));
    EXPECT_EQ(registry.GroupIds(0x13),
              (std::vector<std::uint32_t>{0x13060040, 0x13070041, 0x13060042, 0x13080050}));
    EXPECT_EQ(bridge.callCount("iAcpiGGrp"), 1u);
    EXPECT_EQ(bridge.callCount("iAcpiCallMethod"), 4u);
}

TEST_F(Registry, AFailedGroupStaysFailed) {
    bridge.unavailable = true;
    EXPECT_EQ(registry.Find(0x13060040), nullptr);
    EXPECT_EQ(bridge.opens(), 1);
    bridge.unavailable = false;
    EXPECT_EQ(registry.Find(0x13060040), nullptr);
    EXPECT_EQ(registry.Find(0x13060041), nullptr);
    EXPECT_TRUE(registry.GroupIds(0x13).empty());
    EXPECT_EQ(bridge.opens(), 1);
    // Other groups are unaffected.
    EXPECT_NE(registry.Find(0x06030012), nullptr);
}

TEST_F(Registry, OddEnumerationsBuildWhatTheyCan) {
    // The same key twice: the first item stays, both ids are listed.
    publishGroup(bridge, 0x20,
                 {numberDescriptor(0x20010001, 1, 1, 3), numberDescriptor(0x20020001, 2, 1, 9),
                  // no id at all, and a descriptor that does not parse
                  AcpiPackageBuilder().build(), stringDescriptor(0x20080002, {"x"}, 0)});
    BiosItem* first = registry.Find(0x20000001);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->id(), 0x20010001u);
    EXPECT_EQ(first->GetCount(), 3u);
    EXPECT_EQ(registry.GroupIds(0x20),
              (std::vector<std::uint32_t>{0x20010001, 0x20020001, 0x20080002}));
    BiosItem* unparsed = registry.Find(0x20080002);
    ASSERT_NE(unparsed, nullptr); // registered although its descriptor is short of strings
    EXPECT_EQ(unparsed->GetCount(), 0u);

    // A descriptor that does not arrive yields no item; the next one still does.
    auto codes =
        publishGroup(bridge, 0x21, {booleanDescriptor(0x21070001), booleanDescriptor(0x21070002)});
    bridge.descriptors.erase(codes[0]);
    bridge.dropArray = false;
    EXPECT_EQ(registry.Find(0x21070001), nullptr);
    EXPECT_NE(registry.Find(0x21070002), nullptr);

    // A list whose count reaches beyond its bytes: the elements inside are used.
    publishGroup(bridge, 0x22, {booleanDescriptor(0x22070001), booleanDescriptor(0x22070002)});
    bridge.groups[0x22][4] = 200;
    EXPECT_NE(registry.Find(0x22070002), nullptr);
    EXPECT_EQ(registry.GroupIds(0x22).size(), 2u);
}

TEST_F(Registry, ConcurrentLookupsEnumerateOnce) {
    std::vector<std::thread> threads;
    std::vector<BiosItem*> found(8);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                BiosItem* item = registry.Find(t % 2 ? 0x06030012 : 0x13060040);
                if (i == 0)
                    found[std::size_t(t)] = item;
                else
                    EXPECT_EQ(item, found[std::size_t(t)]);
            }
        });
    for (auto& t : threads)
        t.join();
    for (int t = 2; t < 8; ++t)
        EXPECT_EQ(found[std::size_t(t)], found[std::size_t(t % 2)]);
    EXPECT_NE(found[0], nullptr);
    EXPECT_NE(found[1], nullptr);
    EXPECT_EQ(bridge.callCount("iAcpiGGrp"), 2u);
    EXPECT_EQ(bridge.callCount("iAcpiCallMethod"), 6u);
}
