// Firmware items: a lookup once the group is known, enumerating a group, and one value
// read across a real bus to a bridge object of the benchmark's own.
//
//   build/linux/bin/items_bench

#include "board/acpi_items.h"
#include "board/bios_item_registry.h"
#include "dbus/acpi_bridge_adaptor.h"
#include "fake_acpi_bridge.h"
#include "private_bus.h"

#include <benchmark/benchmark.h>

using namespace board;
using namespace testing_support;

namespace {

// A group the size of the board's lighting group and then some.
void publishBoard(FakeAcpiBridge& bridge, int items) {
    std::vector<std::vector<std::uint8_t>> descriptors;
    for (int i = 0; i < items; ++i)
        descriptors.push_back(
            i % 3 == 2 ? stringDescriptor(0x13080000u | std::uint32_t(i), {"Off", "On", "Auto"})
                       : numberDescriptor(0x13060000u | std::uint32_t(i), 0xFE000019, 5, 8));
    publishGroup(bridge, 0x13, descriptors);
}

void FindAfterEnumeration(benchmark::State& state) {
    FakeAcpiBridge bridge;
    publishBoard(bridge, 64);
    AcpiItemLibrary library(bridge);
    BiosItemRegistry registry(library);
    registry.Find(0x13060040);
    std::uint32_t index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(registry.Find(0x13060000u | (index++ & 63)));
    }
}
BENCHMARK(FindAfterEnumeration);

void EnumerateGroup(benchmark::State& state) {
    FakeAcpiBridge bridge;
    publishBoard(bridge, int(state.range(0)));
    AcpiItemLibrary library(bridge);
    for (auto _ : state) {
        BiosItemRegistry registry(library);
        benchmark::DoNotOptimize(registry.Find(0x13060000));
        bridge.forget();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(EnumerateGroup)->Arg(8)->Arg(64);

// A bridge whose every item reads 41.5 degrees; the other methods are not called.
class FixedBridge final : public sdbus::AdaptorInterfaces<tavlexCom::axdata_adaptor> {
public:
    explicit FixedBridge(sdbus::IConnection& connection)
        : AdaptorInterfaces(connection, std::string(kAcpiBridgeObjectPath)) {
        registerAdaptor();
    }
    ~FixedBridge() { unregisterAdaptor(); }

private:
    using Buffer = std::tuple<std::vector<std::uint8_t>, std::uint32_t>;
    void iAcpiInit() override {}
    std::uint32_t iAcpiGetItem(const std::uint32_t&) override { return 415; }
    std::uint32_t iAcpiGetItemEx(const std::uint32_t&, const std::uint32_t&) override {
        return 415;
    }
    void iAcpiSetItem(const std::uint32_t&, const std::uint32_t&, const std::uint32_t&) override {}
    Buffer iAcpiSetItemBuffer(const std::uint32_t&, const std::vector<std::uint8_t>& bytes,
                              const std::uint32_t& length) override {
        return {bytes, length};
    }
    Buffer iAcpiMbif(const std::vector<std::uint8_t>& bytes, const std::uint32_t& length) override {
        return {bytes, length};
    }
    Buffer iAcpiGGrp(const std::uint32_t&, const std::vector<std::uint8_t>& bytes,
                     const std::uint32_t& length) override {
        return {bytes, length};
    }
    Buffer iAcpiCallMethod(const std::uint32_t&, const std::vector<std::uint8_t>& bytes,
                           const std::uint32_t& length) override {
        return {bytes, length};
    }
};

void GetValueOverDbus(benchmark::State& state) {
    PrivateBus bus;
    if (!bus.running()) {
        state.SkipWithError("dbus-daemon did not start");
        return;
    }
    auto connection = sdbus::createSessionBusConnection(std::string(kAcpiBridgeName));
    FixedBridge bridge(*connection);
    connection->enterEventLoopAsync();

    FakeAcpiBridge layout;
    publishGroup(layout, 0x06, {numberDescriptor(0x06030012, 0, 1, 1200)});
    // The item is built over the fake; its reads go to the real bus.
    auto item = BiosItemRegistry::MakeItem(AcpiItemLibrary::platform(), 0x06030012,
                                           layout.descriptors.begin()->second);
    std::uint32_t value = 0;
    for (auto _ : state) {
        if (!item->GetValue(&value)) {
            state.SkipWithError("GetValue failed");
            break;
        }
    }
    benchmark::DoNotOptimize(value);
    connection->leaveEventLoop();
}
BENCHMARK(GetValueOverDbus)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
