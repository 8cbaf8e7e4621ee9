// What one stored change costs: the service saves on every mode change and the
// panel opens, parses and (on writes) replaces its file on every access. The saves
// include pushing the file to the disk, so the numbers depend on the file system
// of the temporary directory.

#include "panel/panel_settings.h"
#include "settings/lighting_settings.h"
#include "test_environment.h"

#include <benchmark/benchmark.h>

namespace {

void setMode(benchmark::State& state) {
    testing_support::TemporaryDirectory directory;
    settings::LightingSettings settings(directory.path() / settings::LightingSettings::kFileName);
    std::int32_t mode = 0;
    for (auto _ : state)
        settings.setMode(mode++ % 3);
}
BENCHMARK(setMode)->Unit(benchmark::kMicrosecond);

void getMode(benchmark::State& state) {
    testing_support::TemporaryDirectory directory;
    settings::LightingSettings settings(directory.path() / settings::LightingSettings::kFileName);
    settings.setMode(2);
    for (auto _ : state)
        benchmark::DoNotOptimize(settings.getMode());
}
BENCHMARK(getMode);

void panelRead(benchmark::State& state) {
    testing_support::TemporaryDirectory directory;
    panel::PanelSettings settings(directory.path() / panel::PanelSettings::kFileName);
    settings.writeLedMode(panel::PanelSettings::kLedKey, 0x0000FF01);
    for (auto _ : state)
        benchmark::DoNotOptimize(settings.readLedMode(panel::PanelSettings::kLedKey));
}
BENCHMARK(panelRead)->Unit(benchmark::kMicrosecond);

void panelWrite(benchmark::State& state) {
    testing_support::TemporaryDirectory directory;
    panel::PanelSettings settings(directory.path() / panel::PanelSettings::kFileName);
    std::int32_t word = 0x0000FF01;
    for (auto _ : state)
        settings.writeLedMode(panel::PanelSettings::kLedKey, word++);
}
BENCHMARK(panelWrite)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
