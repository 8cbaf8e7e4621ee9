// Takes and gives back the board's global lock many times, as the service does
// (locked compare-and-exchange on the FACS word through a MapPhysToLin view), and
// checks inside each hold that nobody else is inside.
//
//     vboard_lock_contender FACS-ADDRESS ITERATIONS
//
// Shared scratch words in the register window: +0x800 the holder, +0x804 the number
// of completed holds, +0x808 the number of violations seen, +0x80C the number of
// attempts that found the lock taken (how much the two really contended).

#include "hwio_binding.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr std::uint32_t kScratch = 0xFDAE0800;

std::uint32_t myId() {
    static const std::uint32_t id = std::uint32_t(std::rand()) | 0x10000u;
    return id;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    std::srand(unsigned(std::time(nullptr)) ^ unsigned(reinterpret_cast<std::uintptr_t>(&argc)));
    std::uint32_t facsAddress = std::uint32_t(std::strtoul(argv[1], nullptr, 0));
    unsigned long iterations = std::strtoul(argv[2], nullptr, 0);

    vbtest::HwioBinding hwio(virtualboard::hwioSystemName());
    if (!hwio.open || hwio.open(0) == 0)
        return 1;
    void* handle = nullptr;
    std::uint64_t token = 0;
    auto* facs = static_cast<std::uint8_t*>(hwio.mapPhysToLin(facsAddress, 24, &handle, &token));
    auto* scratch = static_cast<std::uint32_t*>(hwio.mapMem(kScratch, 16));
    if (!facs || !scratch)
        return 1;
    std::atomic_ref<std::uint32_t> lock(*reinterpret_cast<std::uint32_t*>(facs + 16));
    std::atomic_ref<std::uint32_t> holder(scratch[0]);
    std::atomic_ref<std::uint32_t> violations(scratch[2]);
    std::atomic_ref<std::uint32_t> contended(scratch[3]);

    for (unsigned long i = 0; i < iterations; ++i) {
        std::uint32_t expected = lock.load();
        for (;;) {
            std::uint32_t wanted = (expected & 2) ? 3 : 2;
            std::uint32_t old = expected;
            bool exchanged = lock.compare_exchange_strong(old, wanted);
            if (exchanged && !(old & 2))
                break;
            expected = exchanged ? wanted : old;
            contended.fetch_add(1);
            std::this_thread::yield();
        }
        if (holder.exchange(myId()) != 0)
            violations.fetch_add(1);
        // A plain read-modify-write that two holders at once would break.
        std::uint32_t count = scratch[1];
        std::this_thread::yield();
        scratch[1] = count + 1;
        if (holder.exchange(0) != myId())
            violations.fetch_add(1);
        std::uint32_t old = lock.load();
        while (!lock.compare_exchange_weak(old, old & ~3u)) {
        }
    }
    hwio.unmapPhysicalMemory(handle, facs, token);
    hwio.unmapMem(scratch, 0);
    return 0;
}
