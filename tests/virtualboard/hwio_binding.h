#pragma once

// The HwIO stand-in as the system reaches it: loaded by file name, every export
// looked up by name, and the EC write transaction driven the way the service drives
// it (three port writes, six one-step waits on the status port).

#include "board/hwio_abi.h"
#include "os/library.h"
#include "virtualboard/hwio_install.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace vbtest {

struct HwioBinding {
    os::Library library;
    board::hwio::OpenFn open = nullptr;
    board::hwio::InPortBFn inPortB = nullptr;
    board::hwio::OutPortBFn outPortB = nullptr;
    board::hwio::InPortDFn inPortD = nullptr;
    board::hwio::OutPortDFn outPortD = nullptr;
    board::hwio::ReadMsrFn readMsr = nullptr;
    board::hwio::WriteMsrFn writeMsr = nullptr;
    board::hwio::MapMemFn mapMem = nullptr;
    board::hwio::UnmapMemFn unmapMem = nullptr;
    board::hwio::MapPhysToLinFn mapPhysToLin = nullptr;
    board::hwio::UnmapPhysicalMemoryFn unmapPhysicalMemory = nullptr;

    // Sleeps the wait steps asked for; tests count them instead of sleeping.
    bool reallySleep = false;
    unsigned sleeps = 0;

    explicit HwioBinding(const std::string& fileOrPath = virtualboard::hwioBareName())
        : library(os::Library::open(fileOrPath)) {
        open = library.function<board::hwio::OpenFn>("HWIO_Open");
        inPortB = library.function<board::hwio::InPortBFn>("HWIO_InPortB");
        outPortB = library.function<board::hwio::OutPortBFn>("HWIO_OutPortB");
        inPortD = library.function<board::hwio::InPortDFn>("HWIO_InPortD");
        outPortD = library.function<board::hwio::OutPortDFn>("HWIO_OutPortD");
        readMsr = library.function<board::hwio::ReadMsrFn>("HWIO_ReadMSR");
        writeMsr = library.function<board::hwio::WriteMsrFn>("HWIO_WriteMSR");
        mapMem = library.function<board::hwio::MapMemFn>("HWIO_MapMem");
        unmapMem = library.function<board::hwio::UnmapMemFn>("HWIO_UnmapMem");
        mapPhysToLin = library.function<board::hwio::MapPhysToLinFn>("MapPhysToLin");
        unmapPhysicalMemory =
            library.function<board::hwio::UnmapPhysicalMemoryFn>("UnmapPhysicalMemory");
    }

    // One wait step: never loops, sleeps at most once.
    void waitStep() {
        if (!(inPortB(0x6C) & 0x02))
            return;
        if (inPortB(0x6C) & 0x06) {
            ++sleeps;
            if (reallySleep)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void ecWrite(std::uint8_t address, std::uint8_t value) {
        waitStep();
        outPortB(0x6C, 0x81);
        waitStep();
        waitStep();
        outPortB(0x68, address);
        waitStep();
        waitStep();
        outPortB(0x68, value);
        waitStep();
    }

    void ecWriteBanked(std::uint8_t bank, std::uint8_t reg, std::uint8_t value) {
        ecWrite(0xFF, bank);
        ecWrite(reg, value);
    }

    // The temperature effect's order; the music effect writes blue, green, red.
    void writeColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue, bool musicOrder) {
        if (musicOrder) {
            ecWriteBanked(0, 0x5B, blue);
            ecWriteBanked(0, 0x5D, green);
            ecWriteBanked(0, 0x53, red);
        } else {
            ecWriteBanked(0, 0x53, red);
            ecWriteBanked(0, 0x5D, green);
            ecWriteBanked(0, 0x5B, blue);
        }
    }
};

} // namespace vbtest
