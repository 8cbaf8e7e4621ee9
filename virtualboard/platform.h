#pragma once

// The little the board needs from the operating system: a file mapped shared by
// every process, the place for the default image, process ids and clocks.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>

namespace virtualboard {

class MappedFile {
public:
    // Maps the whole file read-write and shared; throws BoardError.
    static std::unique_ptr<MappedFile> open(const std::filesystem::path& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    MappedFile() = default;
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    void* handle_ = nullptr; // the mapping object on Windows
};

// The user's runtime directory: XDG_RUNTIME_DIR, else /tmp on Linux; the temporary
// directory on Windows.
std::filesystem::path runtimeDirectory();

// Replaces target with source in one step.
void replaceFile(const std::filesystem::path& source, const std::filesystem::path& target);

std::uint32_t currentProcessId();

// Keeps the module (shared library) holding this code loaded until the process ends,
// whatever its loader does: a background thread may still run its code.
void pinThisModule();

// Milliseconds of the wall clock: the one clock every process on the machine,
// Linux or Wine, agrees on.
std::uint64_t wallClockMs();

} // namespace virtualboard
