#include "os/executable.h"

namespace os {

std::filesystem::path fileBeside(const std::optional<std::filesystem::path>& executable,
                                 std::string_view fileName) {
    if (!executable || !executable->has_parent_path())
        return std::filesystem::path(fileName);
    return executable->parent_path() / fileName;
}

std::filesystem::path fileBesideExecutable(std::string_view fileName) {
    return fileBeside(executablePath(), fileName);
}

} // namespace os
