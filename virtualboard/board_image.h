#pragma once

// The mapped image every facet of a Board works on: the sections found and checked
// once, the board-wide lock, and the few helpers more than one facet needs. Internal
// to the library; programs and tests go through Board.

#include "virtualboard/image_layout.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace virtualboard {

class MappedFile;

class BoardImage {
public:
    // Maps the image and checks its header and sections; throws BoardError.
    static std::unique_ptr<BoardImage> open(const std::filesystem::path& path);
    ~BoardImage();
    BoardImage(const BoardImage&) = delete;
    BoardImage& operator=(const BoardImage&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Plain shared memory: writable through a const image, as every process may
    // change it anyway. State and the firmware section only under a Lock.
    layout::Header& header() const { return *header_; }
    const layout::Config& config() const { return *config_; }
    layout::State& state() const { return *state_; }
    layout::FirmwareState& firmware() const { return *firmware_; }
    layout::TraceRecord* traceRing() const { return trace_; }

    // The board-wide lock around device state, counters, the trace and the
    // firmware section.
    class Lock;

    // A view of [address, address + length) inside one emulated region, or nullptr.
    std::uint8_t* physical(std::uint64_t address, std::uint64_t length) const;
    // The global lock word in the FACS, or nullptr when the board has no FACS.
    std::uint32_t* globalLockWord() const;
    // Under the lock: appends a trace record.
    void record(layout::TraceKind kind, std::uint16_t port, std::uint8_t value,
                std::uint8_t bank = 0, std::uint8_t reg = 0, std::uint8_t oldValue = 0) const;
    // Under the lock: the item by group and index, or nullptr.
    layout::ItemSlot* slot(std::uint32_t id) const;

private:
    BoardImage(std::filesystem::path path, std::unique_ptr<MappedFile> file);

    std::filesystem::path path_;
    std::unique_ptr<MappedFile> file_;
    layout::Header* header_ = nullptr;
    layout::Config* config_ = nullptr;
    layout::State* state_ = nullptr;
    layout::TraceRecord* trace_ = nullptr;
    layout::FirmwareState* firmware_ = nullptr;
};

class BoardImage::Lock {
public:
    explicit Lock(const BoardImage& image);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    std::atomic_ref<std::uint32_t> word_;
    std::uint32_t ticket_;
};

// A fixed-size text field of the image, up to its first NUL.
template <std::size_t N>
std::string fieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

} // namespace virtualboard
