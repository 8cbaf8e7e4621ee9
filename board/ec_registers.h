#pragma once

// The LED colour lives in three one-byte registers of the embedded controller,
// reached through its ACPI host interface: command/status at port 0x6C, data at
// 0x68, write command 0x81. Every colour register sits behind a bank selection.

#include "board/hwio.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace board {

inline constexpr std::uint8_t kEcDataPort = 0x68;
inline constexpr std::uint8_t kEcCommandPort = 0x6C;
inline constexpr std::uint8_t kEcWriteCommand = 0x81;
inline constexpr std::uint8_t kEcInputBufferFull = 0x02;
inline constexpr std::uint8_t kEcBusyMask = 0x06;

inline constexpr std::uint8_t kEcBankRegister = 0xFF;
inline constexpr std::uint8_t kLedBank = 0;
inline constexpr std::uint8_t kLedRedRegister = 0x53;
inline constexpr std::uint8_t kLedGreenRegister = 0x5D;
inline constexpr std::uint8_t kLedBlueRegister = 0x5B;

// loadHwio's results.
inline constexpr std::uint32_t kHwioLoaded = 0;
inline constexpr std::uint32_t kHwioMissing = 1;
inline constexpr std::uint32_t kHwioNoOpen = 2;
inline constexpr std::uint32_t kHwioOpenFailed = 7;

// The LED path's own binding of the I/O library (three entry points) and the EC
// write protocol over it. The process-wide instance is ledPorts(); tests make their
// own over a library of their choice.
class EcPortBinding {
public:
    using Sleep = void (*)();

    explicit EcPortBinding(std::string libraryFile);
    EcPortBinding(const EcPortBinding&) = delete;
    EcPortBinding& operator=(const EcPortBinding&) = delete;

    // 0 loaded and opened, 1 the file cannot be loaded, 2 no HWIO_Open, 7 HWIO_Open
    // returned 0. Only result 1 leaves the binding empty (and is tried again); once
    // loaded, later calls give the same answer without loading or opening again.
    std::uint32_t loadHwio();
    bool isLoaded() const;
    // Whether a write can reach the controller: loaded, with both port entries.
    bool canWrite() const;
    const std::string& libraryFile() const { return libraryFile_; }

    // One EC write transaction. Loads the library first when it is not loaded yet;
    // dropped when the library or its port entries are missing.
    void ecWrite(std::uint8_t address, std::uint8_t value);
    // A bank selection and then the register, kept together against other writers
    // of this process.
    void ecWriteBanked(std::uint8_t bank, std::uint8_t reg, std::uint8_t value);

    // The 1 ms pause of a busy wait step; tests count instead of sleeping.
    void setSleep(Sleep sleep);

private:
    std::uint32_t loadLocked();
    void writeLocked(std::uint8_t address, std::uint8_t value);
    void waitStep();
    void reportOnce(unsigned flag, const std::string& text);

    const std::string libraryFile_;
    mutable std::mutex mutex_;
    os::Library module_;
    hwio::OpenFn open_ = nullptr;
    hwio::OutPortBFn outPortByte_ = nullptr;
    hwio::InPortBFn inPortByte_ = nullptr;
    std::uint32_t loadResult_ = kHwioMissing; // of the load that bound the library
    Sleep sleep_;
    unsigned reported_ = 0;
};

// The process-wide LED binding, over the library found by bare name.
EcPortBinding& ledPorts();

std::uint32_t loadHwio();
void ecWrite(std::uint8_t address, std::uint8_t value);
void ecWriteBanked(std::uint8_t bank, std::uint8_t reg, std::uint8_t value);

// The three colour registers, each written with its own bank selection.
class LedRegisterWriter {
public:
    void setBlue(std::uint8_t value) { ecWriteBanked(kLedBank, kLedBlueRegister, value); }
    void setGreen(std::uint8_t value) { ecWriteBanked(kLedBank, kLedGreenRegister, value); }
    void setRed(std::uint8_t value) { ecWriteBanked(kLedBank, kLedRedRegister, value); }
};

} // namespace board
