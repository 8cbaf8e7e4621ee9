#pragma once

#include <string>

namespace board {

// The service's handle on the LED registers. Building one identifies the board
// (which also loads the full I/O binding that the firmware lock needs); the colour
// writes themselves go out on every board.
class EcLedPort {
public:
    EcLedPort();
    EcLedPort(const EcLedPort&) = delete;
    EcLedPort& operator=(const EcLedPort&) = delete;

    bool boardMatches() const { return boardMatches_; }

private:
    bool boardMatches_ = false;
};

// Joins the calling thread to a single-threaded COM apartment and never leaves it;
// nothing to do where there is no COM.
void enterSingleThreadedApartment();

} // namespace board
