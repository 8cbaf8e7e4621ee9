#include "os/executable.h"

namespace os {

std::optional<std::filesystem::path> executablePath() {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || path.empty())
        return std::nullopt;
    return path;
}

} // namespace os
