#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace os {

// The full path of the running executable; none when the system cannot tell.
std::optional<std::filesystem::path> executablePath();

// A file kept beside the executable: the executable's directory joined with the
// name, or the bare name (relative to the current directory) when the executable's
// path is unknown.
std::filesystem::path fileBesideExecutable(std::string_view fileName);
std::filesystem::path fileBeside(const std::optional<std::filesystem::path>& executable,
                                 std::string_view fileName);

} // namespace os
