#pragma once

#include <cstdint>
#include <optional>

// The board's own lighting effects through the firmware's lighting items, with the
// effect word kept in the panel's settings file so that the next start shows it.
//
// Colour word: red in bits 0-7, green 8-15, blue 16-23. Effect word: the effect number
// in bits 0-7 and the colour word above it.
class BoardLedDevice {
public:
    // Static, Pulsating, Strobing, Rainbow.
    static constexpr int kStatic = 1;
    static constexpr int kPulsating = 2;
    static constexpr int kStrobing = 3;
    static constexpr int kRainbow = 4;

    BoardLedDevice();
    BoardLedDevice(const BoardLedDevice&) = delete;
    BoardLedDevice& operator=(const BoardLedDevice&) = delete;

    bool isLightingOn();
    // The lighting item as read; nothing when it cannot be read (no bridge yet, no
    // item), which says nothing about the LEDs.
    std::optional<bool> readLightingOn();
    void setLightingOn(bool on);
    // Hands the LEDs to the firmware and programs the effect; whether the effect
    // write succeeded.
    bool applyEffect(int number, std::uint32_t colorWord);
    // Hands the LEDs to the software effects of the service.
    bool enableSoftwareControl();
    // The stored effect number, 0 when the file holds none the firmware knows.
    int storedEffect();
    std::uint32_t storedColor();
    // The stored effect word; nothing when the settings file is there but unreadable.
    std::optional<std::uint32_t> readStoredWord();
    // The effect number and the colour word of an effect word, as the two above.
    static int effectOf(std::uint32_t word);
    static std::uint32_t colorOf(std::uint32_t word) { return word >> 8; }

    bool boardMatches() const { return boardMatches_; }

private:
    bool boardMatches_ = false;
};
