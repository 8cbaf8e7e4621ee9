#include "virtualboard/board.h"

#include "virtualboard/firmware.h"
#include "virtualboard/platform.h"
#include "virtualboard/tables.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

namespace virtualboard {

using namespace layout;

namespace {

constexpr std::uint64_t alignUp(std::uint64_t value) {
    return (value + kSectionAlignment - 1) & ~(kSectionAlignment - 1);
}

std::uint64_t monotonicNs() {
    using namespace std::chrono;
    return std::uint64_t(
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

template <std::size_t N>
void copyText(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

template <std::size_t N>
std::string readText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

std::uint32_t read32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// A lock holder that is gone (a process killed inside a few-microsecond critical
// section) must not wedge the board for every later user: a waiter that sees the
// same holder for this long takes the lock over.
constexpr auto kStaleLockAfter = std::chrono::seconds(2);

// The firmware agent of a process that stops refreshing its claim for this long is
// taken to be gone, and another process carries on.
constexpr std::uint64_t kStaleClaimMs = 1000;

constexpr std::uint8_t kGlobalLockStatus = 0x20; // GBL_STS, PM1 status bit 5

} // namespace

// The board-wide lock around device state, counters and the trace.
class Board::Guard {
public:
    explicit Guard(State& state)
        : lock_(state.lock),
          ticket_(std::atomic_ref<std::uint32_t>(state.lockTickets).fetch_add(1) | 0x80000000u) {
        std::uint32_t seen = 0;
        auto seenSince = std::chrono::steady_clock::now();
        for (unsigned spins = 0;; ++spins) {
            std::uint32_t expected = 0;
            if (lock_.compare_exchange_weak(expected, ticket_, std::memory_order_acquire))
                return;
            if (expected != seen) {
                seen = expected;
                seenSince = std::chrono::steady_clock::now();
            } else if (expected != 0 &&
                       std::chrono::steady_clock::now() - seenSince > kStaleLockAfter) {
                if (lock_.compare_exchange_strong(expected, ticket_, std::memory_order_acquire))
                    return;
            }
            if (spins > 100)
                std::this_thread::yield();
        }
    }
    ~Guard() {
        std::uint32_t mine = ticket_;
        lock_.compare_exchange_strong(mine, 0, std::memory_order_release);
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    std::atomic_ref<std::uint32_t> lock_;
    std::uint32_t ticket_;
};

// --- paths ---

std::filesystem::path Board::defaultImagePath() {
    if (const char* image = std::getenv("VBOARD_IMAGE"); image && *image)
        return std::filesystem::path(image);
    return runtimeDirectory() / "lumivane-vboard.img";
}

std::filesystem::path Board::defaultFirmwareDirectory(const std::filesystem::path& image) {
    std::filesystem::path directory = image;
    directory.replace_extension(".firmware");
    return directory;
}

std::filesystem::path Board::defaultLibraryDirectory(const std::filesystem::path& image) {
    std::filesystem::path directory = image;
    directory.replace_extension(".hwio");
    return directory;
}

// --- create and open ---

std::unique_ptr<Board> Board::create(const std::filesystem::path& image,
                                     const BoardOptions& options,
                                     const std::filesystem::path& firmwareDirectory) {
    BuiltTables tables = buildTables(options);

    std::vector<Section> sections;
    std::uint64_t end = alignUp(sizeof(Header));
    auto addSection = [&](std::uint32_t id, std::uint64_t size, const char* name,
                          std::uint64_t physicalBase = 0) {
        Section section{};
        section.id = id;
        section.offset = end;
        section.size = size;
        section.physicalBase = physicalBase;
        copyText(section.name, name);
        sections.push_back(section);
        end = alignUp(end + size);
        return section.offset;
    };
    std::uint64_t configAt = addSection(kSectionConfig, sizeof(Config), "config");
    std::uint64_t stateAt = addSection(kSectionState, sizeof(State), "state");
    addSection(kSectionTrace, sizeof(TraceRecord) * kTraceCapacity, "trace");
    std::uint64_t firmwareAt = addSection(kSectionFirmware, sizeof(FirmwareState), "firmware");
    std::vector<std::uint64_t> regionAt;
    for (const RegionImage& region : tables.regions)
        regionAt.push_back(
            addSection(kSectionPhysical, region.bytes.size(), region.name.c_str(), region.address));

    std::vector<std::uint8_t> bytes(end, 0);
    auto* header = reinterpret_cast<Header*>(bytes.data());
    std::memcpy(header->magic, kMagic, sizeof kMagic);
    header->version = kVersion;
    header->headerSize = sizeof(Header);
    header->fileSize = end;
    header->sectionCount = std::uint32_t(sections.size());
    std::copy(sections.begin(), sections.end(), header->sections);

    auto* config = reinterpret_cast<Config*>(bytes.data() + configAt);
    copyText(config->productName, options.productName);
    copyText(config->secondProductName, options.secondProductName);
    copyText(config->missingExport, options.missingExport);
    if (!firmwareDirectory.empty())
        copyText(config->firmwareDirectory,
                 std::filesystem::absolute(firmwareDirectory).generic_string());
    config->baseboards = std::uint32_t(options.baseboards);
    config->baseboardLength = options.baseboardLength;
    config->smbiosTableAddress = options.smbiosTableAddress;
    config->smbiosTableLength = std::uint32_t(tables.smbiosTable.size());
    config->smbiosEntryPoint = tables.entryPointAddress;
    config->rsdpAddress = tables.rsdpAddress;
    config->rsdtAddress = tables.rsdtAddress;
    config->fadtAddress = tables.fadtAddress;
    config->facsAddress = tables.facsAddress;
    config->registerWindowAddress = kRegisterWindowAddress;
    config->pm1aEventPort = kPm1aEventPort;
    config->pm1aControlPort = kPm1aControlPort;
    config->tableService = options.tableService ? 1 : 0;

    auto* state = reinterpret_cast<State*>(bytes.data() + stateAt);
    state->openFails = options.openFails ? 1 : 0;
    state->ec.busyMode = std::uint8_t(options.busyMode);
    state->ec.busyReadsLeft = options.busyMode == BusyMode::ForReads ? options.busyReads : 0;

    auto* firmware = reinterpret_cast<FirmwareState*>(bytes.data() + firmwareAt);
    firmware->hostTemperature = options.hostTemperature ? 1 : 0;
    firmware->storedTemperature = options.temperature;
    firmware->poweredOnMs = wallClockMs();
    for (const ItemDefinition& item : itemDefinitions()) {
        const std::vector<std::uint8_t> descriptor = descriptorOf(item);
        if (firmware->itemCount == kItemSlots || descriptor.size() > kDescriptorCapacity)
            throw BoardError("the firmware item table does not fit the image");
        ItemSlot& slot = firmware->items[firmware->itemCount++];
        slot.id = item.id;
        slot.value = item.value;
        slot.methodCode = methodCodeOf(item.id);
        slot.descriptorLength = std::uint32_t(descriptor.size());
        std::copy(descriptor.begin(), descriptor.end(), slot.descriptor);
        if (item.id == kLightingControlItem)
            slot.value = options.firmwareDrivesLeds ? 0 : 1;
        if (item.id == kCpuTemperatureItem)
            slot.value = options.temperature;
    }

    for (std::size_t i = 0; i < tables.regions.size(); ++i)
        std::copy(tables.regions[i].bytes.begin(), tables.regions[i].bytes.end(),
                  bytes.begin() + std::ptrdiff_t(regionAt[i]));

    std::filesystem::path absolute = std::filesystem::absolute(image);
    std::error_code ec;
    if (absolute.has_parent_path())
        std::filesystem::create_directories(absolute.parent_path(), ec);
    std::filesystem::path temporary = absolute;
    temporary += ".new-" + std::to_string(currentProcessId());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.close();
        if (!out) {
            std::filesystem::remove(temporary, ec);
            throw BoardError("cannot write board image " + temporary.string());
        }
    }
    try {
        // Programs that map the old image open the path again from their next call
        // on. Marked before the replacement, closed so that Windows lets it go.
        std::atomic_ref<std::uint32_t>(open(absolute)->header_->superseded).store(1);
    } catch (const BoardError&) {
        // Nothing there yet, or not a board: nobody to tell.
    }
    try {
        replaceFile(temporary, absolute);
    } catch (...) {
        std::filesystem::remove(temporary, ec);
        throw;
    }
    if (!firmwareDirectory.empty())
        writeFirmwareDirectory(firmwareDirectory, tables, options.tableService);

    std::unique_ptr<Board> board = open(absolute);
    if (options.firmwareLockMs > 0)
        board->firmwareTakeGlobalLock(options.firmwareLockMs);
    return board;
}

std::unique_ptr<Board> Board::open(const std::filesystem::path& image) {
    std::unique_ptr<MappedFile> file = MappedFile::open(image);
    const std::string name = image.string();
    if (file->size() < sizeof(Header))
        throw BoardError(name + " is not a board image");
    auto* header = reinterpret_cast<Header*>(file->data());
    if (std::memcmp(header->magic, kMagic, sizeof kMagic) != 0)
        throw BoardError(name + " is not a board image");
    if (header->version != kVersion)
        throw BoardError(name + " has image version " + std::to_string(header->version) +
                         "; this program reads version " + std::to_string(kVersion));
    if (header->sectionCount > kMaxSections || header->fileSize > file->size())
        throw BoardError(name + " is damaged (header)");
    for (std::uint32_t i = 0; i < header->sectionCount; ++i) {
        const Section& section = header->sections[i];
        if (section.offset % kSectionAlignment != 0 || section.offset > file->size() ||
            section.size > file->size() - section.offset)
            throw BoardError(name + " is damaged (section " + std::to_string(i) + ")");
    }
    std::unique_ptr<Board> board(new Board(image, std::move(file)));
    auto find = [&](std::uint32_t id, std::uint64_t minimum) -> std::uint8_t* {
        for (std::uint32_t i = 0; i < header->sectionCount; ++i)
            if (header->sections[i].id == id && header->sections[i].size >= minimum)
                return board->file_->data() + header->sections[i].offset;
        throw BoardError(name + " lacks a section it needs (" + std::to_string(id) + ")");
    };
    board->header_ = header;
    board->config_ = reinterpret_cast<Config*>(find(kSectionConfig, sizeof(Config)));
    board->state_ = reinterpret_cast<State*>(find(kSectionState, sizeof(State)));
    board->trace_ =
        reinterpret_cast<TraceRecord*>(find(kSectionTrace, sizeof(TraceRecord) * kTraceCapacity));
    board->firmware_ =
        reinterpret_cast<FirmwareState*>(find(kSectionFirmware, sizeof(FirmwareState)));
    if (board->firmware_->itemCount > kItemSlots)
        throw BoardError(name + " is damaged (firmware items)");
    for (std::uint32_t i = 0; i < board->firmware_->itemCount; ++i)
        if (board->firmware_->items[i].descriptorLength > kDescriptorCapacity)
            throw BoardError(name + " is damaged (firmware items)");
    return board;
}

Board::Board(std::filesystem::path path, std::unique_ptr<MappedFile> file)
    : path_(std::move(path)), file_(std::move(file)) {}

Board::~Board() = default;

State& Board::state() const {
    return *state_;
}

bool Board::superseded() const {
    return std::atomic_ref<std::uint32_t>(header_->superseded).load(std::memory_order_relaxed) != 0;
}

BoardFacts Board::facts() const {
    const Config& c = *config_;
    BoardFacts facts;
    facts.productName = readText(c.productName);
    facts.secondProductName = readText(c.secondProductName);
    facts.missingExport = readText(c.missingExport);
    facts.firmwareDirectory = readText(c.firmwareDirectory);
    facts.baseboards = int(c.baseboards);
    facts.baseboardLength = c.baseboardLength;
    facts.smbiosTableAddress = c.smbiosTableAddress;
    facts.smbiosTableLength = c.smbiosTableLength;
    facts.smbiosEntryPoint = c.smbiosEntryPoint;
    facts.rsdpAddress = c.rsdpAddress;
    facts.rsdtAddress = c.rsdtAddress;
    facts.fadtAddress = c.fadtAddress;
    facts.facsAddress = c.facsAddress;
    facts.pm1aEventPort = c.pm1aEventPort;
    facts.pm1aControlPort = c.pm1aControlPort;
    facts.tableService = c.tableService != 0;
    return facts;
}

// --- physical memory ---

std::uint8_t* Board::physical(std::uint64_t address, std::uint64_t length) {
    if (length == 0)
        return nullptr;
    for (std::uint32_t i = 0; i < header_->sectionCount; ++i) {
        const Section& section = header_->sections[i];
        if (section.id != kSectionPhysical || address < section.physicalBase)
            continue;
        std::uint64_t at = address - section.physicalBase;
        if (at < section.size && length <= section.size - at)
            return file_->data() + section.offset + at;
    }
    return nullptr;
}

std::vector<PhysicalRegion> Board::regions() const {
    std::vector<PhysicalRegion> regions;
    for (std::uint32_t i = 0; i < header_->sectionCount; ++i) {
        const Section& section = header_->sections[i];
        if (section.id == kSectionPhysical)
            regions.push_back({readText(section.name), section.physicalBase, section.size});
    }
    return regions;
}

std::uint32_t* Board::lockWordPointer() const {
    auto* self = const_cast<Board*>(this);
    std::uint8_t* facs = self->physical(config_->facsAddress, 24);
    return facs ? reinterpret_cast<std::uint32_t*>(facs + 16) : nullptr;
}

std::uint32_t Board::globalLockWord() const {
    std::uint32_t* word = lockWordPointer();
    return word ? std::atomic_ref<std::uint32_t>(*word).load() : 0;
}

void Board::setGlobalLockWord(std::uint32_t value) {
    if (std::uint32_t* word = lockWordPointer())
        std::atomic_ref<std::uint32_t>(*word).store(value);
}

std::uint32_t Board::windowRegister(std::uint32_t offset) const {
    auto* self = const_cast<Board*>(this);
    std::uint8_t* at = self->physical(kRegisterWindowAddress + std::uint64_t(offset), 4);
    return at ? read32(at) : 0;
}

// --- ports ---

void Board::record(TraceKind kind, std::uint16_t port, std::uint8_t value, std::uint8_t bank,
                   std::uint8_t reg, std::uint8_t oldValue) {
    State& s = state();
    std::uint64_t sequence = ++s.traceNext;
    TraceRecord& r = trace_[(sequence - 1) % kTraceCapacity];
    r = TraceRecord{};
    r.sequence = sequence;
    r.timeNs = monotonicNs();
    r.port = port;
    r.kind = std::uint8_t(kind);
    r.value = value;
    r.bank = bank;
    r.reg = reg;
    r.oldValue = oldValue;
}

std::uint8_t Board::inPort(std::uint16_t port) {
    Guard guard(state());
    ++state().counters.portReads;
    if (port == kEcCommandPort)
        return ecStatus();
    if (port == kEcDataPort)
        return ecReadData();
    if (pm1Port(port))
        return pm1In(port);
    return 0xFF; // nothing answers: the bus floats high
}

void Board::outPort(std::uint16_t port, std::uint8_t value) {
    Guard guard(state());
    State& s = state();
    ++s.counters.portWrites;
    record(TraceKind::PortWrite, port, value);
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

std::uint8_t Board::ecStatus() {
    EcState& ec = state().ec;
    Counters& counters = state().counters;
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

void Board::ecCommand(std::uint8_t value) {
    EcState& ec = state().ec;
    if (EcPhase(ec.phase) != EcPhase::Idle) {
        // A new command abandons the transaction in progress.
        ++state().counters.ecProtocolErrors;
        record(TraceKind::ProtocolError, kEcCommandPort, value);
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
        ++state().counters.ecProtocolErrors;
        record(TraceKind::ProtocolError, kEcCommandPort, value);
        break;
    }
}

void Board::ecData(std::uint8_t value) {
    EcState& ec = state().ec;
    switch (EcPhase(ec.phase)) {
    case EcPhase::Idle:
        ++state().counters.ecProtocolErrors; // a data byte with no command
        record(TraceKind::ProtocolError, kEcDataPort, value);
        break;
    case EcPhase::WriteAddress:
        ec.address = value;
        ec.phase = std::uint8_t(EcPhase::WriteValue);
        break;
    case EcPhase::WriteValue:
        writeRegister(ec.address, value);
        ++state().counters.ecTransactions;
        ec.phase = std::uint8_t(EcPhase::Idle);
        break;
    case EcPhase::ReadAddress:
        ec.output = value == kEcBankRegister ? ec.bank : ec.registers[ec.bank][value];
        ec.outputFull = 1;
        ++state().counters.ecReadTransactions;
        ec.phase = std::uint8_t(EcPhase::Idle);
        break;
    }
}

std::uint8_t Board::ecReadData() {
    EcState& ec = state().ec;
    ec.outputFull = 0;
    return ec.output;
}

void Board::writeRegister(std::uint8_t reg, std::uint8_t value) {
    EcState& ec = state().ec;
    std::uint8_t bank = ec.bank;
    if (reg == kEcBankRegister) {
        record(TraceKind::RegisterWrite, kEcDataPort, value, bank, reg, bank);
        ec.bank = value;
        return;
    }
    std::uint8_t old = ec.registers[bank][reg];
    ec.registers[bank][reg] = value;
    record(TraceKind::RegisterWrite, kEcDataPort, value, bank, reg, old);
}

// --- PM1a event and control blocks ---

bool Board::pm1Port(std::uint16_t port) const {
    std::uint16_t event = config_->pm1aEventPort, control = config_->pm1aControlPort;
    return (port >= event && port < event + 4) || port == event + 0x30 ||
           (port >= control && port < control + 2);
}

std::uint8_t Board::pm1In(std::uint16_t port) {
    Pm1State& pm1 = state().pm1;
    std::uint16_t event = config_->pm1aEventPort, control = config_->pm1aControlPort;
    if (port >= event && port < event + 2)
        return pm1.status[port - event];
    if (port >= event + 2 && port < event + 4)
        return pm1.enable[port - event - 2];
    if (port == event + 0x30)
        return pm1.chipset;
    return pm1.control[port - control];
}

void Board::pm1Out(std::uint16_t port, std::uint8_t value) {
    Pm1State& pm1 = state().pm1;
    std::uint16_t event = config_->pm1aEventPort, control = config_->pm1aControlPort;
    if (port >= event && port < event + 2)
        pm1.status[port - event] &= std::uint8_t(~value); // write one to clear
    else if (port >= event + 2 && port < event + 4)
        pm1.enable[port - event - 2] = value;
    else if (port == event + 0x30)
        pm1.chipset = value;
    else
        pm1.control[port - control] = value;
}

// --- MSRs, HwIO bookkeeping ---

bool Board::readMsr(std::uint32_t index, std::uint64_t& value) {
    Guard guard(state());
    for (const Msr& msr : state().msrs)
        if (msr.used && msr.index == index) {
            value = msr.value;
            return true;
        }
    return false;
}

bool Board::writeMsr(std::uint32_t index, std::uint64_t value) {
    Guard guard(state());
    Msr* free = nullptr;
    for (Msr& msr : state().msrs) {
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

bool Board::openFails() const {
    Guard guard(state());
    return state().openFails != 0;
}

void Board::countOpen() {
    Guard guard(state());
    ++state().counters.opens;
}

void Board::countMap(bool succeeded) {
    Guard guard(state());
    ++(succeeded ? state().counters.maps : state().counters.failedMaps);
}

void Board::countUnmap() {
    Guard guard(state());
    ++state().counters.unmaps;
}

// --- inspection and knobs ---

std::uint8_t Board::ecRegister(std::uint8_t bank, std::uint8_t reg) const {
    Guard guard(state());
    if (reg == kEcBankRegister)
        return state().ec.bank;
    return state().ec.registers[bank][reg];
}

EcSnapshot Board::ec() const {
    Guard guard(state());
    const EcState& ec = state().ec;
    return {EcPhase(ec.phase), ec.bank, BusyMode(ec.busyMode), ec.busyReadsLeft};
}

LedColour Board::ecColour() const {
    Guard guard(state());
    const auto& bank0 = state().ec.registers[0];
    return {bank0[kRedRegister], bank0[kGreenRegister], bank0[kBlueRegister]};
}

LedColour Board::ledColour() const {
    return ledView().colour;
}

LedView Board::ledView() const {
    return ledViewAt(wallClockMs());
}

LedView Board::ledViewAt(std::uint64_t now) const {
    LedView view;
    Guard guard(state());
    const ItemSlot* on = slotLocked(kLightingOnItem);
    const ItemSlot* control = slotLocked(kLightingControlItem);
    const ItemSlot* effect = slotLocked(kEffectWordItem);
    view.effectWord = effect ? effect->value : 0;
    if (on && on->value == 0) {
        view.source = LedView::Source::Dark;
    } else if (control && control->value == 0) {
        view.source = LedView::Source::Firmware;
        // The effect starts over whenever it is programmed.
        const std::uint64_t since =
            effect && effect->writtenAtMs ? effect->writtenAtMs : firmware_->poweredOnMs;
        view.colour = renderEffect(view.effectWord, now > since ? now - since : 0);
    } else {
        const auto& bank0 = state().ec.registers[0];
        view.colour = {bank0[kRedRegister], bank0[kGreenRegister], bank0[kBlueRegister]};
    }
    return view;
}

Counters Board::counters() const {
    Guard guard(state());
    return state().counters;
}

std::vector<TraceEntry> Board::trace() const {
    Guard guard(state());
    std::uint64_t next = state().traceNext;
    std::uint64_t first = next > kTraceCapacity ? next - kTraceCapacity : 0;
    std::vector<TraceEntry> entries;
    entries.reserve(std::size_t(next - first));
    for (std::uint64_t i = first; i < next; ++i) {
        const TraceRecord& r = trace_[i % kTraceCapacity];
        entries.push_back(
            {r.sequence, r.timeNs, TraceKind(r.kind), r.port, r.value, r.bank, r.reg, r.oldValue});
    }
    return entries;
}

Pm1Registers Board::pm1() const {
    Guard guard(state());
    const Pm1State& pm1 = state().pm1;
    return {std::uint16_t(pm1.status[0] | pm1.status[1] << 8),
            std::uint16_t(pm1.enable[0] | pm1.enable[1] << 8),
            std::uint16_t(pm1.control[0] | pm1.control[1] << 8), pm1.chipset};
}

FirmwareLockState Board::firmwareLock() const {
    Guard guard(state());
    return state().firmwareLock;
}

void Board::setBusyMode(BusyMode mode, std::uint32_t reads) {
    Guard guard(state());
    state().ec.busyMode = std::uint8_t(mode);
    state().ec.busyReadsLeft = mode == BusyMode::ForReads ? reads : 0;
}

void Board::setOpenFails(bool fails) {
    Guard guard(state());
    state().openFails = fails ? 1 : 0;
}

void Board::setEcRegister(std::uint8_t bank, std::uint8_t reg, std::uint8_t value) {
    Guard guard(state());
    if (reg == kEcBankRegister)
        state().ec.bank = value;
    else
        state().ec.registers[bank][reg] = value;
}

void Board::resetCounters() {
    Guard guard(state());
    state().counters = Counters{};
}

void Board::clearTrace() {
    Guard guard(state());
    state().traceNext = 0;
}

// --- firmware items ---

ItemSlot* Board::slotLocked(std::uint32_t id) const {
    for (std::uint32_t i = 0; i < firmware_->itemCount; ++i)
        if (itemKey(firmware_->items[i].id) == itemKey(id))
            return &firmware_->items[i];
    return nullptr;
}

namespace {
FirmwareItem itemOf(const ItemSlot& slot) {
    FirmwareItem item;
    item.id = slot.id;
    item.value = slot.value;
    item.lastControl = slot.lastControl;
    item.writes = slot.writes;
    item.writtenAtMs = slot.writtenAtMs;
    item.methodCode = slot.methodCode;
    item.descriptor.assign(slot.descriptor, slot.descriptor + slot.descriptorLength);
    return item;
}
} // namespace

std::vector<FirmwareItem> Board::firmwareItems() const {
    Guard guard(state());
    std::vector<FirmwareItem> items;
    for (std::uint32_t i = 0; i < firmware_->itemCount; ++i)
        items.push_back(itemOf(firmware_->items[i]));
    return items;
}

std::optional<FirmwareItem> Board::firmwareItem(std::uint32_t id) const {
    Guard guard(state());
    if (const ItemSlot* slot = slotLocked(id))
        return itemOf(*slot);
    return std::nullopt;
}

std::optional<FirmwareItem> Board::itemByMethodCode(std::uint32_t code) const {
    Guard guard(state());
    for (std::uint32_t i = 0; i < firmware_->itemCount; ++i)
        if (firmware_->items[i].methodCode == code)
            return itemOf(firmware_->items[i]);
    return std::nullopt;
}

std::optional<std::uint32_t> Board::readItem(std::uint32_t id) const {
    if (itemKey(id) == itemKey(kCpuTemperatureItem) && hostTemperature())
        if (auto host = hostCpuTemperature()) // outside the lock: it reads files
            return host;
    Guard guard(state());
    if (const ItemSlot* slot = slotLocked(id))
        return slot->value;
    return std::nullopt;
}

ItemWrite Board::writeItem(std::uint32_t id, std::uint32_t value, std::uint32_t control) {
    Guard guard(state());
    ItemSlot* slot = slotLocked(id);
    if (!slot)
        return ItemWrite::NoSuchItem;
    const std::uint8_t* access = slot->descriptor + 8 + 3 * 12 + 4; // element 3's data
    if (slot->descriptorLength < 8 + 4 * 12 || !(std::uint32_t(access[0]) & kItemWritable))
        return ItemWrite::ReadOnly;
    slot->value = value;
    slot->lastControl = control;
    ++slot->writes;
    slot->writtenAtMs = wallClockMs();
    return ItemWrite::Done;
}

bool Board::setItemValue(std::uint32_t id, std::uint32_t value) {
    Guard guard(state());
    ItemSlot* slot = slotLocked(id);
    if (!slot)
        return false;
    slot->value = value;
    slot->writtenAtMs = wallClockMs();
    return true;
}

void Board::setTemperature(std::optional<std::uint32_t> tenths) {
    Guard guard(state());
    firmware_->hostTemperature = tenths ? 0 : 1;
    if (tenths) {
        firmware_->storedTemperature = *tenths;
        if (ItemSlot* slot = slotLocked(kCpuTemperatureItem))
            slot->value = *tenths;
    }
}

bool Board::hostTemperature() const {
    Guard guard(state());
    return firmware_->hostTemperature != 0;
}

BridgeFaults Board::bridgeFaults() const {
    Guard guard(state());
    return firmware_->faults;
}

void Board::setBridgeFaults(const BridgeFaults& faults) {
    Guard guard(state());
    firmware_->faults = faults;
    firmware_->faults.unknownMethod[sizeof faults.unknownMethod - 1] = 0;
}

void Board::logCall(CallRecord record) {
    Guard guard(state());
    record.sequence = ++firmware_->callNext;
    record.timeMs = wallClockMs();
    firmware_->calls[(record.sequence - 1) % kCallLogCapacity] = record;
}

std::vector<CallRecord> Board::calls() const {
    Guard guard(state());
    const std::uint64_t next = firmware_->callNext;
    const std::uint64_t first = next > kCallLogCapacity ? next - kCallLogCapacity : 0;
    std::vector<CallRecord> records;
    for (std::uint64_t i = first; i < next; ++i)
        records.push_back(firmware_->calls[i % kCallLogCapacity]);
    return records;
}

void Board::clearCalls() {
    Guard guard(state());
    firmware_->callNext = 0;
}

// --- the firmware's side of the global lock ---

namespace {
constexpr std::uint32_t kPending = 1;
constexpr std::uint32_t kOwned = 2;
} // namespace

void Board::firmwareTakeGlobalLock(std::uint32_t holdMs) {
    std::uint32_t* word = lockWordPointer();
    if (!word)
        return;
    std::atomic_ref<std::uint32_t> lock(*word);
    // As the firmware does: while the system owns the lock, ask for it (pending) and
    // wait for the system's release; then own it.
    for (;;) {
        std::uint32_t old = lock.load();
        if (old & kOwned) {
            if (!(old & kPending))
                lock.compare_exchange_strong(old, old | kPending);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (lock.compare_exchange_strong(old, kOwned))
            break;
    }
    Guard guard(state());
    FirmwareLockState& firmware = state().firmwareLock;
    firmware.holdMs = holdMs;
    firmware.phase = std::uint32_t(FirmwareLockPhase::Holding);
    firmware.armedAtMs = wallClockMs();
    firmware.claimedBy = 0;
    ++state().counters.firmwareLockTakes;
    record(TraceKind::FirmwareLock, 0, 1);
}

bool Board::releaseFirmwareLockLocked() {
    FirmwareLockState& firmware = state().firmwareLock;
    if (FirmwareLockPhase(firmware.phase) != FirmwareLockPhase::Holding ||
        wallClockMs() < firmware.armedAtMs + firmware.holdMs)
        return false;
    std::uint32_t* word = lockWordPointer();
    std::uint32_t old = 0;
    if (word) {
        std::atomic_ref<std::uint32_t> lock(*word);
        old = lock.load();
        while (!lock.compare_exchange_weak(old, old & ~(kOwned | kPending))) {
        }
    }
    firmware.phase = std::uint32_t(FirmwareLockPhase::Done);
    ++state().counters.firmwareLockReleases;
    record(TraceKind::FirmwareLock, 0, 0);
    if (old & kPending) {
        // The system asked while the firmware held the lock: tell it the lock is free.
        state().pm1.status[0] |= kGlobalLockStatus;
        ++state().counters.firmwareLockSignals;
        record(TraceKind::FirmwareLock, config_->pm1aEventPort, 2);
    }
    return true;
}

bool Board::serviceFirmware() {
    Guard guard(state());
    return releaseFirmwareLockLocked();
}

bool Board::firmwareLockActive() const {
    Guard guard(state());
    return FirmwareLockPhase(state().firmwareLock.phase) == FirmwareLockPhase::Holding;
}

void Board::startFirmwareAgent() {
    static std::atomic<bool> running{false};
    if (!firmwareLockActive() || running.exchange(true))
        return;
    std::filesystem::path image = path_;
    std::thread([image] {
        try {
            std::unique_ptr<Board> board = Board::open(image);
            const std::uint32_t me = currentProcessId();
            for (;;) {
                {
                    Guard guard(board->state());
                    FirmwareLockState& firmware = board->state().firmwareLock;
                    if (FirmwareLockPhase(firmware.phase) != FirmwareLockPhase::Holding)
                        break;
                    std::uint64_t now = wallClockMs();
                    if (firmware.claimedBy == 0 || firmware.claimedBy == me ||
                        now > firmware.heartbeatMs + kStaleClaimMs) {
                        firmware.claimedBy = me;
                        firmware.heartbeatMs = now;
                        if (board->releaseFirmwareLockLocked())
                            break;
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        } catch (const BoardError&) {
            // The image went away: there is no firmware left to run.
        }
        running = false;
    }).detach();
}

} // namespace virtualboard
