#pragma once

#include <string>
#include <string_view>

namespace lumivanectl {

// A JSON string literal. Firmware strings are bytes, not UTF-8: bytes above 0x7F
// are written as the code points of the same value.
std::string jsonString(std::string_view bytes);

} // namespace lumivanectl
