#include "settings/atomic_file.h"

#include <mutex>
#include <system_error>

namespace settings {
namespace {

std::mutex interruptionMutex;
detail::SaveInterruption interruption;

detail::SaveInterruption currentInterruption() {
    std::lock_guard lock(interruptionMutex);
    return interruption;
}

// Renaming over a symbolic link would replace the link itself with a plain file and
// leave the file it points to behind with the old content.
std::filesystem::path followLink(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec))
        return path;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : resolved;
}

} // namespace

bool replaceFile(const std::filesystem::path& path, const ContentWriter& write) {
    const std::filesystem::path target = followLink(path);
    if (!detail::mayOverwrite(target))
        return false;
    detail::TemporaryFile temporary = detail::createTemporaryBeside(target);
    if (!temporary.stream)
        return false;

    bool written = write(temporary.stream) && std::ferror(temporary.stream) == 0;
    if (written) {
        if (auto interrupt = currentInterruption())
            written = interrupt(temporary.stream);
    }
    written =
        written && std::fflush(temporary.stream) == 0 && detail::flushToDisk(temporary.stream);
    // fclose reports write errors that buffering delayed, so it is checked too.
    written = std::fclose(temporary.stream) == 0 && written;

    if (written && detail::moveOver(temporary.path, target))
        return true;
    std::error_code ignored;
    std::filesystem::remove(temporary.path, ignored);
    return false;
}

namespace detail {

void setSaveInterruption(SaveInterruption replacement) {
    std::lock_guard lock(interruptionMutex);
    interruption = std::move(replacement);
}

} // namespace detail
} // namespace settings
