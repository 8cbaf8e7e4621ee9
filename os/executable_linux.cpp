#include "os/executable.h"

#include <cstdlib>
#include <string_view>

namespace os {

std::optional<std::filesystem::path> executablePath() {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || path.empty())
        return std::nullopt;
    return path;
}

std::optional<std::filesystem::path> stateDirectory() {
    // systemd sets it from StateDirectory=, a colon-separated list when the unit names
    // several; the first is the service's own. Only an absolute path is taken: a
    // relative one would move with the working directory.
    const char* value = std::getenv("STATE_DIRECTORY");
    if (!value)
        return std::nullopt;
    const std::string_view list(value);
    const std::filesystem::path first(list.substr(0, list.find(':')));
    if (!first.is_absolute())
        return std::nullopt;
    return first;
}

} // namespace os
