#include "service/resources_win.h"

#include "os/diagnostics.h"
#include "os/text_win.h"
#include "service/resource_ids_win.h"

#include <windows.h>

namespace service {

std::wstring loadText(unsigned id, const wchar_t* fallback) {
    wchar_t text[256] = {};
    const int length = LoadStringW(GetModuleHandleW(nullptr), id, text, int(std::size(text)));
    return length > 0 ? std::wstring(text, std::size_t(length)) : std::wstring(fallback);
}

const std::wstring& serviceName() {
    static const std::wstring name = loadText(IDS_SERVICE_NAME, L"Vantor LED Control Service");
    return name;
}

void tell(unsigned id, const wchar_t* fallback) {
    os::showMessage(os::narrow(serviceName()), os::narrow(loadText(id, fallback)));
}

} // namespace service
