// One LED colour through the EC host interface of the virtual board's I/O library
// stand-in (six transactions, each register behind its bank selection), and the
// colour conversion on its own.
//
//   build/linux/bin/board_bench

#include "board/color.h"
#include "board/ec_registers.h"
#include "os/executable.h"
#include "virtualboard/board.h"
#include "virtualboard/hwio_install.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

// One board for the whole run: the stand-in keeps the image it opened for as long
// as VBOARD_IMAGE names the same file, so the board must not be created again.
class BenchBoard {
public:
    static BenchBoard& instance() {
        static BenchBoard bench;
        return bench;
    }
    virtualboard::Board& board() { return *board_; }
    ~BenchBoard() {
        board_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

private:
    BenchBoard() {
        std::filesystem::create_directories(dir_);
        board_ = virtualboard::Board::create(dir_ / "board.img", {});
        setenv("VBOARD_IMAGE", (dir_ / "board.img").c_str(), 1);
    }

    std::filesystem::path dir_ = std::filesystem::temp_directory_path() /
                                 ("lumivane-board-bench-" + std::to_string(getpid()));
    std::unique_ptr<virtualboard::Board> board_;
};

void colourThroughStandIn(benchmark::State& state, virtualboard::BusyMode busy) {
    virtualboard::Board& board = BenchBoard::instance().board();
    board.knobs().setBusyMode(busy);
    static board::EcPortBinding ports(
        os::fileBesideExecutable(virtualboard::hwioBareName()).string());
    if (!ports.canWrite() && ports.loadHwio() != board::kHwioLoaded) {
        state.SkipWithError("the I/O library stand-in is not beside the benchmark");
        return;
    }
    board.knobs().resetCounters();
    std::uint8_t value = 0;
    for (auto _ : state) {
        ++value;
        ports.ecWriteBanked(board::kLedBank, board::kLedBlueRegister, value);
        ports.ecWriteBanked(board::kLedBank, board::kLedGreenRegister, value);
        ports.ecWriteBanked(board::kLedBank, board::kLedRedRegister, value);
    }
    auto counters = board.readout().counters();
    double colors = double(state.iterations());
    state.counters["portWrites/colour"] = double(counters.portWrites) / colors;
    state.counters["statusReads/colour"] = double(counters.ecStatusReads) / colors;
    state.counters["transactions/colour"] = double(counters.ecTransactions) / colors;
    state.counters["colours/s"] = benchmark::Counter(colors, benchmark::Counter::kIsRate);
}

void BM_ColorIdleController(benchmark::State& state) {
    colourThroughStandIn(state, virtualboard::BusyMode::Never);
}
BENCHMARK(BM_ColorIdleController)->UseRealTime();

// Every wait step finds the input buffer full: the worst case, 36 pauses of 1 ms.
void BM_ColorBusyController(benchmark::State& state) {
    colourThroughStandIn(state, virtualboard::BusyMode::Always);
}
BENCHMARK(BM_ColorBusyController)->Unit(benchmark::kMillisecond)->Iterations(20)->UseRealTime();

void BM_HslToRgb(benchmark::State& state) {
    float hue = 0.0f;
    for (auto _ : state) {
        std::uint8_t red, green, blue;
        board::hslToRgb(hue, 1.0f, 0.5f, red, green, blue);
        benchmark::DoNotOptimize(red);
        benchmark::DoNotOptimize(green);
        benchmark::DoNotOptimize(blue);
        hue += 0.0001f;
        if (hue > 1.0f)
            hue = 0.0f;
    }
    state.counters["calls/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_HslToRgb);

} // namespace

BENCHMARK_MAIN();
