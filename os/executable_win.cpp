#include "os/executable.h"

#include <windows.h>

namespace os {

std::optional<std::filesystem::path> executablePath() {
    // The settings files were always located through the ANSI path limited to
    // MAX_PATH; a longer path counts as unknown rather than a cut-off one.
    char buffer[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::nullopt;
    return std::filesystem::path(std::string(buffer, length));
}

std::optional<std::filesystem::path> stateDirectory() {
    // The Windows service keeps its file beside its executable.
    return std::nullopt;
}

} // namespace os
