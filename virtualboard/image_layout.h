#pragma once

// The byte layout of a board image file. Every process that uses the board maps the
// same file: 64-bit Linux programs, 64-bit Windows programs under Wine and, in
// principle, 32-bit ones. So every structure here has fixed-width fields, explicit
// padding and a size checked at compile time; nothing holds a pointer.
//
// The file is a header with a section table followed by the sections. Readers find
// a section by its id, so later versions can add sections (the firmware items, for
// example) without moving the ones that exist; readers skip ids they do not know.

#include <cstddef>
#include <cstdint>

namespace virtualboard::layout {

inline constexpr char kMagic[8] = {'L', 'V', 'B', 'O', 'A', 'R', 'D', '1'};
// 2: the firmware items (kSectionFirmware). Images of version 1 lack them and are
// refused with the version in the message; `vboard create` makes a new one.
inline constexpr std::uint32_t kVersion = 2;
inline constexpr std::uint32_t kMaxSections = 32;
inline constexpr std::uint64_t kSectionAlignment = 4096;

enum SectionId : std::uint32_t {
    kSectionConfig = 1,    // how the board was created (Config)
    kSectionState = 2,     // devices, counters and knobs (State)
    kSectionTrace = 3,     // ring of TraceRecord
    kSectionPhysical = 4,  // one per emulated physical-memory region
    kSectionFirmware = 16, // items, bridge knobs and the bridge's call log (FirmwareState)
};

struct Section {
    std::uint32_t id;
    std::uint32_t reserved0;
    std::uint64_t offset; // from the start of the file, kSectionAlignment-aligned
    std::uint64_t size;
    std::uint64_t physicalBase; // kSectionPhysical only
    char name[16];              // for humans ("bios", "acpi", ...)
};
static_assert(sizeof(Section) == 48);

struct Header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t headerSize;
    std::uint64_t fileSize;
    std::uint32_t sectionCount;
    // Set (atomically) when a new image replaced this one at its path: processes that
    // still map it open the path again.
    std::uint32_t superseded;
    Section sections[kMaxSections];
};
static_assert(sizeof(Header) == 32 + 48 * kMaxSections);

enum class BusyMode : std::uint8_t {
    Never = 0,    // status reads 0x00
    ForReads = 1, // input buffer full for the next N status reads, then 0x00
    Always = 2,   // status reads 0x02 for ever
};

// Written once by create; tools show it.
struct Config {
    char productName[64];
    char secondProductName[64];
    char firmwareDirectory[512]; // empty when none was written
    char missingExport[32];      // the HwIO export the libraries made for this board lack
    std::uint32_t baseboards;
    std::uint32_t baseboardLength;
    std::uint32_t smbiosTableAddress;
    std::uint32_t smbiosTableLength;
    std::uint32_t smbiosEntryPoint; // physical address of "_SM_"
    std::uint32_t rsdpAddress;      // 0 when the board has none
    std::uint32_t rsdtAddress;
    std::uint32_t fadtAddress;
    std::uint32_t facsAddress;
    std::uint32_t registerWindowAddress;
    std::uint16_t pm1aEventPort;
    std::uint16_t pm1aControlPort;
    std::uint8_t tableService;
    std::uint8_t reserved0[3];
    std::uint8_t reserved[256];
};
static_assert(sizeof(Config) == 64 + 64 + 512 + 32 + 40 + 4 + 4 + 256);

enum class TraceKind : std::uint8_t {
    PortWrite = 1,     // port, value
    RegisterWrite = 2, // bank, reg, old value, value
    ProtocolError = 3, // port, value: the byte the controller did not expect
    FirmwareLock = 4,  // value: 1 firmware took the global lock, 0 released, 2 signalled
};

struct TraceRecord {
    std::uint64_t sequence; // 1, 2, 3, ... across all processes
    std::uint64_t timeNs;   // monotonic clock of the writing process
    std::uint16_t port;
    std::uint8_t kind; // TraceKind
    std::uint8_t value;
    std::uint8_t bank;
    std::uint8_t reg;
    std::uint8_t oldValue;
    std::uint8_t reserved[9];
};
static_assert(sizeof(TraceRecord) == 32);

inline constexpr std::uint32_t kTraceCapacity = 8192;

// Counters only grow; `vboard set reset-counters` zeroes them.
struct Counters {
    std::uint64_t ecTransactions;     // completed write transactions (command, address, value)
    std::uint64_t ecReadTransactions; // completed read transactions
    std::uint64_t ecProtocolErrors;
    std::uint64_t ecStatusReads;
    std::uint64_t ecBusyStatusReads; // status reads that reported the input buffer full
    std::uint64_t ecWritesWhileBusy; // bytes written while the status said busy
    std::uint64_t portWrites;
    std::uint64_t portReads;
    std::uint64_t unclaimedPortWrites; // to ports no device answers
    std::uint64_t opens;               // HWIO_Open calls
    std::uint64_t maps;
    std::uint64_t failedMaps;
    std::uint64_t unmaps;
    std::uint64_t firmwareLockTakes;
    std::uint64_t firmwareLockReleases;
    std::uint64_t firmwareLockSignals; // releases that found the pending bit and signalled
    std::uint64_t reserved[16];
};
static_assert(sizeof(Counters) == 32 * 8);

enum class EcPhase : std::uint8_t {
    Idle = 0,
    WriteAddress = 1, // after 0x81
    WriteValue = 2,
    ReadAddress = 3, // after 0x80
};

struct EcState {
    std::uint8_t phase; // EcPhase
    std::uint8_t address;
    std::uint8_t bank;
    std::uint8_t outputFull;
    std::uint8_t output;
    std::uint8_t busyMode; // BusyMode
    std::uint8_t burst;
    std::uint8_t reserved0;
    std::uint32_t busyReadsLeft;
    std::uint32_t reserved1;
    std::uint8_t registers[256][256]; // [bank][register]
};
static_assert(sizeof(EcState) == 16 + 65536);

struct Pm1State {
    std::uint8_t status[2]; // write-one-to-clear
    std::uint8_t enable[2];
    std::uint8_t control[2];
    std::uint8_t chipset; // the byte at event block + 0x30
    std::uint8_t reserved[9];
};
static_assert(sizeof(Pm1State) == 16);

// The firmware side of the global lock: hold it for holdMs, then let it go.
struct FirmwareLockState {
    std::uint32_t holdMs;
    std::uint32_t phase;     // FirmwareLockPhase
    std::uint64_t armedAtMs; // wall clock (shared by every process on the machine)
    std::uint32_t claimedBy; // id of the process running the firmware's part, 0 = none
    std::uint32_t reserved0;
    std::uint64_t heartbeatMs; // wall clock, refreshed by the claiming process
};
static_assert(sizeof(FirmwareLockState) == 32);

struct Msr {
    std::uint32_t index;
    std::uint32_t used;
    std::uint64_t value;
};
inline constexpr std::uint32_t kMsrSlots = 16;

struct State {
    // Guards every field below except where a field says otherwise. A spin lock in
    // the shared file: works across processes and between Linux and Wine programs.
    std::uint32_t lock;        // 0 free, else the holder's ticket
    std::uint32_t lockTickets; // source of tickets, atomic without the lock
    std::uint32_t openFails;   // HWIO_Open returns 0
    std::uint32_t reserved0;
    std::uint64_t traceNext; // records written so far
    Counters counters;
    Pm1State pm1;
    FirmwareLockState firmwareLock;
    Msr msrs[kMsrSlots];
    std::uint8_t reserved[1024];
    EcState ec;
};
static_assert(offsetof(State, counters) == 24);
static_assert(sizeof(State) % 8 == 0);

enum class FirmwareLockPhase : std::uint32_t {
    Idle = 0,    // the firmware has not wanted the lock
    Holding = 2, // it owns the lock until armedAtMs + holdMs; a process that opened the
                 // board through HwIO (or a vboard command) lets it go then
    Done = 3,
};

// --- the firmware items and the ACPI bridge stand-in ---

inline constexpr std::uint32_t kItemSlots = 32;
inline constexpr std::uint32_t kDescriptorCapacity = 512;
inline constexpr std::uint32_t kCallLogCapacity = 1024;

struct ItemSlot {
    std::uint32_t id; // 0 = unused
    std::uint32_t value;
    std::uint32_t lastControl; // control word of the last write
    std::uint32_t writes;
    std::uint64_t writtenAtMs; // wall clock of the last write, 0 = never written
    std::uint32_t methodCode;  // what iAcpiCallMethod turns into the descriptor
    std::uint32_t descriptorLength;
    std::uint8_t descriptor[kDescriptorCapacity]; // an AcpiPackage
};
static_assert(sizeof(ItemSlot) == 32 + kDescriptorCapacity);

// Bridge faults a test can switch on; all off (zero) on a new board.
struct BridgeFaults {
    std::uint32_t offline;       // 1: the bridge gives up its name (not running)
    std::uint32_t delayMs;       // every call answers this much later
    std::uint32_t shortenTo;     // with shorten set: returned lengths at most this
    std::uint32_t shorten;       // 1: shortenTo applies
    std::uint32_t failGroup;     // with failGroupSet: iAcpiGGrp of this group fails
    std::uint32_t failGroupSet;  // 1: failGroup applies
    std::uint32_t malformedItem; // id whose descriptor is spoilt, 0 = none
    std::uint32_t malformedKind; // MalformedKind
    char unknownMethod[32];      // the bridge does not know this method name
    std::uint8_t reserved[32];
};
static_assert(sizeof(BridgeFaults) == 32 + 32 + 32);

enum class MalformedKind : std::uint32_t {
    None = 0,
    ElementCount = 1,  // the element count reaches beyond the buffer
    ElementLength = 2, // the last element's length reaches beyond the buffer
    StringNul = 3,     // the last string element loses its NUL
};

struct CallRecord {
    std::uint64_t sequence; // 1, 2, 3, ...
    std::uint64_t timeMs;   // wall clock
    std::uint8_t method;    // BridgeMethod
    std::uint8_t argumentCount;
    std::uint8_t reserved0[2];
    std::int32_t status;        // 0 success, else the error the caller got (HRESULT terms)
    std::uint32_t arguments[3]; // the scalar arguments, in order
    std::uint32_t lengthIn;     // buffer methods: the length argument as it came
    std::uint32_t lengthOut;    // and as it went back
    std::uint32_t headerIn;     // the first four bytes of the buffer that came
    std::uint32_t result;       // by-reference result of iAcpiGetItem(Ex)
    std::uint32_t reserved1[3];
};
static_assert(sizeof(CallRecord) == 64);

struct FirmwareState {
    std::uint32_t itemCount;
    std::uint32_t hostTemperature;   // 1: item 0x06030012 reads the host's sensor when any
    std::uint32_t storedTemperature; // tenths of a degree, used when no sensor is read
    std::uint32_t reserved0;
    BridgeFaults faults;
    std::uint64_t callNext;    // records written so far
    std::uint64_t poweredOnMs; // wall clock of create: the effects' time origin until written
    std::uint8_t reserved[56];
    ItemSlot items[kItemSlots];
    CallRecord calls[kCallLogCapacity];
};
static_assert(sizeof(FirmwareState) % 8 == 0);

} // namespace virtualboard::layout
