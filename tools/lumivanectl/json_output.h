#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace lumivanectl {

// Keys in the order the tool writes them; floats held as the floats the tool computed
// with, so that 0.333 comes out as 0.333 and not as its nearest double.
using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool,
                                  std::int64_t, std::uint64_t, float>;

// Firmware strings are bytes, not UTF-8: each byte above 0x7F stands for the code point
// of the same value, as in Latin-1.
inline std::string latin1ToUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text.push_back(c);
        } else {
            text.push_back(char(0xC0 | byte >> 6));
            text.push_back(char(0x80 | (byte & 0x3F)));
        }
    }
    return text;
}

// One line of ASCII: anything past 0x7E as a \u escape, for consoles of any code page.
inline void writeJson(std::ostream& out, const Json& value) {
    out << value.dump(-1, ' ', true) << '\n';
}

} // namespace lumivanectl
