#include "os/long_path_win.h"
#include "settings/atomic_file.h"

#include <cstdint>
#include <fcntl.h>
#include <io.h>
#include <random>
#include <windows.h>

namespace settings {

std::FILE* openForReading(const std::filesystem::path& path) {
    return _wfopen(os::extendedLengthPath(path).c_str(), L"rb");
}

namespace detail {

TemporaryFile createTemporaryBeside(const std::filesystem::path& target, bool) {
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        wchar_t suffix[32];
        swprintf(suffix, 32, L".tmp-%08x%08x", random(), random());
        std::filesystem::path path = target;
        path += suffix;
        path = os::extendedLengthPath(path);
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS)
                continue;
            TemporaryFile none;
            none.refused = error == ERROR_ACCESS_DENIED;
            return none;
        }
        // Text mode, as the settings files were always written: CR LF line ends.
        int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_TEXT);
        if (fd < 0) {
            CloseHandle(handle);
            DeleteFileW(path.c_str());
            return {};
        }
        std::FILE* stream = _fdopen(fd, "w");
        if (!stream) {
            _close(fd);
            DeleteFileW(path.c_str());
            return {};
        }
        return {stream, std::move(path)};
    }
    return {};
}

bool mayOverwrite(const std::filesystem::path& target) {
    DWORD attributes = GetFileAttributesW(os::extendedLengthPath(target).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    return (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

bool flushToDisk(std::FILE* stream) {
    auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
}

bool moveOver(const std::filesystem::path& source, const std::filesystem::path& target) {
    // A rename on the same volume: atomic on NTFS, and WRITE_THROUGH returns only
    // once it is on the disk.
    return MoveFileExW(os::extendedLengthPath(source).c_str(),
                       os::extendedLengthPath(target).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool renameNoReplace(const std::filesystem::path& source, const std::filesystem::path& target) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when target exists.
    return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

std::FILE* openExistingForRewrite(const std::filesystem::path& target) {
    // TRUNCATE_EXISTING keeps the file, its owner and its security descriptor.
    HANDLE handle = CreateFileW(os::extendedLengthPath(target).c_str(), GENERIC_WRITE, 0, nullptr,
                                TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "wb");
    if (!stream)
        _close(fd);
    return stream;
}

} // namespace detail
} // namespace settings
