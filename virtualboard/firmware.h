#pragma once

// The board firmware's items and its own lighting: the item table every new board
// starts with, the element packages the bridge hands out, and how the firmware turns
// its effect word into the colour the LEDs show.

#include "virtualboard/image_layout.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace virtualboard {

struct LedColor;

// Items the programs rely on.
inline constexpr std::uint32_t kCpuTemperatureItem = 0x06030012;
inline constexpr std::uint32_t kLightingOnItem = 0x13060040;
inline constexpr std::uint32_t kLightingControlItem = 0x13060041;
inline constexpr std::uint32_t kEffectWordItem = 0x13060042;

// Group and index identify an item; the kind and attribute nibbles do not.
constexpr std::uint32_t itemKey(std::uint32_t id) {
    return id & 0xFF00FFFFu;
}
constexpr std::uint32_t itemGroup(std::uint32_t id) {
    return id >> 24;
}

// The code the group list carries for an item, which iAcpiCallMethod turns back into
// its descriptor: 'D' in the top byte, then group and index.
constexpr std::uint32_t methodCodeOf(std::uint32_t id) {
    return 0x44000000u | (itemGroup(id) << 16) | (id & 0xFFFFu);
}

// Element 3 of every descriptor: what a program may do with the item.
inline constexpr std::uint32_t kItemReadable = 1;
inline constexpr std::uint32_t kItemWritable = 2;

// Builds an element package: header word, element count, then the elements. Each
// element is a 16-bit type (0 number, 1 text), a 16-bit data length and the data, and
// takes 12 bytes when its data is 4 bytes or less, else 8 + its length.
class PackageBuilder {
public:
    explicit PackageBuilder(std::uint32_t header = 0) : header_(header) {}
    PackageBuilder& number(std::uint32_t value);
    PackageBuilder& text(std::string_view text); // stored with its NUL
    std::vector<std::uint8_t> build() const;

private:
    std::uint32_t header_;
    std::uint32_t count_ = 0;
    std::vector<std::uint8_t> elements_;
};

// One item as the firmware publishes it.
struct ItemDefinition {
    std::uint32_t id;
    std::uint32_t value;              // at power-on
    std::uint32_t access;             // kItemReadable | kItemWritable
    std::uint32_t base = 0;           // numbers: base word (24-bit mantissa, 8-bit exponent)
    std::uint32_t step = 1;           // numbers: step word
    std::uint32_t count = 0;          // numbers: option count
    std::vector<std::string> strings; // numbers: extra strings; string items: the strings
    std::string label;                // for people reading `vboard show`
};

// Every item of a new board, groups 0x06 (readings) and 0x13 (lighting and settings).
const std::vector<ItemDefinition>& itemDefinitions();

// The item's descriptor package as iAcpiCallMethod returns it.
std::vector<std::uint8_t> descriptorOf(const ItemDefinition& item);

// The group list: one element per item of the group whose data is its method code.
std::vector<std::uint8_t> groupListOf(std::span<const std::uint32_t> methodCodes,
                                      std::uint32_t header);

using layout::MalformedKind;
// The descriptor spoilt in one way; unchanged when it has nothing to spoil (no text
// element for StringNul).
std::vector<std::uint8_t> spoilDescriptor(std::vector<std::uint8_t> descriptor, MalformedKind kind);

// Effect word: bits 0-7 the effect, 8-15 red, 16-23 green, 24-31 blue.
enum class FirmwareEffect : std::uint8_t { Static = 1, Pulsating = 2, Strobing = 3, Rainbow = 4 };

inline constexpr std::uint32_t kPulsePeriodMs = 2000;
inline constexpr std::uint32_t kStrobePeriodMs = 500;
inline constexpr std::uint32_t kStrobeOnMs = 100;
inline constexpr std::uint32_t kRainbowPeriodMs = 6000;

// The colour the firmware drives `elapsedMs` after the effect word was programmed.
// An effect number the firmware does not know leaves the LEDs dark.
LedColor renderEffect(std::uint32_t effectWord, std::uint64_t elapsedMs);

std::string effectName(std::uint32_t effectWord);

// The host's CPU temperature in tenths of a degree, from hwmon or the thermal zones
// under `sysRoot` ("/sys" on a real machine); none when the machine exposes none.
std::optional<std::uint32_t> hostCpuTemperature(const std::string& sysRoot = "/sys");

} // namespace virtualboard
