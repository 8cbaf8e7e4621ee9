#include "os/long_path_win.h"

#include <string>
#include <windows.h>

namespace os {

std::filesystem::path extendedLengthPath(const std::filesystem::path& path) {
    const std::wstring& text = path.native();
    if (text.size() < MAX_PATH || text.starts_with(L"\\\\?\\") || !path.is_absolute())
        return path;
    // The system no longer resolves "." and ".." or turns slashes for such a path.
    std::wstring normal = path.lexically_normal().make_preferred().native();
    if (normal.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + normal.substr(2);
    return L"\\\\?\\" + normal;
}

std::filesystem::path shortPathWhenLong(const std::filesystem::path& path) {
    if (path.native().size() < MAX_PATH)
        return path;
    const std::filesystem::path extended = extendedLengthPath(path);
    std::wstring buffer(32768, L'\0');
    const DWORD length = GetShortPathNameW(extended.c_str(), buffer.data(), DWORD(buffer.size()));
    if (length == 0 || length >= buffer.size())
        return extended;
    buffer.resize(length);
    if (buffer.starts_with(L"\\\\?\\UNC\\"))
        buffer = L"\\\\" + buffer.substr(8);
    else if (buffer.starts_with(L"\\\\?\\"))
        buffer = buffer.substr(4);
    return buffer.size() < MAX_PATH ? std::filesystem::path(buffer) : extended;
}

} // namespace os
