#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>

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
// the directory would allow the rename. Where the directory takes no new file but the
// file itself may be written (an installed program's folder in which only this file
// was made writable), the file is rewritten in place instead, keeping its owner and
// permissions: the content is complete before the file is touched, but a crash in
// that last copy can leave it cut short.
bool replaceFile(const std::filesystem::path& path, const ContentWriter& write);

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
    bool refused = false; // the directory denied this process a new file
};
// A new, exclusively created file in target's directory, open for writing in text
// mode; on Linux it takes target's permission bits when target exists.
TemporaryFile createTemporaryBeside(const std::filesystem::path& target);
// Whether this process may overwrite target (true when it does not exist).
bool mayOverwrite(const std::filesystem::path& target);
// Pushes the written stream's data down to the disk.
bool flushToDisk(std::FILE* stream);
// Puts source in target's place in one step.
bool moveOver(const std::filesystem::path& source, const std::filesystem::path& target);
// The existing file at target, emptied and open for writing bytes as they are;
// nullptr when it does not exist or may not be written.
std::FILE* openExistingForRewrite(const std::filesystem::path& target);

} // namespace detail
} // namespace settings
