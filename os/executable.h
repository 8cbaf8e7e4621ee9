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

// The writable directory the system's service manager keeps for the service; none
// for a program started by hand (the build tree) and on Windows.
std::optional<std::filesystem::path> stateDirectory();

// A file the service keeps across runs: in its state directory when it has one (an
// installed service, whose executable's directory is neither writable nor the place
// for state), else beside the executable.
std::filesystem::path serviceStateFile(std::string_view fileName);
std::filesystem::path stateFile(const std::optional<std::filesystem::path>& stateDirectory,
                                const std::optional<std::filesystem::path>& executable,
                                std::string_view fileName);

} // namespace os
