#pragma once

// What a test or the vboard tool reads off a board: the LEDs, the EC, PM1, the
// register window, the global lock word, the counters and the trace. Reading never
// changes the board and never fails.

#include "virtualboard/image_layout.h"

#include <cstdint>
#include <vector>

namespace virtualboard {

class BoardImage;

using layout::BusyMode;
using layout::Counters;
using layout::TraceKind;

struct LedColor {
    std::uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const LedColor&) const = default;
};

// What the LEDs show and why.
struct LedView {
    enum class Source { Dark, Firmware, Software };
    Source source = Source::Software;
    LedColor color;
    std::uint32_t effectWord = 0;
};

struct TraceEntry {
    std::uint64_t sequence = 0;
    std::uint64_t timeNs = 0;
    TraceKind kind = TraceKind::PortWrite;
    std::uint16_t port = 0;
    std::uint8_t value = 0;
    std::uint8_t bank = 0;
    std::uint8_t reg = 0;
    std::uint8_t oldValue = 0;
};

struct Pm1Registers {
    std::uint16_t status = 0, enable = 0, control = 0;
    std::uint8_t chipset = 0;
};

struct EcSnapshot {
    layout::EcPhase phase = layout::EcPhase::Idle;
    std::uint8_t bank = 0;
    BusyMode busyMode = BusyMode::Never;
    std::uint32_t busyReadsLeft = 0;
};

class Readout {
public:
    explicit Readout(BoardImage& image) : image_(image) {}

    std::uint8_t ecRegister(std::uint8_t bank, std::uint8_t reg) const;
    EcSnapshot ec() const;
    // The colour the LEDs show now: dark while the lighting is off (item 0x13060040
    // = 0), the firmware's effect while it drives them (0x13060041 = 0), else the EC
    // colour registers.
    LedColor ledColor() const;
    LedView ledView() const;
    LedView ledViewAt(std::uint64_t wallClockMs) const;
    // The EC colour registers 0x53, 0x5D, 0x5B of bank 0.
    LedColor ecColor() const;
    Counters counters() const;
    // The records still in the ring, oldest first.
    std::vector<TraceEntry> trace() const;
    std::uint32_t globalLockWord() const;
    Pm1Registers pm1() const;
    std::uint32_t windowRegister(std::uint32_t offset) const; // 32-bit, window-relative

private:
    BoardImage& image_;
};

} // namespace virtualboard
