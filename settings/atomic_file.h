#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>

// Files that are replaced whole. A crash, a power cut or a full disk in the middle of
// a save must leave either the old file or the new one, never a truncated mix, so the
// new content goes to a temporary file in the same directory, reaches the disk, and
// only then takes the old file's place in one rename.

namespace settings {

// Opens a file for reading in binary mode; nullptr when it cannot be opened. Wide
// paths work on Windows, where fopen would only take the ANSI code page.
std::FILE* openForReading(const std::filesystem::path& path);

// Writes the content into the stream; returns false when it could not.
using ContentWriter = std::function<bool(std::FILE*)>;

// Replaces the file at path with what write puts into a text-mode stream (so the
// line ends are the platform's, as with a plain fopen "w"). Returns true only when
// the new content is in place; on false the old file, or its absence, is untouched
// and no temporary file is left behind. A path that is a symbolic link replaces the
// file it points to. A file the caller may not write is not replaced, even where
// the directory would allow the rename. The new file keeps the old one's permission
// bits and, on Linux, its owner and group. Where the directory takes no new file but
// the file itself may be written (an installed program's folder in which only this
// file was made writable), or where a new file could not be given the old one's owner
// (a service without the right to change owners), the file is rewritten in place
// instead, keeping its owner and permissions: the content is complete before the file
// is touched, but a crash in that last copy can leave it cut short.
bool replaceFile(const std::filesystem::path& path, const ContentWriter& write);

// Renames the file at path aside, to "<name>.bad" or, when that is taken, the first
// free "<name>.bad.N" (N from 1 to 9): an older file kept aside is never replaced.
// Gives the new path; none when the file could not be moved (it then stays as it is).
std::optional<std::filesystem::path> keepAside(const std::filesystem::path& path);

// Removes what saves of the file at path left behind when they were cut short by a
// crash: its temporary files ("<name>.tmp-" and 16 hexadecimal digits) last written
// more than a minute ago. A save in progress, in this process or another, takes far
// less, so its file is left alone.
void removeStaleTemporaries(const std::filesystem::path& path);

namespace detail {

// Lets tests cut a save short between writing and renaming, as a full disk or a
// crash would: when set, it is called with the temporary file's stream after the
// content was written, and a false result fails the save there. Not for use while
// saves are running on other threads.
using SaveInterruption = std::function<bool(std::FILE*)>;
void setSaveInterruption(SaveInterruption interruption);

// The platform's half of replaceFile.
struct TemporaryFile {
    std::FILE* stream = nullptr;
    std::filesystem::path path;
    // No new file can stand in for target: the directory denied this process one, or
    // it could not be given target's owner.
    bool refused = false;
};
// A new, exclusively created file in target's directory, open for writing in text
// mode; on Linux, with likeTarget, it takes target's permission bits, owner and group
// when target exists.
TemporaryFile createTemporaryBeside(const std::filesystem::path& target, bool likeTarget = true);
// Whether this process may overwrite target (true when it does not exist).
bool mayOverwrite(const std::filesystem::path& target);
// Pushes the written stream's data down to the disk.
bool flushToDisk(std::FILE* stream);
// Puts source in target's place in one step.
bool moveOver(const std::filesystem::path& source, const std::filesystem::path& target);
// Renames source to target unless target exists; false when it exists or the rename
// failed.
bool renameNoReplace(const std::filesystem::path& source, const std::filesystem::path& target);
// The existing file at target, emptied and open for writing bytes as they are;
// nullptr when it does not exist or may not be written.
std::FILE* openExistingForRewrite(const std::filesystem::path& target);

} // namespace detail
} // namespace settings
