#include "settings/atomic_file.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
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

// Writes through `write` into a scratch file and gives back the bytes, so nothing of
// the target changes unless the whole content could be made.
std::optional<std::string> render(const ContentWriter& write, const std::filesystem::path& name) {
    std::error_code ec;
    const std::filesystem::path scratchDirectory = std::filesystem::temp_directory_path(ec);
    if (ec)
        return std::nullopt;
    // Only a name to start from: whatever file of that name the scratch folder holds
    // has nothing to give the scratch file.
    detail::TemporaryFile scratch = detail::createTemporaryBeside(scratchDirectory / name, false);
    if (!scratch.stream)
        return std::nullopt;
    bool written = write(scratch.stream) && std::ferror(scratch.stream) == 0;
    written = std::fclose(scratch.stream) == 0 && written;
    std::optional<std::string> bytes;
    if (std::FILE* in = written ? openForReading(scratch.path) : nullptr) {
        std::string content;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
            content.append(buffer, n);
        if (std::ferror(in) == 0)
            bytes = std::move(content);
        std::fclose(in);
    }
    std::filesystem::remove(scratch.path, ec);
    return bytes;
}

bool rewriteInPlace(const std::filesystem::path& target, const ContentWriter& write) {
    const std::optional<std::string> bytes = render(write, target.filename());
    if (!bytes)
        return false;
    std::FILE* out = detail::openExistingForRewrite(target);
    if (!out)
        return false;
    bool written = std::fwrite(bytes->data(), 1, bytes->size(), out) == bytes->size();
    written = written && std::fflush(out) == 0 && detail::flushToDisk(out);
    return std::fclose(out) == 0 && written;
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The name of a temporary file createTemporaryBeside makes for target's name.
bool isTemporaryName(const std::string& name, const std::string& target) {
    const std::string prefix = target + ".tmp-";
    constexpr std::size_t kDigits = 16;
    if (name.size() != prefix.size() + kDigits || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < name.size(); ++i)
        if (!isHexDigit(name[i]))
            return false;
    return true;
}

} // namespace

std::optional<std::filesystem::path> keepAside(const std::filesystem::path& path) {
    const std::filesystem::path source = followLink(path);
    for (int n = 0; n < 10; ++n) {
        std::filesystem::path aside = source;
        aside += n == 0 ? std::string(".bad") : ".bad." + std::to_string(n);
        if (detail::renameNoReplace(source, aside))
            return aside;
        std::error_code ec;
        // Taken: try the next name. Anything else (no right to rename here, the file
        // gone) will not change with another name.
        if (!std::filesystem::exists(std::filesystem::symlink_status(aside, ec)))
            return std::nullopt;
    }
    return std::nullopt;
}

void removeStaleTemporaries(const std::filesystem::path& path) {
    const std::filesystem::path target = followLink(path);
    std::filesystem::path directory = target.parent_path();
    if (directory.empty())
        directory = ".";
    const std::string name = target.filename().string();
    const auto staleBefore =
        std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1);
    std::error_code ec;
    // Stepped with error codes: a directory that cannot be read to the end leaves the
    // rest where it is.
    for (std::filesystem::directory_iterator entry(directory, ec), end; !ec && entry != end;
         entry.increment(ec)) {
        if (!isTemporaryName(entry->path().filename().string(), name))
            continue;
        std::error_code entryError;
        if (entry->is_symlink(entryError) || !entry->is_regular_file(entryError))
            continue;
        const auto written = entry->last_write_time(entryError);
        if (!entryError && written < staleBefore)
            std::filesystem::remove(entry->path(), entryError);
    }
}

bool replaceFile(const std::filesystem::path& path, const ContentWriter& write) {
    const std::filesystem::path target = followLink(path);
    if (!detail::mayOverwrite(target))
        return false;
    detail::TemporaryFile temporary = detail::createTemporaryBeside(target);
    if (!temporary.stream) {
        std::error_code ec;
        return temporary.refused && std::filesystem::is_regular_file(target, ec) &&
               rewriteInPlace(target, write);
    }

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
