// What the virtual board costs the programs that use it: one port access through the
// stand-in, one whole LED colour as the service writes it, and the snapshot a monitor
// takes per frame. Run from the build tree:
//
//     build/linux/bin/virtualboard_bench

#include "hwio_binding.h"
#include "virtualboard/board.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>

namespace {

struct BenchBoard {
    BenchBoard() {
        directory = std::filesystem::temp_directory_path() /
                    ("lumivane-bench-" + std::to_string(std::rand()));
        board = virtualboard::Board::create(directory / "board.img", {});
        setenv("VBOARD_IMAGE", (directory / "board.img").c_str(), 1);
        hwio.open(0);
    }
    ~BenchBoard() {
        std::error_code ec;
        std::filesystem::remove_all(directory, ec);
    }
    std::filesystem::path directory;
    std::unique_ptr<virtualboard::Board> board;
    vbtest::HwioBinding hwio;
};

BenchBoard& bench() {
    static BenchBoard instance;
    return instance;
}

void PortWrite(benchmark::State& state) {
    auto& hwio = bench().hwio;
    std::uint8_t value = 0;
    for (auto _ : state)
        hwio.outPortB(0x80, value++);
}
BENCHMARK(PortWrite);

void StatusRead(benchmark::State& state) {
    auto& hwio = bench().hwio;
    for (auto _ : state)
        benchmark::DoNotOptimize(hwio.inPortB(0x6C));
}
BENCHMARK(StatusRead);

// Six transactions: 18 port writes and 36 status reads with a never-busy controller.
void ColorWrite(benchmark::State& state) {
    auto& hwio = bench().hwio;
    std::uint8_t level = 0;
    for (auto _ : state) {
        hwio.writeColor(level, std::uint8_t(level + 1), std::uint8_t(level + 2), false);
        ++level;
    }
}
BENCHMARK(ColorWrite);

void MonitorFrame(benchmark::State& state) {
    auto& board = *bench().board;
    for (auto _ : state) {
        benchmark::DoNotOptimize(board.readout().ledColor());
        benchmark::DoNotOptimize(board.readout().globalLockWord());
        board.firmwareLock().service();
    }
}
BENCHMARK(MonitorFrame);

} // namespace

BENCHMARK_MAIN();
