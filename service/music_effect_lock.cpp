#include "board/global_lock.h"
#include "service/music_effect.h"

namespace service {

void withGlobalLock(const std::function<void()>& work) {
    // After the attempts the analysis goes ahead without the lock: late colours are
    // worse than an analysis that overlaps the firmware.
    board::ScopedGlobalLock lock(MusicEffect::kLockAttempts);
    work();
}

} // namespace service
