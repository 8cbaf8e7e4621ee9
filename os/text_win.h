#pragma once

// UTF-8 <-> UTF-16 for the Windows layer; the portable code speaks UTF-8.

#include <string>
#include <string_view>

namespace os {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

} // namespace os
