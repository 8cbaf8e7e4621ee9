#pragma once

// The board as HwIO reaches it: I/O ports (the EC's host interface and the PM1a
// blocks), emulated physical memory, MSRs, and the counts of the library's calls.

#include <cstdint>
#include <string>
#include <vector>

namespace virtualboard {

class BoardImage;

struct PhysicalRegion {
    std::string name;
    std::uint64_t address = 0, size = 0;
};

class Hardware {
public:
    explicit Hardware(BoardImage& image) : image_(image) {}

    std::uint8_t inPort(std::uint16_t port);
    void outPort(std::uint16_t port, std::uint8_t value);
    // A view of [address, address + length) inside one emulated region, or nullptr.
    // Views stay valid while the Board lives; they are plain shared memory.
    std::uint8_t* physical(std::uint64_t address, std::uint64_t length);
    std::vector<PhysicalRegion> regions() const;
    bool openFails() const;
    bool readMsr(std::uint32_t index, std::uint64_t& value);
    bool writeMsr(std::uint32_t index, std::uint64_t value);
    void countOpen();
    void countMap(bool succeeded);
    void countUnmap();

private:
    // All under the image's lock.
    std::uint8_t ecStatus();
    void ecCommand(std::uint8_t value);
    void ecData(std::uint8_t value);
    std::uint8_t ecReadData();
    void writeRegister(std::uint8_t reg, std::uint8_t value);
    bool pm1Port(std::uint16_t port) const;
    std::uint8_t pm1In(std::uint16_t port);
    void pm1Out(std::uint16_t port, std::uint8_t value);

    BoardImage& image_;
};

} // namespace virtualboard
