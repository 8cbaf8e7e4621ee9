#pragma once

// The element-list layout the ACPI bridge returns from iAcpiGGrp and iAcpiCallMethod:
//
//   package:  [0] header word   [4] u32 element count   [8] first element
//   element:  [0] u16 (unused)  [2] u16 data length     [4] data, at least 4 bytes
//
// An element spans 12 bytes when its data length is 4 or less, else 8 + length.
// The bytes come from another process, so every accessor stays inside the buffer the
// package arrived in: an element that would reach beyond it simply is not there.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace board {

inline constexpr std::size_t kAcpiPackageHeaderSize = 8;
inline constexpr std::size_t kAcpiElementHeaderSize = 4;

// One element inside its package's buffer: `offset` is where the element starts.
class AcpiPackageElement {
public:
    AcpiPackageElement(std::span<const std::uint8_t> buffer, std::size_t offset,
                       std::uint32_t position)
        : buffer_(buffer), offset_(offset), position_(position) {}

    std::size_t offset() const { return offset_; }
    std::uint32_t position() const { return position_; }
    std::uint16_t dataLength() const;
    // The data region (at least 4 bytes); a pointer into the package's buffer.
    const std::uint8_t* data() const { return buffer_.data() + offset_ + kAcpiElementHeaderSize; }
    std::span<const std::uint8_t> dataBytes() const;
    std::uint32_t value() const; // the 32-bit word at the start of the data
    // NUL-terminated text starting at the data; the NUL may lie anywhere before the end
    // of the buffer. None when the buffer ends first.
    std::optional<std::string_view> text() const;
    // Offset of the element after this one (may lie beyond the buffer).
    std::size_t nextOffset() const;

private:
    std::span<const std::uint8_t> buffer_;
    std::size_t offset_;
    std::uint32_t position_;
};

// A read-only view of a package. `valid()` when the header and every counted element
// lie inside the buffer.
class AcpiPackage {
public:
    explicit AcpiPackage(std::span<const std::uint8_t> buffer);

    bool valid() const { return valid_; }
    // The element count the header claims (0 when even the header is cut off).
    std::uint32_t declaredCount() const { return declared_; }
    // How many leading elements lie wholly inside the buffer.
    std::uint32_t readableCount() const { return readable_; }
    std::span<const std::uint8_t> bytes() const { return buffer_; }

    // The element at `position` (0-based), or none when it is not readable.
    std::optional<AcpiPackageElement> element(std::uint32_t position) const;
    std::optional<AcpiPackageElement> first() const { return element(0); }
    // The element after `e`, or none when `e` was the last readable one.
    std::optional<AcpiPackageElement> next(const AcpiPackageElement& e) const;

    // Whether an element starting at `offset` lies wholly inside `buffer`.
    static bool elementFits(std::span<const std::uint8_t> buffer, std::size_t offset);

private:
    std::span<const std::uint8_t> buffer_;
    std::uint32_t declared_ = 0;
    std::uint32_t readable_ = 0;
    bool valid_ = false;
};

// Writes packages in the same layout: used by whatever plays the bridge (tests, the
// virtual board) so that both sides agree on the bytes.
class AcpiPackageBuilder {
public:
    AcpiPackageBuilder& value(std::uint32_t v);
    AcpiPackageBuilder& text(std::string_view s); // stored with its NUL
    // An element with these exact data bytes and this declared length (for shaping
    // malformed packages the declared length may differ from data.size()).
    AcpiPackageBuilder& raw(std::span<const std::uint8_t> data, std::uint16_t declaredLength);
    // Overrides the element count written into the header.
    AcpiPackageBuilder& declareCount(std::uint32_t count);

    std::vector<std::uint8_t> build() const;

private:
    std::vector<std::uint8_t> elements_;
    std::uint32_t count_ = 0;
    std::optional<std::uint32_t> declared_;
};

// Little-endian helpers shared by the package code and its writers.
std::uint32_t readLe32(const std::uint8_t* p);
std::uint16_t readLe16(const std::uint8_t* p);

} // namespace board
