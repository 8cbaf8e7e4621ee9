#pragma once

// The test knobs of the hardware: how the EC answers, whether HWIO_Open fails, and
// direct changes to registers, the lock word, the counters and the trace. The
// firmware's and the bridge's knobs live with the items and the bridge state.

#include "virtualboard/image_layout.h"

#include <cstdint>

namespace virtualboard {

class BoardImage;

class Knobs {
public:
    explicit Knobs(BoardImage& image) : image_(image) {}

    void setBusyMode(layout::BusyMode mode, std::uint32_t reads = 0);
    void setOpenFails(bool fails);
    void setGlobalLockWord(std::uint32_t value);
    void setEcRegister(std::uint8_t bank, std::uint8_t reg, std::uint8_t value);
    void resetCounters();
    void clearTrace();

private:
    BoardImage& image_;
};

} // namespace virtualboard
