// Idle cost of the lighting controller on the virtual board: CPU time and wake-ups
// (voluntary context switches of every thread but the one measuring, which sleeps
// through each mode and so wakes once itself; preemptions counted apart) per second, with the
// firmware item reads and EC writes it made, in mode 0 (nothing should run) and mode 2 (one
// temperature read and one colour every 3 s). Mode 1's figure is the music effect's
// own (music_cpu_bench).
//
//   build/linux/bin/led_idle_bench [seconds per mode]

#include "led_controller_fixture.h"

#include <cstdio>
#include <sys/resource.h>

namespace {

struct Usage {
    double cpu = 0;
    long wakeups = 0;
    long preempted = 0;
};

// The process's threads, ended ones included, less the calling thread.
Usage usage() {
    rusage all{}, self{};
    getrusage(RUSAGE_SELF, &all);
    getrusage(RUSAGE_THREAD, &self);
    auto seconds = [](const rusage& r) {
        return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
               double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    };
    return {seconds(all) - seconds(self), all.ru_nvcsw - self.ru_nvcsw,
            all.ru_nivcsw - self.ru_nivcsw};
}

} // namespace

int main(int argc, char** argv) {
    using namespace led_testing;
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 15;
    virtualboard::Board& board = sharedBoard();
    service::setCapturePrintSink([](const std::string&) {});
    os::CapturedDiagnostics diagnostics;
    testing_support::TemporaryDirectory dir;
    SharedBridge bridge;
    bridge.setValue(board::kCpuTemperatureItem, 455);
    board::AcpiItemLibrary library{bridge};
    board::BiosItemRegistry registry{library};
    settings::LightingSettings settings{dir.path() / "Lighting.xml"};
    service::LedController controller{{
        settings,
        registry,
        [] {
            return std::make_unique<service::MusicEffect>(
                service::CaptureEndpoint::RenderLoopback, std::make_unique<DiscardingOutput>(),
                [](const std::function<void()>& work) { work(); });
        },
    }};

    std::printf("mode  seconds  CPU ms/s  wake-ups/s  preempted/s  reads/s  EC writes/s\n");
    for (std::int32_t mode : {0, 2}) {
        controller.setMode(mode);
        std::this_thread::sleep_for(100ms); // past the start's own work
        const Usage before = usage();
        const std::size_t reads = bridge.reads(board::kCpuTemperatureItem);
        const auto writes = board.readout().counters().ecTransactions;
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const Usage after = usage();
        std::printf("%4d  %7d  %8.3f  %10.2f  %11.2f  %7.2f  %11.2f\n", mode, seconds,
                    1000.0 * (after.cpu - before.cpu) / seconds,
                    double(after.wakeups - before.wakeups) / seconds,
                    double(after.preempted - before.preempted) / seconds,
                    double(bridge.reads(board::kCpuTemperatureItem) - reads) / seconds,
                    double(board.readout().counters().ecTransactions - writes) / seconds);
    }
    controller.setMode(0);
    return 0;
}
