#include "virtualboard/board.h"

#include "virtualboard/board_image.h"
#include "virtualboard/firmware.h"
#include "virtualboard/platform.h"
#include "virtualboard/tables.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace virtualboard {

using namespace layout;

namespace {

constexpr std::uint64_t alignUp(std::uint64_t value) {
    return (value + kSectionAlignment - 1) & ~(kSectionAlignment - 1);
}

template <std::size_t N>
void copyText(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

} // namespace

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
        std::atomic_ref<std::uint32_t>(BoardImage::open(absolute)->header().superseded).store(1);
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
        board->firmwareLock().take(options.firmwareLockMs);
    return board;
}

std::unique_ptr<Board> Board::open(const std::filesystem::path& image) {
    return std::unique_ptr<Board>(new Board(BoardImage::open(image)));
}

Board::Board(std::unique_ptr<BoardImage> image)
    : image_(std::move(image)), hardware_(*image_), readout_(*image_), knobs_(*image_),
      items_(*image_), bridge_(*image_), firmwareLock_(*image_) {}

Board::~Board() = default;

const std::filesystem::path& Board::path() const {
    return image_->path();
}

bool Board::superseded() const {
    return std::atomic_ref<std::uint32_t>(image_->header().superseded)
               .load(std::memory_order_relaxed) != 0;
}

BoardFacts Board::facts() const {
    const Config& c = image_->config();
    BoardFacts facts;
    facts.productName = fieldText(c.productName);
    facts.secondProductName = fieldText(c.secondProductName);
    facts.missingExport = fieldText(c.missingExport);
    facts.firmwareDirectory = fieldText(c.firmwareDirectory);
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

} // namespace virtualboard
