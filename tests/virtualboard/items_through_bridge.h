#pragma once

// What the programs find of the firmware items through the platform's bridge, whatever
// carries the calls.

#include "board/acpi_exports.h"
#include "board/acpi_items.h"
#include "board/bios_item_registry.h"
#include "package_reader.h"
#include "virtualboard/board.h"
#include "virtualboard/firmware.h"

#include <functional>
#include <gmock/gmock.h>
#include <string>

namespace vbtest {

// Every listed item's descriptor is well formed and belongs to the group that listed it.
inline void expectListedItemsWellFormed(std::initializer_list<std::uint32_t> groups) {
    for (std::uint32_t group : groups) {
        std::vector<std::uint8_t> list(4096, 0x77);
        std::uint32_t length = 4096;
        ASSERT_EQ(AcpiGGrp(group, list.data(), &length), 1);
        list.resize(length);
        auto listed = readPackage(list);
        ASSERT_TRUE(listed) << group;
        EXPECT_EQ(listed->header & 0xFF, 0xE1u);
        EXPECT_FALSE(listed->elements.empty());
        for (const Element& element : listed->elements) {
            std::vector<std::uint8_t> descriptor(4096, 0);
            std::uint32_t code = element.number, size = 4096;
            ASSERT_EQ(AcpiCallMethod(&code, descriptor.data(), &size), 1);
            descriptor.resize(size);
            auto package = readPackage(descriptor);
            ASSERT_TRUE(package) << code;
            EXPECT_EQ(virtualboard::itemGroup(package->elements.at(0).number), group);
        }
    }
}

// The item model as the panel and the service use it: the temperature reads `tenths`,
// a Static red firmware effect lights the LEDs red (and `show`, the text of
// `vboard show`, says so), and the software takes the LEDs back with control word 3.
inline void expectItemModelDrivesTheFirmware(virtualboard::Board& board, std::uint32_t tenths,
                                             const std::function<std::string()>& show) {
    using namespace virtualboard;
    ::board::BiosItemRegistry registry(::board::AcpiItemLibrary::platform());
    ::board::BiosItem* lightingOn = registry.Find(kLightingOnItem);
    ::board::BiosItem* control = registry.Find(kLightingControlItem);
    ::board::BiosItem* effect = registry.Find(kEffectWordItem);
    ::board::BiosItem* temperature = registry.Find(kCpuTemperatureItem);
    ASSERT_TRUE(lightingOn && control && effect && temperature);
    EXPECT_EQ(lightingOn->GetCount(), 2u);
    EXPECT_EQ(lightingOn->IndexToString(1), L"On");
    ASSERT_TRUE(registry.Find(0x13080050));
    EXPECT_EQ(registry.Find(0x13080050)->IndexToString(2), L"Sleep only");
    EXPECT_EQ(temperature->IndexToString(387), L"38.7");
    std::uint32_t read = 0;
    ASSERT_TRUE(temperature->GetValue(&read));
    EXPECT_EQ(read, tenths);

    // What the panel does for a firmware effect: firmware control, then Static red.
    EXPECT_EQ(control->SetValue(0, 1), 1);
    EXPECT_EQ(effect->SetValue(0x0000FF01, 1), 1);
    EXPECT_EQ(board.readout().ledColor(), (LedColor{0xFF, 0, 0}));
    const std::string shown = show();
    EXPECT_THAT(shown, ::testing::HasSubstr(
                           "LED colour    red 0xFF  green 0x00  blue 0x00  (firmware: Static"));
    EXPECT_THAT(shown, ::testing::HasSubstr("iAcpiSetItem(0x13060042, 0xFF01, 0x1)"));

    // The software takes the LEDs back as the service does: control word 3.
    EXPECT_EQ(control->SetValue(1, 3), 1);
    EXPECT_EQ(board.items().find(kLightingControlItem)->lastControl, 3u);
    EXPECT_EQ(board.readout().ledView().source, LedView::Source::Software);
}

} // namespace vbtest
