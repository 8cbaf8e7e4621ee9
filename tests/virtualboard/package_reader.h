#pragma once

// An element-package reader for the tests, written from the layout alone and strict
// about bounds, so a descriptor that would lead a reader astray is caught here.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vbtest {

struct Element {
    std::uint16_t type = 0;
    std::uint16_t length = 0;
    std::uint32_t number = 0;        // the first four data bytes
    std::optional<std::string> text; // the data up to its NUL; none without one
};

struct Package {
    std::uint32_t header = 0;
    std::vector<Element> elements;
};

inline std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 |
           std::uint32_t(bytes[at + 2]) << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

// None when the package does not lie wholly inside `bytes`.
inline std::optional<Package> readPackage(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() < 8)
        return std::nullopt;
    Package package;
    package.header = le32(bytes, 0);
    const std::uint32_t count = le32(bytes, 4);
    std::size_t at = 8;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (at + 8 > bytes.size())
            return std::nullopt;
        Element element;
        element.type = std::uint16_t(bytes[at] | bytes[at + 1] << 8);
        element.length = std::uint16_t(bytes[at + 2] | bytes[at + 3] << 8);
        const std::size_t next = element.length <= 4 ? at + 12 : at + 8 + element.length;
        if (next > bytes.size())
            return std::nullopt;
        element.number = le32(bytes, at + 4);
        for (std::size_t j = at + 4; j < at + 4 + element.length; ++j)
            if (bytes[j] == 0) {
                element.text = std::string(bytes.begin() + std::ptrdiff_t(at + 4),
                                           bytes.begin() + std::ptrdiff_t(j));
                break;
            }
        package.elements.push_back(element);
        at = next;
    }
    return package;
}

} // namespace vbtest
