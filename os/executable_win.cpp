#include "os/executable.h"

#include <string>
#include <windows.h>

namespace os {

std::optional<std::filesystem::path> executablePath() {
    // A program may live deeper than MAX_PATH characters: the buffer grows until the
    // whole path fits (the system's limit is 32767), so the settings files are found
    // beside it rather than at a cut-off path.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
        if (length == 0)
            return std::nullopt;
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        if (buffer.size() >= 32768)
            return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::filesystem::path> stateDirectory() {
    // The Windows service keeps its file beside its executable.
    return std::nullopt;
}

} // namespace os
