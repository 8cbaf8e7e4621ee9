#pragma once

// Texts of the program's string table, for the service name and the messages.

#include <string>

namespace service {

// The string `id` of the program's own table; `fallback` when it has none.
std::wstring loadText(unsigned id, const wchar_t* fallback);

// The service's name, which is also the caption of its messages. Read once, at the
// first call (the program makes that call as it starts).
const std::wstring& serviceName();

// A message box through os::showMessage, captioned with the service's name.
void tell(unsigned id, const wchar_t* fallback);

} // namespace service
