#include "virtualboard/hardware.h"

#include "virtualboard/board_image.h"
#include "virtualboard/board_options.h"

namespace virtualboard {

using namespace layout;

// --- ports ---

std::uint8_t Hardware::inPort(std::uint16_t port) {
    BoardImage::Lock lock(image_);
    ++image_.state().counters.portReads;
    if (port == kEcCommandPort)
        return ecStatus();
    if (port == kEcDataPort)
        return ecReadData();
    if (pm1Port(port))
        return pm1In(port);
    return 0xFF; // nothing answers: the bus floats high
}

void Hardware::outPort(std::uint16_t port, std::uint8_t value) {
    BoardImage::Lock lock(image_);
    State& s = image_.state();
    ++s.counters.portWrites;
    image_.record(TraceKind::PortWrite, port, value);
    if (port == kEcCommandPort || port == kEcDataPort) {
        bool busy = s.ec.busyMode == std::uint8_t(BusyMode::Always) ||
                    (s.ec.busyMode == std::uint8_t(BusyMode::ForReads) && s.ec.busyReadsLeft > 0);
        if (busy)
            ++s.counters.ecWritesWhileBusy;
        // The emulated controller takes every byte at once, busy or not: a host that
        // writes without waiting loses nothing here, and the counter above shows it.
        if (port == kEcCommandPort)
            ecCommand(value);
        else
            ecData(value);
        return;
    }
    if (pm1Port(port)) {
        pm1Out(port, value);
        return;
    }
    ++s.counters.unclaimedPortWrites;
}

// --- the embedded controller (ACPI EC host interface) ---

namespace {
constexpr std::uint8_t kStatusOutputFull = 0x01;
constexpr std::uint8_t kStatusInputFull = 0x02;
constexpr std::uint8_t kStatusBurst = 0x10;
constexpr std::uint8_t kReadCommand = 0x80;
constexpr std::uint8_t kWriteCommand = 0x81;
constexpr std::uint8_t kBurstEnable = 0x82;
constexpr std::uint8_t kBurstDisable = 0x83;
constexpr std::uint8_t kQuery = 0x84;
constexpr std::uint8_t kBurstAcknowledge = 0x90;
} // namespace

std::uint8_t Hardware::ecStatus() {
    EcState& ec = image_.state().ec;
    Counters& counters = image_.state().counters;
    std::uint8_t status = 0;
    switch (BusyMode(ec.busyMode)) {
    case BusyMode::Never:
        break;
    case BusyMode::ForReads:
        if (ec.busyReadsLeft > 0) {
            status |= kStatusInputFull;
            --ec.busyReadsLeft;
        }
        break;
    case BusyMode::Always:
        status |= kStatusInputFull;
        break;
    }
    if (ec.outputFull)
        status |= kStatusOutputFull;
    if (ec.burst)
        status |= kStatusBurst;
    ++counters.ecStatusReads;
    if (status & kStatusInputFull)
        ++counters.ecBusyStatusReads;
    return status;
}

void Hardware::ecCommand(std::uint8_t value) {
    EcState& ec = image_.state().ec;
    if (EcPhase(ec.phase) != EcPhase::Idle) {
        // A new command abandons the transaction in progress.
        ++image_.state().counters.ecProtocolErrors;
        image_.record(TraceKind::ProtocolError, kEcCommandPort, value);
        ec.phase = std::uint8_t(EcPhase::Idle);
    }
    switch (value) {
    case kWriteCommand:
        ec.phase = std::uint8_t(EcPhase::WriteAddress);
        break;
    case kReadCommand:
        ec.phase = std::uint8_t(EcPhase::ReadAddress);
        break;
    case kBurstEnable:
        ec.burst = 1;
        ec.output = kBurstAcknowledge;
        ec.outputFull = 1;
        break;
    case kBurstDisable:
        ec.burst = 0;
        break;
    case kQuery:
        ec.output = 0; // no event pending
        ec.outputFull = 1;
        break;
    default:
        ++image_.state().counters.ecProtocolErrors;
        image_.record(TraceKind::ProtocolError, kEcCommandPort, value);
        break;
    }
}

void Hardware::ecData(std::uint8_t value) {
    EcState& ec = image_.state().ec;
    switch (EcPhase(ec.phase)) {
    case EcPhase::Idle:
        ++image_.state().counters.ecProtocolErrors; // a data byte with no command
        image_.record(TraceKind::ProtocolError, kEcDataPort, value);
        break;
    case EcPhase::WriteAddress:
        ec.address = value;
        ec.phase = std::uint8_t(EcPhase::WriteValue);
        break;
    case EcPhase::WriteValue:
        writeRegister(ec.address, value);
        ++image_.state().counters.ecTransactions;
        ec.phase = std::uint8_t(EcPhase::Idle);
        break;
    case EcPhase::ReadAddress:
        ec.output = value == kEcBankRegister ? ec.bank : ec.registers[ec.bank][value];
        ec.outputFull = 1;
        ++image_.state().counters.ecReadTransactions;
        ec.phase = std::uint8_t(EcPhase::Idle);
        break;
    }
}

std::uint8_t Hardware::ecReadData() {
    EcState& ec = image_.state().ec;
    ec.outputFull = 0;
    return ec.output;
}

void Hardware::writeRegister(std::uint8_t reg, std::uint8_t value) {
    EcState& ec = image_.state().ec;
    std::uint8_t bank = ec.bank;
    if (reg == kEcBankRegister) {
        image_.record(TraceKind::RegisterWrite, kEcDataPort, value, bank, reg, bank);
        ec.bank = value;
        return;
    }
    std::uint8_t old = ec.registers[bank][reg];
    ec.registers[bank][reg] = value;
    image_.record(TraceKind::RegisterWrite, kEcDataPort, value, bank, reg, old);
}

// --- PM1a event and control blocks ---

bool Hardware::pm1Port(std::uint16_t port) const {
    std::uint16_t event = image_.config().pm1aEventPort, control = image_.config().pm1aControlPort;
    return (port >= event && port < event + 4) || port == event + 0x30 ||
           (port >= control && port < control + 2);
}

std::uint8_t Hardware::pm1In(std::uint16_t port) {
    Pm1State& pm1 = image_.state().pm1;
    std::uint16_t event = image_.config().pm1aEventPort, control = image_.config().pm1aControlPort;
    if (port >= event && port < event + 2)
        return pm1.status[port - event];
    if (port >= event + 2 && port < event + 4)
        return pm1.enable[port - event - 2];
    if (port == event + 0x30)
        return pm1.chipset;
    return pm1.control[port - control];
}

void Hardware::pm1Out(std::uint16_t port, std::uint8_t value) {
    Pm1State& pm1 = image_.state().pm1;
    std::uint16_t event = image_.config().pm1aEventPort, control = image_.config().pm1aControlPort;
    if (port >= event && port < event + 2)
        pm1.status[port - event] &= std::uint8_t(~value); // write one to clear
    else if (port >= event + 2 && port < event + 4)
        pm1.enable[port - event - 2] = value;
    else if (port == event + 0x30)
        pm1.chipset = value;
    else
        pm1.control[port - control] = value;
}

// --- physical memory ---

std::uint8_t* Hardware::physical(std::uint64_t address, std::uint64_t length) {
    return image_.physical(address, length);
}

std::vector<PhysicalRegion> Hardware::regions() const {
    std::vector<PhysicalRegion> regions;
    const Header& header = image_.header();
    for (std::uint32_t i = 0; i < header.sectionCount; ++i) {
        const Section& section = header.sections[i];
        if (section.id == kSectionPhysical)
            regions.push_back({fieldText(section.name), section.physicalBase, section.size});
    }
    return regions;
}

// --- MSRs, HwIO bookkeeping ---

bool Hardware::readMsr(std::uint32_t index, std::uint64_t& value) {
    BoardImage::Lock lock(image_);
    for (const Msr& msr : image_.state().msrs)
        if (msr.used && msr.index == index) {
            value = msr.value;
            return true;
        }
    return false;
}

bool Hardware::writeMsr(std::uint32_t index, std::uint64_t value) {
    BoardImage::Lock lock(image_);
    Msr* free = nullptr;
    for (Msr& msr : image_.state().msrs) {
        if (msr.used && msr.index == index) {
            msr.value = value;
            return true;
        }
        if (!msr.used && !free)
            free = &msr;
    }
    if (!free)
        return false;
    *free = Msr{index, 1, value};
    return true;
}

bool Hardware::openFails() const {
    BoardImage::Lock lock(image_);
    return image_.state().openFails != 0;
}

void Hardware::countOpen() {
    BoardImage::Lock lock(image_);
    ++image_.state().counters.opens;
}

void Hardware::countMap(bool succeeded) {
    BoardImage::Lock lock(image_);
    Counters& counters = image_.state().counters;
    ++(succeeded ? counters.maps : counters.failedMaps);
}

void Hardware::countUnmap() {
    BoardImage::Lock lock(image_);
    ++image_.state().counters.unmaps;
}

} // namespace virtualboard
