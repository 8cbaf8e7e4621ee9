#pragma once

// The firmware's side of the global lock: it takes the lock (asking for it while the
// system owns it), holds it for a while, and on release signals a waiting system
// through GBL_STS in PM1 status.

#include "virtualboard/image_layout.h"

#include <cstdint>

namespace virtualboard {

class BoardImage;

class FirmwareLock {
public:
    explicit FirmwareLock(BoardImage& image) : image_(image) {}

    // The firmware takes the lock now (waiting while the system owns it) and wants to
    // hold it for holdMs; service() lets it go once that time has passed.
    void take(std::uint32_t holdMs);
    // Releases the firmware's lock when its time is up: clears owned and pending and,
    // when pending was set, signals the waiter through GBL_STS in PM1 status. Returns
    // true when it released. Cheap when there is nothing to do.
    bool service();
    // True while the firmware owns (or still wants to take) the lock.
    bool active() const;
    layout::FirmwareLockState state() const;
    // Runs the firmware's part in a background thread of this process until the lock
    // is released, unless another process already does (a process-wide helper of the
    // HwIO stand-in). Returns at once.
    void startAgent();

private:
    bool releaseLocked(); // under the image's lock

    BoardImage& image_;
};

} // namespace virtualboard
