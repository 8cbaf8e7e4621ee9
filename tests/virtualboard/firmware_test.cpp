// The firmware items, the firmware's own lighting and the bridge stand-in's methods,
// faults and call log, below any transport.

#include "board_fixture.h"
#include "package_reader.h"
#include "virtualboard/bridge.h"
#include "virtualboard/firmware.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <gmock/gmock.h>
#include <set>

namespace {

using namespace virtualboard;
using vbtest::readPackage;

std::uint32_t kindOf(std::uint32_t id) {
    return (id >> 16) & 0xF;
}

// The fewest elements the item model needs for a descriptor of this kind.
std::size_t minimumElements(std::uint32_t id, const vbtest::Package& package) {
    switch (kindOf(id)) {
    case 7:
        return 4;
    case 8:
        return package.elements.size() > 4 ? 5 + package.elements[4].number : 5;
    default:
        return package.elements.size() > 7 ? 8 + package.elements[7].number : 7;
    }
}

class FirmwareItems : public vbtest::BoardTest {
protected:
    void SetUp() override {
        BoardOptions options;
        options.hostTemperature = false;
        options.temperature = 512;
        createBoard(options);
        bridge.emplace(imagePath());
    }

    BridgeBuffer request(std::uint32_t header = 0, std::size_t size = 4096) {
        BridgeBuffer buffer{std::vector<std::uint8_t>(size, 0x5A), std::uint32_t(size)};
        for (int i = 0; i < 4 && std::size_t(i) < size; ++i)
            buffer.bytes[std::size_t(i)] = std::uint8_t(header >> (8 * i));
        return buffer;
    }
    static std::vector<std::uint8_t> returned(const BridgeBuffer& buffer) {
        return {buffer.bytes.begin(), buffer.bytes.begin() + buffer.length};
    }
    // Every descriptor of a group, by way of its group list.
    std::vector<vbtest::Package> descriptorsOf(std::uint32_t group) {
        const BridgeBuffer list = bridge->gGrp(group, request(0xE1));
        auto listed = readPackage(returned(list));
        EXPECT_TRUE(listed);
        std::vector<vbtest::Package> descriptors;
        for (const vbtest::Element& element : listed->elements) {
            auto descriptor = readPackage(returned(bridge->callMethod(element.number, request())));
            EXPECT_TRUE(descriptor) << "code " << element.number;
            if (descriptor)
                descriptors.push_back(*descriptor);
        }
        return descriptors;
    }

    std::optional<AcpiBridgeStandIn> bridge;
};

TEST_F(FirmwareItems, GroupListsLeadToWellFormedDescriptorsOfEveryKind) {
    std::set<std::uint32_t> kinds, seen;
    for (std::uint32_t group : {0x06u, 0x13u}) {
        for (const vbtest::Package& descriptor : descriptorsOf(group)) {
            ASSERT_GE(descriptor.elements.size(), 4u);
            const std::uint32_t id = descriptor.elements[0].number;
            EXPECT_EQ(itemGroup(id), group);
            EXPECT_TRUE(seen.insert(itemKey(id)).second) << "listed twice: " << id;
            EXPECT_GE(descriptor.elements.size(), minimumElements(id, descriptor)) << id;
            // Every text the model will point at ends inside its element.
            const std::size_t strings = kindOf(id) == 8 ? 5 : 8;
            for (std::size_t i = strings; i < descriptor.elements.size(); ++i)
                EXPECT_TRUE(descriptor.elements[i].text) << "item " << id << " element " << i;
            kinds.insert(kindOf(id) == 8 || kindOf(id) == 7 || kindOf(id) == 13
                             ? kindOf(id)
                             : (descriptor.elements.size() > 7 ? 100 + kindOf(id) : kindOf(id)));
        }
    }
    for (std::uint32_t id :
         {kCpuTemperatureItem, kLightingOnItem, kLightingControlItem, kEffectWordItem})
        EXPECT_TRUE(seen.count(itemKey(id))) << id;
    // Booleans, strings, a composite, numbers of every unit scaling, with extra strings.
    for (std::uint32_t kind : {7u, 8u, 13u, 1u, 2u, 3u, 12u, 0u})
        EXPECT_TRUE(kinds.count(kind) || kinds.count(100 + kind)) << "kind " << kind;
    EXPECT_TRUE(std::any_of(kinds.begin(), kinds.end(), [](std::uint32_t k) { return k >= 100; }));

    // The request's header word comes back; an empty group is an empty list.
    const BridgeBuffer empty = bridge->gGrp(0x42, request(0xE1));
    auto package = readPackage(returned(empty));
    ASSERT_TRUE(package);
    EXPECT_EQ(package->header & 0xFF, 0xE1u);
    EXPECT_TRUE(package->elements.empty());
}

TEST_F(FirmwareItems, WritesKeepTheirControlWordAndTheLogRecordsEveryCall) {
    EXPECT_EQ(bridge->getItem(kCpuTemperatureItem), 512u);
    EXPECT_EQ(bridge->getItem(0x06000012), 512u) << "the kind nibble does not select the item";
    EXPECT_EQ(bridge->getItemEx(0x06, 0x12), 512u);
    bridge->setItem(kEffectWordItem, 0x00FF0003, 1);
    bridge->setItem(kLightingControlItem, 1, 3);

    const auto effect = board->items().find(kEffectWordItem);
    ASSERT_TRUE(effect);
    EXPECT_EQ(effect->value, 0x00FF0003u);
    EXPECT_EQ(effect->lastControl, 1u);
    EXPECT_EQ(board->items().find(kLightingControlItem)->lastControl, 3u);

    // Unknown and read-only items are refused and change nothing.
    auto statusOf = [](auto call) {
        try {
            call();
        } catch (const BridgeCallError& error) {
            return error.status();
        }
        return std::int32_t(0);
    };
    EXPECT_EQ(statusOf([&] { bridge->getItem(0x13060099); }), kBridgeNoSuchItem);
    EXPECT_EQ(statusOf([&] { bridge->setItem(kCpuTemperatureItem, 0, 1); }), kBridgeReadOnly);
    EXPECT_EQ(bridge->getItem(kCpuTemperatureItem), 512u);

    const std::vector<CallRecord> calls = board->bridge().calls();
    ASSERT_EQ(calls.size(), 8u);
    EXPECT_EQ(BridgeMethod(calls[3].method), BridgeMethod::SetItem);
    EXPECT_EQ(calls[3].argumentCount, 3);
    EXPECT_EQ(calls[3].arguments[0], kEffectWordItem);
    EXPECT_EQ(calls[3].arguments[1], 0x00FF0003u);
    EXPECT_EQ(calls[3].arguments[2], 1u);
    EXPECT_EQ(calls[0].result, 512u);
    EXPECT_EQ(calls[5].status, kBridgeNoSuchItem);
    EXPECT_EQ(calls[6].status, kBridgeReadOnly);
    for (std::size_t i = 1; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].sequence, calls[i - 1].sequence + 1);
        EXPECT_GE(calls[i].timeMs, calls[i - 1].timeMs);
    }
    board->bridge().clearCalls();
    EXPECT_TRUE(board->bridge().calls().empty());
}

TEST_F(FirmwareItems, AnswersFillTheArrayGrowItWhenLongerAndHonourTheShortenKnob) {
    const std::vector<std::uint8_t> descriptor = board->items().find(kLightingOnItem)->descriptor;
    const std::uint32_t code = methodCodeOf(kLightingOnItem);

    BridgeBuffer roomy = bridge->callMethod(code, request(0, 4096));
    EXPECT_EQ(roomy.bytes.size(), 4096u);
    EXPECT_EQ(roomy.length, descriptor.size());
    EXPECT_EQ(roomy.bytes[descriptor.size()], 0x5A) << "bytes past the answer stay as they came";

    BridgeBuffer tight = bridge->callMethod(code, request(0, 8));
    EXPECT_EQ(tight.bytes.size(), descriptor.size());
    EXPECT_EQ(returned(tight), descriptor);

    BridgeFaults faults{};
    faults.shorten = 1;
    faults.shortenTo = 20;
    board->bridge().setFaults(faults);
    EXPECT_EQ(bridge->callMethod(code, request()).length, 20u);
    EXPECT_EQ(bridge->gGrp(0x13, request(0xE1)).length, 20u);
    EXPECT_EQ(board->bridge().calls().back().lengthOut, 20u);
    EXPECT_EQ(board->bridge().calls().back().headerIn, 0xE1u);

    // The buffer of iAcpiSetItemBuffer goes back as it came; iAcpiMbif names the board.
    board->bridge().setFaults({});
    BridgeBuffer echoed = bridge->setItemBuffer(7, request(0x11223344, 16));
    EXPECT_EQ(echoed.length, 16u);
    EXPECT_EQ(vbtest::le32(echoed.bytes, 0), 0x11223344u);
    auto info = readPackage(returned(bridge->mbif(request())));
    ASSERT_TRUE(info);
    ASSERT_GE(info->elements.size(), 2u);
    EXPECT_EQ(info->elements[1].text, board->facts().productName);
}

TEST_F(FirmwareItems, FaultKnobsProduceTheirFaults) {
    auto statusOf = [](auto call) {
        try {
            call();
        } catch (const BridgeCallError& error) {
            return error.status();
        }
        return std::int32_t(0);
    };
    BridgeFaults faults{};
    std::strcpy(faults.unknownMethod, "iAcpiGetItem");
    faults.failGroupSet = 1;
    faults.failGroup = 0x13;
    board->bridge().setFaults(faults);
    EXPECT_EQ(statusOf([&] { bridge->getItem(kLightingOnItem); }), kBridgeUnknownMethod);
    EXPECT_EQ(statusOf([&] { bridge->setItem(kLightingOnItem, 0, 1); }), 0)
        << "only the named method is unknown";
    EXPECT_EQ(statusOf([&] { bridge->gGrp(0x13, request(0xE1)); }), kBridgeGroupFailed);
    EXPECT_EQ(statusOf([&] { bridge->gGrp(0x06, request(0xE1)); }), 0);
    EXPECT_EQ(board->bridge().calls().front().status, kBridgeUnknownMethod)
        << "refused calls are logged";

    // Each way of spoiling a descriptor defeats a careful reader, and only for that item.
    const std::uint32_t code = methodCodeOf(kLightingOnItem);
    for (MalformedKind kind :
         {MalformedKind::ElementCount, MalformedKind::ElementLength, MalformedKind::StringNul}) {
        faults = {};
        faults.malformedItem = kLightingOnItem;
        faults.malformedKind = std::uint32_t(kind);
        board->bridge().setFaults(faults);
        auto spoilt = readPackage(returned(bridge->callMethod(code, request())));
        const bool caught =
            !spoilt || std::any_of(spoilt->elements.begin() + 8, spoilt->elements.end(),
                                   [](const vbtest::Element& e) { return !e.text; });
        EXPECT_TRUE(caught) << "kind " << std::uint32_t(kind);
        EXPECT_TRUE(readPackage(
            returned(bridge->callMethod(methodCodeOf(kLightingControlItem), request()))));
    }

    // A slow bridge answers, late.
    faults = {};
    faults.delayMs = 60;
    board->bridge().setFaults(faults);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(bridge->getItem(kCpuTemperatureItem), 512u);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(60));

    faults = {};
    faults.offline = 1;
    board->bridge().setFaults(faults);
    EXPECT_FALSE(bridge->online());
}

TEST(FirmwareEffects, EachEffectWordRendersItsOwnColor) {
    const std::uint32_t orange = 0x0080FF00; // red 0xFF, green 0x80, blue 0x00
    auto word = [&](FirmwareEffect effect) {
        return orange | std::uint32_t(effect);
    };

    for (std::uint64_t t : {0ull, 777ull, 123456ull})
        EXPECT_EQ(renderEffect(word(FirmwareEffect::Static), t), (LedColor{0xFF, 0x80, 0x00}));

    EXPECT_EQ(renderEffect(word(FirmwareEffect::Pulsating), 0), (LedColor{0xFF, 0x80, 0x00}));
    EXPECT_EQ(renderEffect(word(FirmwareEffect::Pulsating), kPulsePeriodMs / 2), LedColor{});
    const LedColor quarter = renderEffect(word(FirmwareEffect::Pulsating), kPulsePeriodMs / 4);
    EXPECT_GT(quarter.red, 0x60);
    EXPECT_LT(quarter.red, 0xA0);
    EXPECT_EQ(renderEffect(word(FirmwareEffect::Pulsating), kPulsePeriodMs),
              renderEffect(word(FirmwareEffect::Pulsating), 0));

    EXPECT_EQ(renderEffect(word(FirmwareEffect::Strobing), 0), (LedColor{0xFF, 0x80, 0x00}));
    EXPECT_EQ(renderEffect(word(FirmwareEffect::Strobing), kStrobeOnMs), LedColor{});
    EXPECT_EQ(renderEffect(word(FirmwareEffect::Strobing), kStrobePeriodMs + 1),
              (LedColor{0xFF, 0x80, 0x00}));

    // The rainbow ignores the colour and walks the hue circle.
    EXPECT_EQ(renderEffect(word(FirmwareEffect::Rainbow), 0), (LedColor{0xFF, 0, 0}));
    EXPECT_EQ(renderEffect(4, kRainbowPeriodMs / 3), (LedColor{0, 0xFF, 0}));
    EXPECT_EQ(renderEffect(4, 2 * kRainbowPeriodMs / 3), (LedColor{0, 0, 0xFF}));

    EXPECT_EQ(renderEffect(orange | 9, 0), LedColor{}) << "an unknown effect stays dark";
    EXPECT_EQ(renderEffect(orange, 0), LedColor{});
}

TEST_F(FirmwareItems, TheShownColorFollowsTheLightingItems) {
    board->knobs().setEcRegister(0, kRedRegister, 0x10);
    board->knobs().setEcRegister(0, kGreenRegister, 0x20);
    board->knobs().setEcRegister(0, kBlueRegister, 0x30);
    EXPECT_EQ(board->readout().ledColor(), (LedColor{0x10, 0x20, 0x30}))
        << "software drives at power-on";

    bridge->setItem(kLightingControlItem, 0, 1);
    bridge->setItem(kEffectWordItem, 0x0000FF01, 1); // Static red
    LedView view = board->readout().ledView();
    EXPECT_EQ(view.source, LedView::Source::Firmware);
    EXPECT_EQ(view.color, (LedColor{0xFF, 0, 0}));

    // Strobing starts lit when programmed and is dark within its period.
    bridge->setItem(kEffectWordItem, 0x00FF0003, 1);
    const std::uint64_t at = board->items().find(kEffectWordItem)->writtenAtMs;
    EXPECT_EQ(board->readout().ledViewAt(at).color, (LedColor{0, 0xFF, 0}));
    EXPECT_EQ(board->readout().ledViewAt(at + kStrobeOnMs).color, LedColor{});

    bridge->setItem(kLightingOnItem, 0, 1);
    EXPECT_EQ(board->readout().ledView().source, LedView::Source::Dark);
    EXPECT_EQ(board->readout().ledColor(), LedColor{});
    EXPECT_EQ(board->readout().ecColor(), (LedColor{0x10, 0x20, 0x30}))
        << "the EC keeps its registers";

    bridge->setItem(kLightingOnItem, 1, 1);
    bridge->setItem(kLightingControlItem, 1, 3);
    EXPECT_EQ(board->readout().ledColor(), (LedColor{0x10, 0x20, 0x30}));
}

TEST_F(FirmwareItems, TemperatureComesFromTheHostSensorWhenAskedAndOneExists) {
    testing_support::TemporaryDirectory sys;
    auto write = [&](const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    };
    EXPECT_EQ(hostCpuTemperature(sys.path().string()), std::nullopt);
    write(sys.path() / "class/thermal/thermal_zone0/type", "acpitz");
    write(sys.path() / "class/thermal/thermal_zone0/temp", "27800");
    EXPECT_EQ(hostCpuTemperature(sys.path().string()), 278u);
    write(sys.path() / "class/thermal/thermal_zone1/type", "x86_pkg_temp");
    write(sys.path() / "class/thermal/thermal_zone1/temp", "51250");
    EXPECT_EQ(hostCpuTemperature(sys.path().string()), 513u) << "the package zone wins";
    write(sys.path() / "class/hwmon/hwmon0/name", "nvme");
    write(sys.path() / "class/hwmon/hwmon0/temp1_input", "39000");
    write(sys.path() / "class/hwmon/hwmon3/name", "coretemp");
    write(sys.path() / "class/hwmon/hwmon3/temp1_input", "64949");
    EXPECT_EQ(hostCpuTemperature(sys.path().string()), 649u) << "a CPU sensor driver wins";

    // Pinned, the item reads what was set whatever the host has.
    board->items().setTemperature(733);
    EXPECT_FALSE(board->items().hostTemperature());
    EXPECT_EQ(bridge->getItem(kCpuTemperatureItem), 733u);
    board->items().setTemperature(std::nullopt);
    EXPECT_TRUE(board->items().hostTemperature());
    // A real sensor moves between reads; without one the set value stays.
    if (hostCpuTemperature()) {
        EXPECT_LT(bridge->getItem(kCpuTemperatureItem), 1500u);
    } else {
        EXPECT_EQ(bridge->getItem(kCpuTemperatureItem), 733u);
    }
}

TEST_F(FirmwareItems, ImagesWithoutTheFirmwareSectionAreRefusedByVersion) {
    board.reset();
    bridge.reset();
    {
        std::fstream file(imagePath(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(8);
        const std::uint32_t old = 1;
        file.write(reinterpret_cast<const char*>(&old), sizeof old);
    }
    try {
        Board::open(imagePath());
        FAIL() << "an image of version 1 was opened";
    } catch (const BoardError& error) {
        EXPECT_THAT(error.what(), ::testing::HasSubstr("version 1"));
    }
}

} // namespace
