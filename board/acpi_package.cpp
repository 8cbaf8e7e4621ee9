#include "board/acpi_package.h"

#include <algorithm>
#include <cstring>

namespace board {

std::uint32_t readLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

std::uint16_t readLe16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}

namespace {

// Header plus the data region; the data is never shorter than one 32-bit word.
std::size_t readableSpan(std::uint16_t dataLength) {
    return kAcpiElementHeaderSize + std::max<std::size_t>(dataLength, 4);
}

void appendLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(std::uint8_t(v >> (8 * i)));
}

} // namespace

std::uint16_t AcpiPackageElement::dataLength() const {
    return readLe16(buffer_.data() + offset_ + 2);
}

std::span<const std::uint8_t> AcpiPackageElement::dataBytes() const {
    return buffer_.subspan(offset_ + kAcpiElementHeaderSize,
                           std::max<std::size_t>(dataLength(), 4));
}

std::uint32_t AcpiPackageElement::value() const {
    return readLe32(data());
}

std::optional<std::string_view> AcpiPackageElement::text() const {
    const std::size_t start = offset_ + kAcpiElementHeaderSize;
    const auto* begin = reinterpret_cast<const char*>(buffer_.data() + start);
    const std::size_t room = buffer_.size() - start;
    const void* nul = std::memchr(begin, 0, room);
    if (!nul)
        return std::nullopt;
    return std::string_view(begin, static_cast<const char*>(nul) - begin);
}

std::size_t AcpiPackageElement::nextOffset() const {
    const std::uint16_t length = dataLength();
    return offset_ + (length <= 4 ? 12 : 8 + std::size_t(length));
}

bool AcpiPackage::elementFits(std::span<const std::uint8_t> buffer, std::size_t offset) {
    if (offset > buffer.size() || buffer.size() - offset < kAcpiElementHeaderSize)
        return false;
    const std::uint16_t length = readLe16(buffer.data() + offset + 2);
    return buffer.size() - offset >= readableSpan(length);
}

AcpiPackage::AcpiPackage(std::span<const std::uint8_t> buffer) : buffer_(buffer) {
    if (buffer_.size() < kAcpiPackageHeaderSize)
        return;
    declared_ = readLe32(buffer_.data() + 4);
    std::size_t offset = kAcpiPackageHeaderSize;
    // Stops at the first element that does not fit, so a huge count costs no more
    // than the buffer is long.
    while (readable_ < declared_ && elementFits(buffer_, offset)) {
        offset = AcpiPackageElement(buffer_, offset, readable_).nextOffset();
        ++readable_;
    }
    valid_ = readable_ == declared_;
}

std::optional<AcpiPackageElement> AcpiPackage::element(std::uint32_t position) const {
    if (position >= readable_)
        return std::nullopt;
    AcpiPackageElement e(buffer_, kAcpiPackageHeaderSize, 0);
    for (std::uint32_t i = 1; i <= position; ++i)
        e = AcpiPackageElement(buffer_, e.nextOffset(), i);
    return e;
}

std::optional<AcpiPackageElement> AcpiPackage::next(const AcpiPackageElement& e) const {
    // Bounded by the count too: bytes after the last counted element are not elements.
    const std::uint32_t position = e.position() + 1;
    if (position >= readable_)
        return std::nullopt;
    return AcpiPackageElement(buffer_, e.nextOffset(), position);
}

AcpiPackageBuilder& AcpiPackageBuilder::value(std::uint32_t v) {
    std::uint8_t data[4];
    for (int i = 0; i < 4; ++i)
        data[i] = std::uint8_t(v >> (8 * i));
    return raw(data, 4);
}

AcpiPackageBuilder& AcpiPackageBuilder::text(std::string_view s) {
    std::vector<std::uint8_t> data(s.begin(), s.end());
    data.push_back(0);
    return raw(data, std::uint16_t(data.size()));
}

AcpiPackageBuilder& AcpiPackageBuilder::raw(std::span<const std::uint8_t> data,
                                            std::uint16_t declaredLength) {
    elements_.push_back(0);
    elements_.push_back(0);
    elements_.push_back(std::uint8_t(declaredLength));
    elements_.push_back(std::uint8_t(declaredLength >> 8));
    elements_.insert(elements_.end(), data.begin(), data.end());
    // Pad the data region to what the declared length promises, then the 4 bytes every
    // element carries beyond its data.
    const std::size_t region = std::max<std::size_t>(declaredLength, 4);
    for (std::size_t i = data.size(); i < region; ++i)
        elements_.push_back(0);
    for (int i = 0; i < 4; ++i)
        elements_.push_back(0);
    ++count_;
    return *this;
}

AcpiPackageBuilder& AcpiPackageBuilder::declareCount(std::uint32_t count) {
    declared_ = count;
    return *this;
}

std::vector<std::uint8_t> AcpiPackageBuilder::build() const {
    std::vector<std::uint8_t> out;
    appendLe32(out, 0);
    appendLe32(out, declared_.value_or(count_));
    out.insert(out.end(), elements_.begin(), elements_.end());
    return out;
}

} // namespace board
