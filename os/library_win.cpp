#include "os/library.h"
#include "os/text_win.h"

#include <cstdlib>
#include <windows.h>

namespace os {

Library Library::open(const std::string& fileOrPath) {
    return Library(LoadLibraryW(widen(fileOrPath).c_str()));
}

void* Library::symbol(const char* name) const {
    if (!handle_)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void Library::unload() {
    if (handle_)
        FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

std::filesystem::path systemLibraryDirectory() {
    if (const wchar_t* dir = _wgetenv(L"LUMIVANE_HWIO_DIR"); dir && *dir)
        return dir;
    wchar_t buffer[MAX_PATH];
    UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    return std::filesystem::path(std::wstring(buffer, length));
}

} // namespace os
