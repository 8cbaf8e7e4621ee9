// The item library and the BIOS item model of the programs, over the real D-Bus
// transport, against the bridge stand-in started by bus activation.

#include "board/acpi_exports.h"
#include "board/acpi_items.h"
#include "board/bios_item_registry.h"
#include "board_fixture.h"
#include "bus_daemon.h"
#include "package_reader.h"
#include "virtualboard/firmware.h"

#include <cstdlib>
#include <fstream>
#include <gmock/gmock.h>

namespace {

using namespace virtualboard;

class ItemsOverTheBridge : public vbtest::BoardTest {
protected:
    void SetUp() override {
        BoardOptions options;
        options.hostTemperature = false;
        options.temperature = 387;
        createBoard(options);
        bus.emplace(LUMIVANE_BUS_DATA_DIR);
        ASSERT_TRUE(bus->running()) << "dbus-daemon did not start";
    }
    std::optional<vbtest::BusDaemon> bus;
};

TEST_F(ItemsOverTheBridge, EveryListedItemHasAWellFormedDescriptorAndWritesReachTheLeds) {
    for (std::uint32_t group : {0x06u, 0x13u}) {
        std::vector<std::uint8_t> list(4096, 0x77);
        std::uint32_t length = 4096;
        ASSERT_EQ(AcpiGGrp(group, list.data(), &length), 1);
        list.resize(length);
        auto listed = vbtest::readPackage(list);
        ASSERT_TRUE(listed) << group;
        EXPECT_FALSE(listed->elements.empty());
        for (const vbtest::Element& element : listed->elements) {
            std::vector<std::uint8_t> descriptor(4096, 0);
            std::uint32_t code = element.number, size = 4096;
            ASSERT_EQ(AcpiCallMethod(&code, descriptor.data(), &size), 1);
            descriptor.resize(size);
            auto package = vbtest::readPackage(descriptor);
            ASSERT_TRUE(package) << code;
            EXPECT_EQ(itemGroup(package->elements.at(0).number), group);
        }
    }

    board::BiosItemRegistry registry(board::AcpiItemLibrary::platform());
    board::BiosItem* lightingOn = registry.Find(kLightingOnItem);
    board::BiosItem* control = registry.Find(kLightingControlItem);
    board::BiosItem* effect = registry.Find(kEffectWordItem);
    board::BiosItem* temperature = registry.Find(kCpuTemperatureItem);
    ASSERT_TRUE(lightingOn && control && effect && temperature);
    EXPECT_EQ(lightingOn->GetCount(), 2u);
    EXPECT_EQ(lightingOn->IndexToString(1), L"On");
    ASSERT_TRUE(registry.Find(0x13080050));
    EXPECT_EQ(registry.Find(0x13080050)->IndexToString(2), L"Sleep only");
    EXPECT_EQ(temperature->IndexToString(387), L"38.7");

    std::uint32_t tenths = 0;
    ASSERT_TRUE(temperature->GetValue(&tenths));
    EXPECT_EQ(tenths, 387u);

    // What the panel does for a firmware effect: firmware control, then Static red.
    EXPECT_EQ(control->SetValue(0, 1), 1);
    EXPECT_EQ(effect->SetValue(0x0000FF01, 1), 1);
    EXPECT_EQ(board->ledColour(), (LedColour{0xFF, 0, 0}));
    const std::filesystem::path out = directory.path() / "show.txt";
    ASSERT_EQ(std::system(((vbtest::binaryDirectory() / LUMIVANE_VBOARD).string() + " show > " +
                           out.string())
                              .c_str()),
              0);
    std::ifstream in(out);
    const std::string show((std::istreambuf_iterator<char>(in)), {});
    EXPECT_THAT(show, ::testing::HasSubstr("red 0xFF  green 0x00  blue 0x00  (firmware: Static"));

    // The software takes the LEDs back as the service does: control word 3.
    EXPECT_EQ(control->SetValue(1, 3), 1);
    EXPECT_EQ(board->firmwareItem(kLightingControlItem)->lastControl, 3u);
    EXPECT_EQ(board->ledView().source, LedView::Source::Software);
}

} // namespace
