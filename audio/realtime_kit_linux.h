#pragma once

// Real-time scheduling for an audio thread of an unprivileged process, through the
// desktop's broker on the system bus, as sound servers' clients get it.

#include <cstdint>
#include <string>

namespace service {

// Asks the broker to make the calling thread round-robin real-time at `priority`.
// The broker serves only processes whose real-time CPU budget (RLIMIT_RTTIME) is
// bounded, so the budget is first bounded to 200 ms without a blocking call, far
// above what a thread that waits for audio every few milliseconds spends. False,
// with the reason, when there is no broker or it refuses.
bool requestRealtime(std::uint32_t priority, std::string& why);

} // namespace service
