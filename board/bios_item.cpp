#include "board/bios_item.h"

#include "board/acpi_items.h"
#include "os/diagnostics.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

namespace board {
namespace {

// Descriptor words come from another process: the arithmetic on them must stay defined
// whatever they hold, so it wraps like the 64-bit registers it was designed for.
std::int64_t wrappingMultiply(std::int64_t a, std::int64_t b) {
    return std::int64_t(std::uint64_t(a) * std::uint64_t(b));
}

std::int64_t wrappingAdd(std::int64_t a, std::int64_t b) {
    return std::int64_t(std::uint64_t(a) + std::uint64_t(b));
}

std::int64_t timesPowerOfTen(std::int64_t value, int power) {
    for (int i = 0; i < power; ++i)
        value = wrappingMultiply(value, 10);
    return value;
}

// How many places the kind moves the decimal point: the firmware reports these kinds
// in a smaller unit than the one it shows.
int unitShift(std::uint32_t kind) {
    switch (kind) {
    case 1:
        return 2;
    case 2:
        return 3;
    case 3:
        return 1;
    case 12:
        return 3;
    default:
        return 0;
    }
}

int trailingDecimalZeros(std::int64_t value) {
    std::uint64_t magnitude =
        value < 0 ? std::uint64_t(0) - std::uint64_t(value) : std::uint64_t(value);
    if (magnitude == 0)
        return 0;
    int zeros = 0;
    while (magnitude % 10 == 0) {
        magnitude /= 10;
        ++zeros;
    }
    return zeros;
}

} // namespace

DecimalWord DecimalWord::decode(std::uint32_t word) {
    const std::int64_t raw = word & 0xFFFFFF;
    const std::int64_t asSigned = raw >= 0x800000 ? raw - 0x1000000 : raw;
    return {asSigned < -10000 ? raw : asSigned, int(std::int8_t(word >> 24))};
}

NumberScale NumberScale::normalise(std::uint32_t baseWord, std::uint32_t stepWord,
                                   std::uint32_t kind) {
    const DecimalWord base = DecimalWord::decode(baseWord);
    const DecimalWord step = DecimalWord::decode(stepWord);
    NumberScale scale{base.mantissa, step.mantissa, base.exponent};
    if (step.exponent < 0) {
        scale.base = timesPowerOfTen(scale.base, -step.exponent);
        scale.exponent += step.exponent;
    } else if (step.exponent > 0) {
        scale.step = timesPowerOfTen(scale.step, step.exponent);
    }
    scale.exponent -= unitShift(kind);
    return scale;
}

FixedDigits FixedDigits::convert(double value, int decimals) {
    FixedDigits result;
    result.negative = std::signbit(value);
    const double magnitude = std::fabs(value);
    decimals = std::max(decimals, 0);
    if (magnitude == 0.0) {
        result.digits.assign(std::size_t(decimals) + 1, '0');
        result.pointPosition = 1;
        return result;
    }
    // Wide enough for the largest double written with every one of its integer digits.
    char text[400];
    const auto [end, error] =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::fixed, decimals);
    if (error != std::errc() || !std::isfinite(magnitude))
        return result;
    const std::string_view written(text, std::size_t(end - text));
    const std::size_t point = written.find('.');
    std::string all(written.substr(0, point));
    result.pointPosition = int(all.size());
    if (point != std::string_view::npos)
        all.append(written.substr(point + 1));
    const std::size_t firstNonZero = std::min(all.find_first_not_of('0'), all.size());
    result.pointPosition -= int(firstNonZero);
    result.digits = all.substr(firstNonZero);
    return result;
}

bool ElementCursor::advance(std::uint32_t count) {
    for (std::uint32_t i = 0; i < count && at_; ++i)
        at_ = package_->next(*at_);
    return at_.has_value();
}

std::optional<std::uint32_t> ElementCursor::value() const {
    if (!at_)
        return std::nullopt;
    return at_->value();
}

std::optional<std::string_view> ElementCursor::text() const {
    if (!at_)
        return std::nullopt;
    return at_->text();
}

// --- BasicBiosItem -----------------------------------------------------------------

template <class CharT>
int BasicBiosItem<CharT>::SetValue(std::uint32_t value, std::uint32_t control) {
    return library_->setItem(id_, value, control);
}

template <class CharT>
bool BasicBiosItem<CharT>::SetValue1(std::uint32_t value) {
    return (library_->setItem(id_, value, 1) & 1) != 0;
}

template <class CharT>
bool BasicBiosItem<CharT>::GetValue(std::uint32_t* value) {
    return (library_->getItem(id_, value) & 1) != 0;
}

template <class CharT>
void BasicBiosItem<CharT>::IndexToRational(std::uint32_t, std::uint32_t*, std::uint32_t*) {
    reportUnsupported("IndexToRational");
}

template <class CharT>
double BasicBiosItem<CharT>::IndexToValue(std::uint32_t) {
    reportUnsupported("IndexToValue");
    return 0.0;
}

template <class CharT>
typename BasicBiosItem<CharT>::String BasicBiosItem<CharT>::IndexToString(std::uint32_t) {
    reportUnsupported("IndexToString");
    return {};
}

template <class CharT>
bool BasicBiosItem<CharT>::Load(std::span<const std::uint8_t> descriptor) {
    std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[descriptor.size()]);
    if (!copy)
        return false;
    if (!descriptor.empty())
        std::memcpy(copy.get(), descriptor.data(), descriptor.size());
    // What an earlier Load parsed points into the copy about to be freed.
    Reset();
    descriptor_ = std::move(copy);
    length_ = descriptor.size();

    const AcpiPackage package(this->descriptor());
    if (!package.valid() || package.declaredCount() < 3)
        return false;
    id_ = package.first()->value();
    return Parse(ElementCursor(package, package.element(1)), package.declaredCount() - 1);
}

template <class CharT>
bool BasicBiosItem<CharT>::Parse(ElementCursor cursor, std::uint32_t remaining) {
    (void)cursor.advance(2);
    (void)remaining;
    return true;
}

template <class CharT>
std::uint32_t BasicBiosItem<CharT>::field3() const {
    const AcpiPackage package(descriptor());
    const auto element = package.element(3);
    return element ? element->value() : 0;
}

template <class CharT>
void BasicBiosItem<CharT>::reportUnsupported(std::string_view operation) const {
    char text[64];
    std::snprintf(text, sizeof text, "Item[%x] does not supports %.*s", unsigned(id_),
                  int(operation.size()), operation.data());
    os::showMessage("BiosItem", text);
}

template <class CharT>
typename BasicBiosItem<CharT>::String BasicBiosItem<CharT>::widen(std::string_view text) {
    if constexpr (std::is_same_v<CharT, wchar_t>)
        return firmwareTextToWide(text);
    else
        return String(text.begin(), text.end());
}

// --- numbers -------------------------------------------------------------------------

template <class CharT>
bool BasicBiosNumberItem<CharT>::Parse(ElementCursor cursor, std::uint32_t remaining) {
    if (!cursor.advance(2))
        return false;
    remaining -= 2; // now on element 3
    if (remaining < 4)
        return false;
    cursor.advance();
    base_ = cursor.value().value_or(0);
    cursor.advance();
    step_ = cursor.value().value_or(0);
    cursor.advance();
    optionCount_ = cursor.value().value_or(0);
    remaining -= 4;
    if (remaining == 0)
        return true;
    if (remaining < 2 || !cursor.advance())
        return false;
    const std::uint32_t n = cursor.value().value_or(0);
    // Strings that would carry the option count past 32 bits leave it smaller than
    // their own number: no option space holds them.
    if (n == 0 || n > remaining - 1 || n > std::numeric_limits<std::uint32_t>::max() - optionCount_)
        return false;
    std::vector<std::string_view> strings;
    for (std::uint32_t i = 0; i < n; ++i) {
        if (!cursor.advance())
            return false;
        const auto text = cursor.text();
        if (!text)
            return false;
        strings.push_back(*text);
    }
    extraStrings_.insert(extraStrings_.end(), strings.begin(), strings.end());
    optionCount_ += n;
    return true;
}

template <class CharT>
std::int64_t BasicBiosNumberItem<CharT>::numericOffset(std::uint32_t index) const {
    return std::int64_t(index) - std::int64_t(extraStrings_.size());
}

template <class CharT>
void BasicBiosNumberItem<CharT>::reportExtraString(std::string_view caption) const {
    os::showMessage(caption, "Can not convert extra string to value");
}

template <class CharT>
void BasicBiosNumberItem<CharT>::IndexToRational(std::uint32_t index, std::uint32_t* numerator,
                                                 std::uint32_t* denominator) {
    if (index < extraStrings_.size())
        reportExtraString("IndexToRational Fail");
    const NumberScale scale = NumberScale::normalise(base_, step_, item_id::kind(this->id()));
    std::int64_t top = wrappingAdd(scale.base, wrappingMultiply(numericOffset(index), scale.step));
    std::int64_t bottom = 1;
    if (scale.exponent < 0)
        bottom = timesPowerOfTen(bottom, -scale.exponent);
    else
        top = timesPowerOfTen(top, scale.exponent);
    if (numerator)
        *numerator = std::uint32_t(top);
    if (denominator)
        *denominator = std::uint32_t(bottom);
}

template <class CharT>
double BasicBiosNumberItem<CharT>::IndexToValue(std::uint32_t index) {
    if (index < extraStrings_.size())
        reportExtraString("IndexToValue Fail");
    const NumberScale scale = NumberScale::normalise(base_, step_, item_id::kind(this->id()));
    double value =
        double(wrappingAdd(scale.base, wrappingMultiply(numericOffset(index), scale.step)));
    // One operation per power of ten, so the texts round the way the firmware's own
    // tools show them.
    for (int i = 0; i < -scale.exponent; ++i)
        value /= 10;
    for (int i = 0; i < scale.exponent; ++i)
        value *= 10;
    return value;
}

template <class CharT>
typename BasicBiosNumberItem<CharT>::String
BasicBiosNumberItem<CharT>::IndexToString(std::uint32_t index) {
    if (index < extraStrings_.size())
        return this->widen(extraStrings_[index]);

    const double value = IndexToValue(index);
    const DecimalWord base = DecimalWord::decode(base_);
    const DecimalWord step = DecimalWord::decode(step_);
    int decimals = -base.exponent;
    std::int64_t baseMantissa = base.mantissa;
    std::int64_t stepMantissa = step.mantissa;
    if (step.exponent < 0) {
        decimals += -step.exponent;
        baseMantissa = timesPowerOfTen(baseMantissa, -step.exponent);
    } else if (step.exponent > 0) {
        stepMantissa = timesPowerOfTen(stepMantissa, step.exponent);
    }
    // Places that every option's value ends in zero are not shown.
    const int zeros =
        std::min(trailingDecimalZeros(baseMantissa), trailingDecimalZeros(stepMantissa));
    decimals += unitShift(item_id::kind(this->id()));
    decimals = zeros >= decimals ? 0 : std::min(decimals - zeros, 5);

    const FixedDigits fixed = FixedDigits::convert(value, decimals);
    String text(fixed.digits.begin(), fixed.digits.end());
    const int point = fixed.pointPosition;
    if (point <= 0) {
        text.insert(0, std::size_t(1 - point), CharT('0'));
        text.insert(1, 1, CharT('.'));
    } else if (std::size_t(point) < text.size()) {
        text.insert(std::size_t(point), 1, CharT('.'));
    }
    // A value that only rounds to zero is shown without a sign.
    if (fixed.negative && value < -0.000001)
        text.insert(0, 1, CharT('-'));
    return text;
}

// --- strings and booleans ----------------------------------------------------------

template <class CharT>
bool BasicBiosStringItem<CharT>::Parse(ElementCursor cursor, std::uint32_t remaining) {
    if (!cursor.advance(2))
        return false;
    remaining -= 2; // now on element 3
    if (remaining < 3 || !cursor.advance())
        return false;
    const std::uint32_t n = cursor.value().value_or(0);
    if (!cursor.advance())
        return false;
    remaining -= 2; // now on element 5, the first string
    if (n == 0 || n > remaining)
        return false;
    std::vector<std::string_view> strings;
    for (std::uint32_t i = 0; i < n; ++i) {
        if (i > 0 && !cursor.advance())
            return false;
        const auto text = cursor.text();
        if (!text)
            return false;
        strings.push_back(*text);
    }
    strings_.insert(strings_.end(), strings.begin(), strings.end());
    return true;
}

template <class CharT>
typename BasicBiosStringItem<CharT>::String
BasicBiosStringItem<CharT>::IndexToString(std::uint32_t index) {
    if (index >= strings_.size())
        return {};
    return this->widen(strings_[index]);
}

template <class CharT>
bool BasicBiosBooleanItem<CharT>::Parse(ElementCursor cursor, std::uint32_t remaining) {
    if (!cursor.advance(2))
        return false;
    return remaining - 2 >= 1;
}

template class BasicBiosItem<wchar_t>;
template class BasicBiosNumberItem<wchar_t>;
template class BasicBiosCompositedItem<wchar_t>;
template class BasicBiosStringItem<wchar_t>;
template class BasicBiosBooleanItem<wchar_t>;

// --- text --------------------------------------------------------------------------

std::string wideToUtf8(std::wstring_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = std::uint32_t(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
                const std::uint32_t low = std::uint32_t(text[i + 1]);
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF)
            c = 0xFFFD; // a lone surrogate or a value past Unicode has no UTF-8 form
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | c >> 6));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | c >> 12));
            out.push_back(char(0x80 | (c >> 6 & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | c >> 18));
            out.push_back(char(0x80 | (c >> 12 & 0x3F)));
            out.push_back(char(0x80 | (c >> 6 & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

} // namespace board
