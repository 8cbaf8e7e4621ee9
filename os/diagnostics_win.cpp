#include "os/diagnostics.h"
#include "os/text_win.h"

#include <windows.h>

namespace os::detail {

void platformShowMessage(std::string_view caption, std::string_view text) {
    MessageBoxW(nullptr, widen(text).c_str(), widen(caption).c_str(), MB_OK);
}

void platformDebugOutput(std::string_view text) {
    OutputDebugStringW(widen(text).c_str());
}

void platformLogEvent(std::string_view source, std::string_view text) {
    HANDLE log = RegisterEventSourceW(nullptr, widen(source).c_str());
    if (!log)
        return;
    std::wstring wide = widen(text);
    const wchar_t* strings[] = {wide.c_str()};
    ReportEventW(log, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(log);
}

} // namespace os::detail
