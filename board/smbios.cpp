#include "board/smbios.h"

#include "board/hwio.h"
#include "os/diagnostics.h"
#include "os/firmware_tables.h"

#include <algorithm>
#include <cstring>

namespace board {
namespace {

constexpr std::uint32_t kRsmbHeaderLength = 8;
constexpr std::uint32_t kEntryTableLength = 0x16;  // 16-bit
constexpr std::uint32_t kEntryTableAddress = 0x18; // 32-bit
constexpr std::uint32_t kEntryFieldsEnd = kEntryTableAddress + 4;
constexpr std::uint8_t kBaseboardProduct = 5;

std::uint32_t readLe32(const std::uint8_t* bytes) {
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

std::uint16_t readLe16(const std::uint8_t* bytes) {
    return std::uint16_t(bytes[0] | bytes[1] << 8);
}

} // namespace

const std::uint8_t* DmiHelpByAPI::MapTable(std::uint32_t* length) {
    UnmapTable();
    std::uint32_t size = os::getSystemFirmwareTable(os::kFirmwareProviderRsmb, 0, nullptr, 0);
    if (size <= kRsmbHeaderLength)
        return nullptr;
    buffer_.resize(size);
    // The table may change between the two calls; then this copy is not whole.
    if (os::getSystemFirmwareTable(os::kFirmwareProviderRsmb, 0, buffer_.data(), size) != size) {
        UnmapTable();
        return nullptr;
    }
    tableStart_ = buffer_.data() + kRsmbHeaderLength;
    tableLength_ = size - kRsmbHeaderLength;
    *length = tableLength_;
    return tableStart_;
}

void DmiHelpByAPI::UnmapTable() {
    std::vector<std::uint8_t>().swap(buffer_);
    tableStart_ = nullptr;
    tableLength_ = 0;
}

const std::uint8_t* DmiHelpByScanMem::MapTable(std::uint32_t* length) {
    UnmapTable();
    void* area = map_ ? map_(kBiosAreaAddress, kBiosAreaLength) : nullptr;
    const auto* bios = static_cast<const std::uint8_t*>(area);
    std::uint32_t hit = kBiosAreaLength;
    if (bios) {
        for (std::uint32_t offset = 0; offset + 4 <= kBiosAreaLength; offset += 16) {
            if (readLe32(bios + offset) == kSmbiosAnchor) {
                hit = offset;
                break;
            }
        }
    }
    if (hit == kBiosAreaLength) {
        if (area)
            unmap_(area);
        os::showMessage(kDmiCaption, kNoSmbiosHeader);
        return nullptr;
    }
    entryView_ = area;

    // An anchor in the last paragraphs of the area leaves the fields we need beyond
    // the view: read them through a view of the entry point itself.
    std::uint8_t fields[kEntryFieldsEnd];
    if (hit + kEntryFieldsEnd <= kBiosAreaLength) {
        std::memcpy(fields, bios + hit, kEntryFieldsEnd);
    } else {
        void* entry = map_(kBiosAreaAddress + hit, kEntryFieldsEnd);
        if (!entry) {
            os::showMessage(kDmiCaption, kNoSmbiosHeader);
            return nullptr;
        }
        std::memcpy(fields, entry, kEntryFieldsEnd);
        unmap_(entry);
    }
    std::uint32_t tableLength = readLe16(fields + kEntryTableLength);
    std::uint32_t address = readLe32(fields + kEntryTableAddress);

    // A window from the 64 KiB boundary below the table first, then the table alone.
    std::uint32_t low = address & 0xFFFF;
    if (void* window = map_(address - low, tableLength + low)) {
        tableView_ = window;
        tableStart_ = static_cast<const std::uint8_t*>(window) + low;
    } else if (void* direct = map_(address, tableLength)) {
        tableView_ = direct;
        tableStart_ = static_cast<const std::uint8_t*>(direct);
    } else {
        os::showMessage(kDmiCaption, kCannotMapDmi);
        return nullptr;
    }
    tableLength_ = tableLength;
    *length = tableLength_;
    return tableStart_;
}

void DmiHelpByScanMem::UnmapTable() {
    if (tableView_)
        unmap_(tableView_);
    if (entryView_)
        unmap_(entryView_);
    tableView_ = entryView_ = nullptr;
    tableStart_ = nullptr;
    tableLength_ = 0;
}

DmiWalker::DmiWalker(PhysicalMap map, PhysicalUnmap unmap)
    : DmiWalker(os::firmwareTableService() ? Source::FirmwareTableService : Source::MemoryScan,
                std::move(map), std::move(unmap)) {}

DmiWalker::DmiWalker(Source source, PhysicalMap map, PhysicalUnmap unmap) : source_(source) {
    // A view that cannot be made counts as a failed mapping, also with no library.
    if (!map)
        map = [](std::uint32_t, std::uint32_t) -> void* {
            return nullptr;
        };
    if (!unmap)
        unmap = [](void*) {
        };
    if (source == Source::FirmwareTableService)
        help_ = std::make_unique<DmiHelpByAPI>(std::move(map), std::move(unmap));
    else
        help_ = std::make_unique<DmiHelpByScanMem>(std::move(map), std::move(unmap));
}

DmiWalker::DmiWalker(const HwIOLibrary& library)
    : DmiWalker([&library](std::uint32_t address,
                           std::uint32_t length) { return library.mapMemory(address, length); },
                [&library](void* view) { library.unmapMemory(view); }) {}

DmiWalker::~DmiWalker() {
    if (start_)
        help_->UnmapTable();
}

bool DmiWalker::Open() {
    if (start_)
        help_->UnmapTable();
    length_ = 0;
    start_ = help_->MapTable(&length_);
    if (!start_) {
        help_->UnmapTable();
        length_ = 0;
        current_ = nullptr;
        return false;
    }
    current_ = start_;
    return true;
}

bool DmiWalker::currentIsWhole() const {
    if (!start_ || current_ >= end() || end() - current_ < 2)
        return false;
    return current_[1] <= end() - current_;
}

bool DmiWalker::AtEnd() const {
    return !currentIsWhole() || current_[0] == kSmbiosEndOfTable;
}

std::uint8_t DmiWalker::CurrentType() const {
    return currentIsWhole() ? current_[0] : kSmbiosEndOfTable;
}

std::uint8_t DmiWalker::CurrentLength() const {
    return currentIsWhole() ? current_[1] : 0;
}

const char* DmiWalker::GetString(int k) const {
    if (k <= 0 || !currentIsWhole())
        return "";
    const std::uint8_t* p = current_ + current_[1];
    const std::uint8_t* stop = end();
    for (int number = 1;; ++number) {
        // A NUL where a string should start ends the set.
        if (p >= stop || *p == 0)
            return "";
        const std::uint8_t* nul = std::find(p, stop, std::uint8_t(0));
        if (nul == stop)
            return "";
        if (number == k)
            return reinterpret_cast<const char*>(p);
        p = nul + 1;
    }
}

void DmiWalker::Next() {
    if (!currentIsWhole()) {
        current_ = start_ ? end() : nullptr;
        return;
    }
    const std::uint8_t* stop = end();
    const std::uint8_t* p = current_ + current_[1];
    // The set ends at the first NUL that follows a NUL; the first string may be
    // empty, which makes the set just the two NULs.
    p = std::find(p, stop, std::uint8_t(0));
    while (stop - p > 1 && p[1] != 0)
        p = std::find(p + 1, stop, std::uint8_t(0));
    current_ = stop - p > 1 ? p + 2 : stop;
}

BoardIdentity readBoardIdentity(DmiWalker& walker) {
    BoardIdentity identity;
    identity.source = walker.source();
    if (!walker.Open())
        return identity;
    identity.tableFound = true;
    for (; !walker.AtEnd(); walker.Next()) {
        if (walker.CurrentType() != kSmbiosBaseboard)
            continue;
        identity.baseboardFound = true;
        // The product's string number lies inside the formatted area or not at all.
        int number =
            walker.CurrentLength() > kBaseboardProduct ? walker.Current()[kBaseboardProduct] : 0;
        identity.productName = walker.GetString(number);
        break;
    }
    return identity;
}

BoardIdentity readBoardIdentity(HwIOLibrary& library) {
    library.load();
    DmiWalker walker(library);
    return readBoardIdentity(walker);
}

BoardIdentity readBoardIdentity() {
    return readBoardIdentity(hwIOLibrary());
}

std::string ReadBoardProductName() {
    return readBoardIdentity().productName;
}

bool isSupportedBoard(const std::string& productName) {
    return productName == kSupportedBoard;
}

} // namespace board
