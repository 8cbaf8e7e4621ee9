// Takes and gives back the global lock of the board named by VBOARD_IMAGE, as many
// times as asked, counting in the board's own memory how many holders are inside at
// once. Run twice in parallel by the global lock tests.

#include "board/global_lock.h"
#include "board/hwio.h"
#include "os/executable.h"
#include "virtualboard/board.h"
#include "virtualboard/hwio_install.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 100;
    board::HwIOLibrary library(os::fileBesideExecutable(virtualboard::hwioSystemName()));
    if (!library.load()) {
        std::fprintf(stderr, "global_lock_hammer: cannot load the I/O library\n");
        return 2;
    }
    auto board = virtualboard::Board::open(virtualboard::Board::defaultImagePath());
    auto* counters = reinterpret_cast<std::uint32_t*>(
        board->hardware().physical(virtualboard::kBiosAreaAddress + 0x100, 16));
    std::atomic_ref<std::uint32_t> inside(counters[0]), overlaps(counters[1]), taken(counters[2]),
        ready(counters[3]);

    // Start together, so the two processes really contend (for at most 10 s).
    ready.fetch_add(1);
    for (int spins = 0; ready.load() < 2 && spins < 10000; ++spins)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    for (int i = 0; i < rounds; ++i) {
        board::GlobalLockResult result = board::acpi::tryAcquire(library.functions(), 0);
        if (!result.obtained()) {
            std::fprintf(stderr, "global_lock_hammer: lock not obtained (%d)\n",
                         int(result.status));
            return 1;
        }
        if (inside.fetch_add(1) != 0)
            overlaps.fetch_add(1);
        std::this_thread::yield();
        inside.fetch_sub(1);
        taken.fetch_add(1);
        board::acpi::release(library.functions());
    }
    return 0;
}
