#pragma once

// The firmware items as the board holds them: what the ACPI bridge stand-in reads
// and writes, and what tests and the vboard tool change behind its back.

#include <cstdint>
#include <optional>
#include <vector>

namespace virtualboard {

class BoardImage;

// One firmware item as the board holds it.
struct FirmwareItem {
    std::uint32_t id = 0, value = 0, lastControl = 0, writes = 0;
    std::uint64_t writtenAtMs = 0;
    std::uint32_t methodCode = 0;
    std::vector<std::uint8_t> descriptor;
};

enum class ItemWrite { Done, NoSuchItem, ReadOnly };

class FirmwareItems {
public:
    explicit FirmwareItems(BoardImage& image) : image_(image) {}

    std::vector<FirmwareItem> all() const;
    // By group and index; the kind and attribute nibbles of `id` do not matter.
    std::optional<FirmwareItem> find(std::uint32_t id) const;
    std::optional<FirmwareItem> byMethodCode(std::uint32_t code) const;
    // The value a program reads: the host's CPU temperature for 0x06030012 when so set.
    std::optional<std::uint32_t> read(std::uint32_t id) const;
    // A program's write: refused for unknown and read-only items; the control word is
    // kept with the value.
    ItemWrite write(std::uint32_t id, std::uint32_t value, std::uint32_t control);
    // A test's or a user's change, read-only items included; false for unknown items.
    bool set(std::uint32_t id, std::uint32_t value);
    // Pins item 0x06030012 to `tenths`, or (none) lets it follow the host's sensor.
    void setTemperature(std::optional<std::uint32_t> tenths);
    bool hostTemperature() const;

private:
    BoardImage& image_;
};

} // namespace virtualboard
