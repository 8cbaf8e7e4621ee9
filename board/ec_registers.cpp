#include "board/ec_registers.h"

#include "os/diagnostics.h"

#include <chrono>
#include <thread>

namespace board {
namespace {

void sleepOneMillisecond() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

enum ReportFlag : unsigned {
    kReportedMissing = 1,
    kReportedNoOpen = 2,
    kReportedOpenFailed = 4,
    kReportedNoPorts = 8,
};

} // namespace

EcPortBinding::EcPortBinding(std::string libraryFile)
    : libraryFile_(std::move(libraryFile)), sleep_(sleepOneMillisecond) {}

std::uint32_t EcPortBinding::loadHwio() {
    std::lock_guard lock(mutex_);
    // Loaded once and opened once: the answer of that load stands for the process.
    if (module_.isLoaded())
        return loadResult_;
    return loadLocked();
}

bool EcPortBinding::isLoaded() const {
    std::lock_guard lock(mutex_);
    return module_.isLoaded();
}

bool EcPortBinding::canWrite() const {
    std::lock_guard lock(mutex_);
    return module_.isLoaded() && outPortByte_ && inPortByte_;
}

void EcPortBinding::setSleep(Sleep sleep) {
    std::lock_guard lock(mutex_);
    sleep_ = sleep ? sleep : sleepOneMillisecond;
}

std::uint32_t EcPortBinding::loadLocked() {
    os::Library library = os::Library::open(libraryFile_);
    if (!library)
        return kHwioMissing;
    module_ = std::move(library);
    open_ = module_.function<hwio::OpenFn>(hwio::kOpen);
    outPortByte_ = module_.function<hwio::OutPortBFn>(hwio::kOutPortB);
    inPortByte_ = module_.function<hwio::InPortBFn>(hwio::kInPortB);
    if (!open_)
        return loadResult_ = kHwioNoOpen;
    return loadResult_ = open_(0) != 0 ? kHwioLoaded : kHwioOpenFailed;
}

void EcPortBinding::reportOnce(unsigned flag, const std::string& text) {
    if (reported_ & flag)
        return;
    reported_ |= flag;
    os::debugOutput(text);
}

void EcPortBinding::waitStep() {
    // One look at the input buffer and at most one short pause; the byte goes out
    // afterwards whether or not the controller has caught up.
    if ((inPortByte_(kEcCommandPort) & kEcInputBufferFull) == 0)
        return;
    if (inPortByte_(kEcCommandPort) & kEcBusyMask)
        sleep_();
}

void EcPortBinding::writeLocked(std::uint8_t address, std::uint8_t value) {
    if (!module_.isLoaded()) {
        // Tried again on every write: the library may be installed later.
        switch (loadLocked()) {
        case kHwioMissing:
            reportOnce(kReportedMissing, "HwIO: cannot load \"" + libraryFile_ +
                                             "\"; LED register writes are dropped until it loads");
            return;
        case kHwioNoOpen:
            reportOnce(kReportedNoOpen, "HwIO: \"" + libraryFile_ + "\" has no HWIO_Open");
            break;
        case kHwioOpenFailed:
            reportOnce(kReportedOpenFailed,
                       "HwIO: HWIO_Open(0) failed in \"" + libraryFile_ + "\"; writing anyway");
            break;
        default:
            break;
        }
    }
    if (!outPortByte_ || !inPortByte_) {
        reportOnce(kReportedNoPorts, "HwIO: \"" + libraryFile_ +
                                         "\" lacks HWIO_OutPortB or HWIO_InPortB; LED register "
                                         "writes are dropped");
        return;
    }

    waitStep();
    outPortByte_(kEcCommandPort, kEcWriteCommand);
    waitStep();
    waitStep();
    outPortByte_(kEcDataPort, address);
    waitStep();
    waitStep();
    outPortByte_(kEcDataPort, value);
    waitStep();
}

void EcPortBinding::ecWrite(std::uint8_t address, std::uint8_t value) {
    std::lock_guard lock(mutex_);
    writeLocked(address, value);
}

void EcPortBinding::ecWriteBanked(std::uint8_t bank, std::uint8_t reg, std::uint8_t value) {
    // Another thread's bank selection between ours and the register would send the
    // value to the wrong bank.
    std::lock_guard lock(mutex_);
    writeLocked(kEcBankRegister, bank);
    writeLocked(reg, value);
}

EcPortBinding& ledPorts() {
    // Never destroyed, like every process-wide object: effect threads may still write
    // while the process ends.
    static EcPortBinding* const binding = new EcPortBinding(hwio::ledLibraryName());
    return *binding;
}

std::uint32_t loadHwio() {
    return ledPorts().loadHwio();
}

void ecWrite(std::uint8_t address, std::uint8_t value) {
    ledPorts().ecWrite(address, value);
}

void ecWriteBanked(std::uint8_t bank, std::uint8_t reg, std::uint8_t value) {
    ledPorts().ecWriteBanked(bank, reg, value);
}

} // namespace board
