#include "virtualboard/board_image.h"

#include "virtualboard/board_options.h"
#include "virtualboard/firmware.h"
#include "virtualboard/platform.h"

#include <chrono>
#include <thread>

namespace virtualboard {

using namespace layout;

namespace {

// A lock holder that is gone (a process killed inside a few-microsecond critical
// section) must not wedge the board for every later user: a waiter that sees the
// same holder for this long takes the lock over.
constexpr auto kStaleLockAfter = std::chrono::seconds(2);

std::uint64_t monotonicNs() {
    using namespace std::chrono;
    return std::uint64_t(
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

BoardImage::Lock::Lock(const BoardImage& image)
    : word_(image.state().lock),
      ticket_(std::atomic_ref<std::uint32_t>(image.state().lockTickets).fetch_add(1) |
              0x80000000u) {
    std::uint32_t seen = 0;
    auto seenSince = std::chrono::steady_clock::now();
    for (unsigned spins = 0;; ++spins) {
        std::uint32_t expected = 0;
        if (word_.compare_exchange_weak(expected, ticket_, std::memory_order_acquire))
            return;
        if (expected != seen) {
            seen = expected;
            seenSince = std::chrono::steady_clock::now();
        } else if (expected != 0 &&
                   std::chrono::steady_clock::now() - seenSince > kStaleLockAfter) {
            if (word_.compare_exchange_strong(expected, ticket_, std::memory_order_acquire))
                return;
        }
        if (spins > 100)
            std::this_thread::yield();
    }
}

BoardImage::Lock::~Lock() {
    std::uint32_t mine = ticket_;
    word_.compare_exchange_strong(mine, 0, std::memory_order_release);
}

std::unique_ptr<BoardImage> BoardImage::open(const std::filesystem::path& path) {
    std::unique_ptr<MappedFile> file = MappedFile::open(path);
    const std::string name = path.string();
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
    std::unique_ptr<BoardImage> image(new BoardImage(path, std::move(file)));
    auto find = [&](std::uint32_t id, std::uint64_t minimum) -> std::uint8_t* {
        for (std::uint32_t i = 0; i < header->sectionCount; ++i)
            if (header->sections[i].id == id && header->sections[i].size >= minimum)
                return image->file_->data() + header->sections[i].offset;
        throw BoardError(name + " lacks a section it needs (" + std::to_string(id) + ")");
    };
    image->header_ = header;
    image->config_ = reinterpret_cast<Config*>(find(kSectionConfig, sizeof(Config)));
    image->state_ = reinterpret_cast<State*>(find(kSectionState, sizeof(State)));
    image->trace_ =
        reinterpret_cast<TraceRecord*>(find(kSectionTrace, sizeof(TraceRecord) * kTraceCapacity));
    image->firmware_ =
        reinterpret_cast<FirmwareState*>(find(kSectionFirmware, sizeof(FirmwareState)));
    if (image->firmware_->itemCount > kItemSlots)
        throw BoardError(name + " is damaged (firmware items)");
    for (std::uint32_t i = 0; i < image->firmware_->itemCount; ++i)
        if (image->firmware_->items[i].descriptorLength > kDescriptorCapacity)
            throw BoardError(name + " is damaged (firmware items)");
    return image;
}

BoardImage::BoardImage(std::filesystem::path path, std::unique_ptr<MappedFile> file)
    : path_(std::move(path)), file_(std::move(file)) {}

BoardImage::~BoardImage() = default;

std::uint8_t* BoardImage::physical(std::uint64_t address, std::uint64_t length) const {
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

std::uint32_t* BoardImage::globalLockWord() const {
    std::uint8_t* facs = physical(config_->facsAddress, 24);
    return facs ? reinterpret_cast<std::uint32_t*>(facs + 16) : nullptr;
}

void BoardImage::record(TraceKind kind, std::uint16_t port, std::uint8_t value, std::uint8_t bank,
                        std::uint8_t reg, std::uint8_t oldValue) const {
    std::uint64_t sequence = ++state_->traceNext;
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

ItemSlot* BoardImage::slot(std::uint32_t id) const {
    for (std::uint32_t i = 0; i < firmware_->itemCount; ++i)
        if (itemKey(firmware_->items[i].id) == itemKey(id))
            return &firmware_->items[i];
    return nullptr;
}

} // namespace virtualboard
