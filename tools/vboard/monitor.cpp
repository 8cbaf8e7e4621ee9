#include "vboard.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ostream>
#include <thread>

namespace vboard {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
    interrupted = true;
}

std::string frame(const virtualboard::LedColor& led, std::uint32_t lockWord) {
    char text[160];
    // A true-colour block, then the numbers, on one line redrawn in place.
    std::snprintf(text, sizeof text,
                  "\r\x1b[48;2;%u;%u;%um            \x1b[0m  #%02X%02X%02X  red %3u green %3u "
                  "blue %3u  lock %s\x1b[K",
                  led.red, led.green, led.blue, led.red, led.green, led.blue, led.red, led.green,
                  led.blue, (lockWord & 2) ? "owned" : "free ");
    return text;
}

} // namespace

void monitorBoard(virtualboard::Board& board, unsigned rate, unsigned long frames,
                  std::ostream& out) {
    interrupted = false;
    auto previous = std::signal(SIGINT, onInterrupt);
    const auto period = std::chrono::nanoseconds(1000000000ull / rate);
    auto next = std::chrono::steady_clock::now();
    for (unsigned long shown = 0; !interrupted && (frames == 0 || shown < frames); ++shown) {
        board.firmwareLock().service();
        out << frame(board.readout().ledColor(), board.readout().globalLockWord()) << std::flush;
        next += period;
        std::this_thread::sleep_until(next);
    }
    out << "\x1b[0m\n" << std::flush;
    std::signal(SIGINT, previous);
}

} // namespace vboard
