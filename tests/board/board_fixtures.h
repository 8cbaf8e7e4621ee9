#pragma once

// Shared by the board tests: the fake I/O library and synthetic SMBIOS data.

#include "fake_hwio.h"
#include "os/executable.h"
#include "os/library.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace board_testing {

using Bytes = std::vector<std::uint8_t>;

inline std::filesystem::path besideTests(const char* file) {
    return os::fileBesideExecutable(file);
}

// The fake library loaded by its path beside the test program, with its controls.
class FakeHwio {
public:
    explicit FakeHwio(const std::filesystem::path& path)
        : library_(os::Library::open(path.string())) {
        if (library_) {
            state_ = library_.function<FakeHwioStateFn>(kFakeHwioState)();
            library_.function<FakeHwioResetFn>(kFakeHwioReset)();
        }
    }
    explicit operator bool() const { return state_ != nullptr; }
    FakeHwioState& state() const { return *state_; }

    void addMemory(std::uint32_t base, std::uint32_t size) const {
        library_.function<FakeHwioAddMemoryFn>(kFakeHwioAddMemory)(base, size);
    }
    void poke(std::uint32_t address, const Bytes& bytes) const {
        library_.function<FakeHwioPokeFn>(kFakeHwioPoke)(address, bytes.data(),
                                                         std::uint32_t(bytes.size()));
    }
    void setStatus(const Bytes& script) const {
        for (std::size_t i = 0; i < script.size(); ++i)
            state_->status[i] = script[i];
        state_->statusCount = std::uint32_t(script.size());
        state_->statusReads = 0;
    }
    // (port, value) of every port write, in order.
    std::vector<std::pair<std::uint16_t, std::uint8_t>> writes() const {
        std::vector<std::pair<std::uint16_t, std::uint8_t>> out;
        for (std::uint32_t i = 0; i < state_->accessCount; ++i)
            if (state_->accesses[i].write)
                out.emplace_back(state_->accesses[i].port, state_->accesses[i].value);
        return out;
    }
    std::uint32_t reads(std::uint16_t port) const {
        std::uint32_t count = 0;
        for (std::uint32_t i = 0; i < state_->accessCount; ++i)
            count += !state_->accesses[i].write && state_->accesses[i].port == port;
        return count;
    }

private:
    os::Library library_;
    FakeHwioState* state_ = nullptr;
};

// One SMBIOS structure: header, formatted area (bytes 4.. of it given), strings.
struct Structure {
    std::uint8_t type;
    Bytes formatted; // from byte 4 on; the header makes the first four bytes
    std::vector<std::string> strings;
};

inline Bytes serialise(const Structure& structure, std::uint16_t handle) {
    Bytes out;
    out.reserve(64);
    out.push_back(structure.type);
    out.push_back(std::uint8_t(4 + structure.formatted.size()));
    out.push_back(std::uint8_t(handle & 0xFF));
    out.push_back(std::uint8_t(handle >> 8));
    for (std::uint8_t byte : structure.formatted)
        out.push_back(byte);
    for (const std::string& text : structure.strings) {
        for (char c : text)
            out.push_back(std::uint8_t(c));
        out.push_back(0);
    }
    if (structure.strings.empty())
        out.push_back(0);
    out.push_back(0);
    return out;
}

inline Bytes table(const std::vector<Structure>& structures) {
    Bytes out;
    std::uint16_t handle = 0;
    for (const Structure& structure : structures) {
        Bytes bytes = serialise(structure, handle++);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

inline Structure bios() {
    return {0, {1, 2, 0, 0xE0, 3, 0x1F, 0, 0, 0, 0, 0, 0, 0, 0}, {"Vantor", "F12", "01/02/2026"}};
}
inline Structure systemStructure(const std::string& product) {
    return {1, {1, 2, 0, 0}, {"Vantor", product}};
}
// Manufacturer 1, product 2, version 3, serial 4; extra bytes lengthen the
// formatted area beyond the product's byte 5.
inline Structure baseboard(const std::string& product, Bytes extra = {}) {
    Structure structure{2, {1, 2, 3, 4}, {"Vantor", product, "1.0", "SN-0001"}};
    structure.formatted.insert(structure.formatted.end(), extra.begin(), extra.end());
    return structure;
}
inline Structure endOfTable() {
    return {127, {}, {}};
}

// A 32-bit entry point naming a table of the given length at the given address.
inline Bytes entryPoint(std::uint32_t tableAddress, std::uint16_t tableLength) {
    Bytes entry(0x1F, 0);
    const char anchor[] = "_SM_";
    std::copy(anchor, anchor + 4, entry.begin());
    entry[5] = 0x1F;
    entry[6] = 2;
    entry[7] = 8;
    const char dmi[] = "_DMI_";
    std::copy(dmi, dmi + 5, entry.begin() + 0x10);
    entry[0x16] = std::uint8_t(tableLength);
    entry[0x17] = std::uint8_t(tableLength >> 8);
    for (int i = 0; i < 4; ++i)
        entry[std::size_t(0x18 + i)] = std::uint8_t(tableAddress >> (8 * i));
    return entry;
}

inline void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Lays the table out as the firmware-table directory would offer it.
inline void writeDmiTable(const std::filesystem::path& firmwareDir, const Bytes& structures) {
    writeFile(firmwareDir / "dmi" / "tables" / "DMI", structures);
}

} // namespace board_testing
