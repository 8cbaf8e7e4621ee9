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

std::filesystem::path stateFile(const std::optional<std::filesystem::path>& stateDirectory,
                                const std::optional<std::filesystem::path>& executable,
                                std::string_view fileName) {
    if (stateDirectory && !stateDirectory->empty())
        return *stateDirectory / fileName;
    return fileBeside(executable, fileName);
}

std::filesystem::path serviceStateFile(std::string_view fileName) {
    return stateFile(stateDirectory(), executablePath(), fileName);
}

} // namespace os
