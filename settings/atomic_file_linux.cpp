#include "settings/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace settings {

std::FILE* openForReading(const std::filesystem::path& path) {
    return std::fopen(path.c_str(), "rb");
}

namespace detail {

TemporaryFile createTemporaryBeside(const std::filesystem::path& target, bool likeTarget) {
    struct stat existing {};
    const bool targetExists = likeTarget && ::stat(target.c_str(), &existing) == 0;
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".tmp-%08x%08x", random(), random());
        std::filesystem::path path = target;
        path += suffix;
        // 0666 lets the umask decide for a new file, as fopen would.
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            TemporaryFile none;
            none.refused = errno == EACCES || errno == EPERM;
            return none;
        }
        // The replacement keeps the old file's owner and whatever access it granted:
        // the owner first, as a change of owner may clear set-id bits. A process that
        // may not give the new file that owner must not replace the old one.
        if (targetExists) {
            struct stat made {};
            const bool sameOwner = ::fstat(fd, &made) == 0 && made.st_uid == existing.st_uid &&
                                   made.st_gid == existing.st_gid;
            if (!sameOwner && ::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
                ::close(fd);
                ::unlink(path.c_str());
                TemporaryFile none;
                none.refused = true;
                return none;
            }
            if (::fchmod(fd, existing.st_mode & 07777) != 0) {
                ::close(fd);
                ::unlink(path.c_str());
                return {};
            }
        }
        std::FILE* stream = ::fdopen(fd, "w");
        if (!stream) {
            ::close(fd);
            ::unlink(path.c_str());
            return {};
        }
        return {stream, std::move(path)};
    }
    return {};
}

bool mayOverwrite(const std::filesystem::path& target) {
    return ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0 || errno == ENOENT;
}

bool flushToDisk(std::FILE* stream) {
    return ::fsync(::fileno(stream)) == 0;
}

bool moveOver(const std::filesystem::path& source, const std::filesystem::path& target) {
    if (::rename(source.c_str(), target.c_str()) != 0)
        return false;
    // The rename itself reaches the disk with the directory; the new file is in
    // place either way, so a directory that cannot be synced is no failure.
    std::filesystem::path directory = target.parent_path();
    if (directory.empty())
        directory = ".";
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return true;
}

bool renameNoReplace(const std::filesystem::path& source, const std::filesystem::path& target) {
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a second link, which fails when target exists,
    // then the old name goes.
    if (::link(source.c_str(), target.c_str()) != 0)
        return false;
    ::unlink(source.c_str());
    return true;
}

std::FILE* openExistingForRewrite(const std::filesystem::path& target) {
    // No O_CREAT: only the file that is there, with its owner and mode as they are.
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::FILE* stream = ::fdopen(fd, "wb");
    if (!stream)
        ::close(fd);
    return stream;
}

} // namespace detail
} // namespace settings
