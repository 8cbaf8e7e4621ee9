#pragma once

// Windows' file functions refuse a path of MAX_PATH characters or more unless it is
// written in the extended-length form ("\\?\C:\..." or "\\?\UNC\server\share\..."),
// which they take exactly as it stands. A program installed deep enough (or a
// settings file beside it) reaches that length.

#include <filesystem>

namespace os {

// A path of MAX_PATH characters or more, absolute and not yet in the extended-length
// form, in that form: normalised, with backslashes only. Every other path as it is.
std::filesystem::path extendedLengthPath(const std::filesystem::path& path);

// For the functions that take no extended-length name (LoadTypeLibEx among them): a
// path of MAX_PATH characters or more in its short (8.3) form when that is shorter than
// MAX_PATH, else in the extended-length form. Every other path as it is.
std::filesystem::path shortPathWhenLong(const std::filesystem::path& path);

} // namespace os
