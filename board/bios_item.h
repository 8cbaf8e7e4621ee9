#pragma once

// Firmware items as typed objects. An item is built from the descriptor the bridge
// returns for it (an AcpiPackage, see acpi_package.h), keeps its own copy of that
// descriptor, and reads and writes its value through the ACPI item library.
//
// Item id: group in bits 24-31, attribute nibble 20-23, kind nibble 16-19 (7 boolean,
// 8 string, 13 composite, anything else a number whose kind also scales its unit),
// index within the group in bits 0-15.
//
// Descriptor elements by position: 0 the item id, 1 and 2 unused, 3 GetField3, then
//   number:  4 base word, 5 step word, 6 option count [, 7 n, then n extra strings]
//   string:  4 n, then n strings
// A base or step word is a decimal number: a 24-bit mantissa and a signed 8-bit power
// of ten in the top byte.

#include "board/acpi_package.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace board {

class AcpiItemLibrary;

namespace item_id {
constexpr std::uint32_t group(std::uint32_t id) {
    return id >> 24;
}
constexpr std::uint32_t attribute(std::uint32_t id) {
    return (id >> 20) & 0xF;
}
constexpr std::uint32_t kind(std::uint32_t id) {
    return (id >> 16) & 0xF;
}
constexpr std::uint32_t index(std::uint32_t id) {
    return id & 0xFFFF;
}
// The registry knows an item by group and index only.
constexpr std::uint32_t key(std::uint32_t id) {
    return id & 0xFF00FFFF;
}
} // namespace item_id

inline constexpr std::uint32_t kBooleanKind = 7;
inline constexpr std::uint32_t kStringKind = 8;
inline constexpr std::uint32_t kCompositeKind = 13;

// Items the programs use.
inline constexpr std::uint32_t kCpuTemperatureItem = 0x06030012; // tenths of a degree
inline constexpr std::uint32_t kLightingEnableItem = 0x13060040;
inline constexpr std::uint32_t kLightingControlItem = 0x13060041;
inline constexpr std::uint32_t kLightingEffectItem = 0x13060042;

// One decoded base or step word.
struct DecimalWord {
    std::int64_t mantissa = 0;
    int exponent = 0;

    // The mantissa is signed 24-bit, except that values below -10000 are read as
    // unsigned: the firmware uses the top of the range for large positive numbers.
    static DecimalWord decode(std::uint32_t word);
};

// Base and step brought to one power of ten, with the kind's unit scaling applied:
// option k of the numeric range is (base + k * step) * 10^exponent.
struct NumberScale {
    std::int64_t base = 0;
    std::int64_t step = 0;
    int exponent = 0;

    static NumberScale normalise(std::uint32_t baseWord, std::uint32_t stepWord,
                                 std::uint32_t kind);
};

// The digits of |value| rounded to `decimals` places, without sign or point, the
// position of the decimal point relative to them, and whether the value is negative.
// Leading zeros are dropped, so a value that rounds to zero has no digits (and a point
// position of -decimals); an exact zero is written as one "0" per place plus one.
struct FixedDigits {
    std::string digits;
    int pointPosition = 0;
    bool negative = false;

    static FixedDigits convert(double value, int decimals);
};

// Walks a descriptor's elements by position; every step is bounds-checked.
class ElementCursor {
public:
    ElementCursor(const AcpiPackage& package, std::optional<AcpiPackageElement> at)
        : package_(&package), at_(at) {}

    bool valid() const { return at_.has_value(); }
    // Moves `count` elements on; false (and invalid) when the package ends first.
    bool advance(std::uint32_t count = 1);
    std::optional<std::uint32_t> value() const;
    std::optional<std::string_view> text() const;

private:
    const AcpiPackage* package_;
    std::optional<AcpiPackageElement> at_;
};

template <class CharT>
class BasicBiosItem {
public:
    using String = std::basic_string<CharT>;

    BasicBiosItem(AcpiItemLibrary& library, std::uint32_t id) : library_(&library), id_(id) {}
    virtual ~BasicBiosItem() = default;
    BasicBiosItem(const BasicBiosItem&) = delete;
    BasicBiosItem& operator=(const BasicBiosItem&) = delete;

    virtual std::uint32_t GetCount() const { return 0; }
    // The 32-bit value of descriptor element 3 (0 when the descriptor has none).
    virtual std::uint32_t GetField3() const = 0;
    virtual bool HasAttribute8() const { return item_id::attribute(id_) == 8; }
    // The library's result (1 or 0) passed on.
    virtual int SetValue(std::uint32_t value, std::uint32_t control);
    virtual bool SetValue1(std::uint32_t value);
    // A failed read leaves *value as it was.
    virtual bool GetValue(std::uint32_t* value);
    virtual void IndexToRational(std::uint32_t index, std::uint32_t* numerator,
                                 std::uint32_t* denominator);
    virtual double IndexToValue(std::uint32_t index);
    virtual String IndexToString(std::uint32_t index);

    // Takes a copy of the descriptor and parses it; false when the descriptor is
    // malformed or too short for this kind. The item stays usable either way.
    bool Load(std::span<const std::uint8_t> descriptor);

    std::uint32_t id() const { return id_; }
    std::span<const std::uint8_t> descriptor() const { return {descriptor_.get(), length_}; }

protected:
    // `cursor` is on element 1; `remaining` counts it and every element after it.
    virtual bool Parse(ElementCursor cursor, std::uint32_t remaining);
    // Forgets what Parse found, before the descriptor copy is replaced.
    virtual void Reset() {}
    // Element 3 of the descriptor copy, for GetField3.
    std::uint32_t field3() const;
    void reportUnsupported(std::string_view operation) const;
    static String widen(std::string_view text);

    AcpiItemLibrary* library_;

private:
    std::unique_ptr<std::uint8_t[]> descriptor_;
    std::size_t length_ = 0;
    std::uint32_t id_;
};

template <class CharT>
class BasicBiosNumberItem : public BasicBiosItem<CharT> {
public:
    using typename BasicBiosItem<CharT>::String;
    using BasicBiosItem<CharT>::BasicBiosItem;

    std::uint32_t GetCount() const override { return optionCount_; }
    std::uint32_t GetField3() const override { return this->field3(); }
    void IndexToRational(std::uint32_t index, std::uint32_t* numerator,
                         std::uint32_t* denominator) override;
    double IndexToValue(std::uint32_t index) override;
    String IndexToString(std::uint32_t index) override;

    std::uint32_t baseWord() const { return base_; }
    std::uint32_t stepWord() const { return step_; }
    std::size_t extraStringCount() const { return extraStrings_.size(); }

protected:
    bool Parse(ElementCursor cursor, std::uint32_t remaining) override;
    void Reset() override {
        extraStrings_.clear();
        optionCount_ = step_ = base_ = 0;
    }

private:
    // Offset of `index` from the first numeric option; negative for an extra string.
    std::int64_t numericOffset(std::uint32_t index) const;
    void reportExtraString(std::string_view caption) const;

    std::vector<std::string_view> extraStrings_; // into the descriptor copy
    std::uint32_t optionCount_ = 0;
    std::uint32_t step_ = 0;
    std::uint32_t base_ = 0;
};

template <class CharT>
class BasicBiosCompositedItem : public BasicBiosNumberItem<CharT> {
public:
    using BasicBiosNumberItem<CharT>::BasicBiosNumberItem;

    // A composite is never read or written as one value.
    int SetValue(std::uint32_t, std::uint32_t) override { return -1; }
    bool SetValue1(std::uint32_t) override { return false; }
    bool GetValue(std::uint32_t*) override { return false; }
};

template <class CharT>
class BasicBiosStringItem : public BasicBiosItem<CharT> {
public:
    using typename BasicBiosItem<CharT>::String;
    using BasicBiosItem<CharT>::BasicBiosItem;

    std::uint32_t GetCount() const override { return std::uint32_t(strings_.size()); }
    std::uint32_t GetField3() const override { return this->field3(); }
    // Beyond the last string: an empty text.
    String IndexToString(std::uint32_t index) override;

protected:
    bool Parse(ElementCursor cursor, std::uint32_t remaining) override;
    void Reset() override { strings_.clear(); }

private:
    std::vector<std::string_view> strings_; // into the descriptor copy
};

template <class CharT>
class BasicBiosBooleanItem : public BasicBiosItem<CharT> {
public:
    using BasicBiosItem<CharT>::BasicBiosItem;

    std::uint32_t GetField3() const override { return this->field3(); }

protected:
    bool Parse(ElementCursor cursor, std::uint32_t remaining) override;
};

using BiosItem = BasicBiosItem<wchar_t>;
using BiosNumberItem = BasicBiosNumberItem<wchar_t>;
using BiosCompositedItem = BasicBiosCompositedItem<wchar_t>;
using BiosStringItem = BasicBiosStringItem<wchar_t>;
using BiosBooleanItem = BasicBiosBooleanItem<wchar_t>;

// Text from the firmware (the ANSI code page on Windows, UTF-8 here) as wide characters.
std::wstring firmwareTextToWide(std::string_view text);
// Wide text as UTF-8, for printing.
std::string wideToUtf8(std::wstring_view text);

} // namespace board
