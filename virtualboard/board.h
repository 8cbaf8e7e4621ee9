#pragma once

// The virtual board: one image file (see image_layout.h) that every process using the
// board maps. This is the library behind the HwIO stand-in and the `vboard` tool, and
// the one tests link to build a board of their own:
//
//     testing_support::TemporaryDirectory dir;
//     virtualboard::BoardOptions options;            // defaults: an "XR40-SUMMIT" board
//     auto board = virtualboard::Board::create(dir.path() / "board.img", options,
//                                              dir.path() / "firmware");
//     // set VBOARD_IMAGE and LUMIVANE_FIRMWARE_DIR, run the code under test, then:
//     EXPECT_EQ(board->ledColour().red, 0x12);
//
// All operations are safe to call from several threads and processes at once.
// Errors in create/open throw BoardError; the inspection calls do not fail.

#include "virtualboard/board_options.h"
#include "virtualboard/image_layout.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace virtualboard {

class MappedFile;

using layout::Counters;
using layout::TraceKind;

struct LedColour {
    std::uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const LedColour&) const = default;
};

struct TraceEntry {
    std::uint64_t sequence = 0;
    std::uint64_t timeNs = 0;
    TraceKind kind = TraceKind::PortWrite;
    std::uint16_t port = 0;
    std::uint8_t value = 0;
    std::uint8_t bank = 0;
    std::uint8_t reg = 0;
    std::uint8_t oldValue = 0;
};

struct Pm1Registers {
    std::uint16_t status = 0, enable = 0, control = 0;
    std::uint8_t chipset = 0;
};

struct EcSnapshot {
    layout::EcPhase phase = layout::EcPhase::Idle;
    std::uint8_t bank = 0;
    BusyMode busyMode = BusyMode::Never;
    std::uint32_t busyReadsLeft = 0;
};

// The facts of one created board, as tools and tests need them.
struct BoardFacts {
    std::string productName, secondProductName, missingExport;
    std::filesystem::path firmwareDirectory; // empty: none written
    int baseboards = 0;
    std::uint32_t baseboardLength = 0;
    std::uint32_t smbiosTableAddress = 0, smbiosTableLength = 0, smbiosEntryPoint = 0;
    std::uint32_t rsdpAddress = 0, rsdtAddress = 0, fadtAddress = 0, facsAddress = 0;
    std::uint16_t pm1aEventPort = 0, pm1aControlPort = 0;
    bool tableService = false;
};

using layout::BridgeFaults;
using layout::CallRecord;
using layout::MalformedKind;

// One firmware item as the board holds it.
struct FirmwareItem {
    std::uint32_t id = 0, value = 0, lastControl = 0, writes = 0;
    std::uint64_t writtenAtMs = 0;
    std::uint32_t methodCode = 0;
    std::vector<std::uint8_t> descriptor;
};

enum class ItemWrite { Done, NoSuchItem, ReadOnly };

// What the LEDs show and why.
struct LedView {
    enum class Source { Dark, Firmware, Software };
    Source source = Source::Software;
    LedColour colour;
    std::uint32_t effectWord = 0;
};

struct PhysicalRegion {
    std::string name;
    std::uint64_t address = 0, size = 0;
};

class Board {
public:
    // VBOARD_IMAGE, else "lumivane-vboard.img" in the user's runtime directory.
    static std::filesystem::path defaultImagePath();
    // Beside the image: "<image>.firmware" and "<image>.hwio".
    static std::filesystem::path defaultFirmwareDirectory(const std::filesystem::path& image);
    static std::filesystem::path defaultLibraryDirectory(const std::filesystem::path& image);

    // Writes a new image (replacing any old one atomically, so processes that still
    // map the old file are not disturbed) and, when firmwareDirectory is not empty,
    // the sysfs-like table directory (empty when the board has no table service).
    static std::unique_ptr<Board> create(const std::filesystem::path& image,
                                         const BoardOptions& options,
                                         const std::filesystem::path& firmwareDirectory = {});
    static std::unique_ptr<Board> open(const std::filesystem::path& image);

    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    const std::filesystem::path& path() const { return path_; }
    BoardFacts facts() const;
    // True once `create` has put a new image at this board's path.
    bool superseded() const;

    // --- the hardware, as HwIO reaches it ---
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

    // --- inspection ---
    std::uint8_t ecRegister(std::uint8_t bank, std::uint8_t reg) const;
    EcSnapshot ec() const;
    // The colour the LEDs show now: dark while the lighting is off (item 0x13060040
    // = 0), the firmware's effect while it drives them (0x13060041 = 0), else the EC
    // colour registers.
    LedColour ledColour() const;
    LedView ledView() const;
    LedView ledViewAt(std::uint64_t wallClockMs) const;
    // The EC colour registers 0x53, 0x5D, 0x5B of bank 0.
    LedColour ecColour() const;
    Counters counters() const;
    // The records still in the ring, oldest first.
    std::vector<TraceEntry> trace() const;
    std::uint32_t globalLockWord() const;
    Pm1Registers pm1() const;
    std::uint32_t windowRegister(std::uint32_t offset) const; // 32-bit, window-relative
    layout::FirmwareLockState firmwareLock() const;

    // --- knobs ---
    void setBusyMode(BusyMode mode, std::uint32_t reads = 0);
    void setOpenFails(bool fails);
    void setGlobalLockWord(std::uint32_t value);
    void setEcRegister(std::uint8_t bank, std::uint8_t reg, std::uint8_t value);
    void resetCounters();
    void clearTrace();

    // --- the firmware items (the ACPI bridge stand-in works through these) ---
    std::vector<FirmwareItem> firmwareItems() const;
    // By group and index; the kind and attribute nibbles of `id` do not matter.
    std::optional<FirmwareItem> firmwareItem(std::uint32_t id) const;
    std::optional<FirmwareItem> itemByMethodCode(std::uint32_t code) const;
    // The value a program reads: the host's CPU temperature for 0x06030012 when so set.
    std::optional<std::uint32_t> readItem(std::uint32_t id) const;
    // A program's write: refused for unknown and read-only items; the control word is
    // kept with the value.
    ItemWrite writeItem(std::uint32_t id, std::uint32_t value, std::uint32_t control);
    // A test's or a user's change, read-only items included; false for unknown items.
    bool setItemValue(std::uint32_t id, std::uint32_t value);
    // Pins item 0x06030012 to `tenths`, or (none) lets it follow the host's sensor.
    void setTemperature(std::optional<std::uint32_t> tenths);
    bool hostTemperature() const;

    BridgeFaults bridgeFaults() const;
    void setBridgeFaults(const BridgeFaults& faults);
    void logCall(CallRecord record); // sequence and time are filled in
    // The records still in the log, oldest first.
    std::vector<CallRecord> calls() const;
    void clearCalls();

    // --- the firmware's side of the global lock ---
    // The firmware takes the lock now (waiting while the system owns it) and wants to
    // hold it for holdMs; serviceFirmware() lets it go once that time has passed.
    void firmwareTakeGlobalLock(std::uint32_t holdMs);
    // Releases the firmware's lock when its time is up: clears owned and pending and,
    // when pending was set, signals the waiter through GBL_STS in PM1 status. Returns
    // true when it released. Cheap when there is nothing to do.
    bool serviceFirmware();
    // True while the firmware owns (or still wants to take) the lock.
    bool firmwareLockActive() const;
    // Runs the firmware's part in a background thread of this process until the lock
    // is released, unless another process already does (a process-wide helper of the
    // HwIO stand-in). Returns at once.
    void startFirmwareAgent();

private:
    Board(std::filesystem::path path, std::unique_ptr<MappedFile> file);
    class Guard;
    layout::State& state() const;
    std::uint32_t* lockWordPointer() const;
    void record(TraceKind kind, std::uint16_t port, std::uint8_t value, std::uint8_t bank = 0,
                std::uint8_t reg = 0, std::uint8_t oldValue = 0);
    std::uint8_t ecStatus();
    void ecCommand(std::uint8_t value);
    void ecData(std::uint8_t value);
    std::uint8_t ecReadData();
    void writeRegister(std::uint8_t reg, std::uint8_t value);
    bool pm1Port(std::uint16_t port) const;
    std::uint8_t pm1In(std::uint16_t port);
    void pm1Out(std::uint16_t port, std::uint8_t value);
    bool releaseFirmwareLockLocked();
    layout::ItemSlot* slotLocked(std::uint32_t id) const;

    std::filesystem::path path_;
    std::unique_ptr<MappedFile> file_;
    layout::Header* header_ = nullptr;
    layout::Config* config_ = nullptr;
    layout::State* state_ = nullptr;
    layout::TraceRecord* trace_ = nullptr;
    layout::FirmwareState* firmware_ = nullptr;
};

} // namespace virtualboard
