#include "virtualboard/firmware_lock.h"

#include "virtualboard/board_image.h"
#include "virtualboard/board_options.h"
#include "virtualboard/platform.h"

#include <chrono>
#include <thread>

namespace virtualboard {

using namespace layout;

namespace {

// The firmware agent of a process that stops refreshing its claim for this long is
// taken to be gone, and another process carries on.
constexpr std::uint64_t kStaleClaimMs = 1000;

constexpr std::uint8_t kGlobalLockStatus = 0x20; // GBL_STS, PM1 status bit 5

constexpr std::uint32_t kPending = 1;
constexpr std::uint32_t kOwned = 2;

} // namespace

void FirmwareLock::take(std::uint32_t holdMs) {
    std::uint32_t* word = image_.globalLockWord();
    if (!word)
        return;
    std::atomic_ref<std::uint32_t> lock(*word);
    // As the firmware does: while the system owns the lock, ask for it (pending) and
    // wait for the system's release; then own it.
    for (;;) {
        std::uint32_t old = lock.load();
        if (old & kOwned) {
            if (!(old & kPending))
                lock.compare_exchange_strong(old, old | kPending);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (lock.compare_exchange_strong(old, kOwned))
            break;
    }
    BoardImage::Lock guard(image_);
    FirmwareLockState& firmware = image_.state().firmwareLock;
    firmware.holdMs = holdMs;
    firmware.phase = std::uint32_t(FirmwareLockPhase::Holding);
    firmware.armedAtMs = wallClockMs();
    firmware.claimedBy = 0;
    ++image_.state().counters.firmwareLockTakes;
    image_.record(TraceKind::FirmwareLock, 0, 1);
}

bool FirmwareLock::releaseLocked() {
    State& state = image_.state();
    FirmwareLockState& firmware = state.firmwareLock;
    if (FirmwareLockPhase(firmware.phase) != FirmwareLockPhase::Holding ||
        wallClockMs() < firmware.armedAtMs + firmware.holdMs)
        return false;
    std::uint32_t* word = image_.globalLockWord();
    std::uint32_t old = 0;
    if (word) {
        std::atomic_ref<std::uint32_t> lock(*word);
        old = lock.load();
        while (!lock.compare_exchange_weak(old, old & ~(kOwned | kPending))) {
        }
    }
    firmware.phase = std::uint32_t(FirmwareLockPhase::Done);
    ++state.counters.firmwareLockReleases;
    image_.record(TraceKind::FirmwareLock, 0, 0);
    if (old & kPending) {
        // The system asked while the firmware held the lock: tell it the lock is free.
        state.pm1.status[0] |= kGlobalLockStatus;
        ++state.counters.firmwareLockSignals;
        image_.record(TraceKind::FirmwareLock, image_.config().pm1aEventPort, 2);
    }
    return true;
}

bool FirmwareLock::service() {
    BoardImage::Lock guard(image_);
    return releaseLocked();
}

bool FirmwareLock::active() const {
    BoardImage::Lock guard(image_);
    return FirmwareLockPhase(image_.state().firmwareLock.phase) == FirmwareLockPhase::Holding;
}

FirmwareLockState FirmwareLock::state() const {
    BoardImage::Lock guard(image_);
    return image_.state().firmwareLock;
}

void FirmwareLock::startAgent() {
    static std::atomic<bool> running{false};
    if (!active() || running.exchange(true))
        return;
    std::filesystem::path path = image_.path();
    std::thread([path] {
        try {
            // An image of the thread's own: the board that started it may go first.
            std::unique_ptr<BoardImage> image = BoardImage::open(path);
            FirmwareLock agent(*image);
            const std::uint32_t me = currentProcessId();
            for (;;) {
                {
                    BoardImage::Lock guard(*image);
                    FirmwareLockState& firmware = image->state().firmwareLock;
                    if (FirmwareLockPhase(firmware.phase) != FirmwareLockPhase::Holding)
                        break;
                    std::uint64_t now = wallClockMs();
                    if (firmware.claimedBy == 0 || firmware.claimedBy == me ||
                        now > firmware.heartbeatMs + kStaleClaimMs) {
                        firmware.claimedBy = me;
                        firmware.heartbeatMs = now;
                        if (agent.releaseLocked())
                            break;
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        } catch (const BoardError&) {
            // The image went away: there is no firmware left to run.
        }
        running = false;
    }).detach();
}

} // namespace virtualboard
