#include "virtualboard/tables.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>

namespace virtualboard {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = std::uint8_t(value);
    bytes[at + 1] = std::uint8_t(value >> 8);
}

void put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + std::size_t(i)] = std::uint8_t(value >> (8 * i));
}

void putText(Bytes& bytes, std::size_t at, const char* text) {
    std::memcpy(bytes.data() + at, text, std::strlen(text));
}

// Makes the bytes [from, to) sum to zero modulo 256 by setting the byte at `at`.
void fixChecksum(Bytes& bytes, std::size_t at, std::size_t from, std::size_t to) {
    bytes[at] = 0;
    std::uint8_t sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum = std::uint8_t(sum + bytes[i]);
    bytes[at] = std::uint8_t(-sum);
}

// One SMBIOS structure: formatted area (type, length, handle, fields) then strings.
class Structure {
public:
    Structure(std::uint8_t type, std::uint8_t length, std::uint16_t handle)
        : formatted_(length, 0) {
        formatted_[0] = type;
        formatted_[1] = length;
        put16(formatted_, 2, handle);
    }
    // Sets a string field (when the formatted area reaches it) and returns its number.
    void string(std::size_t field, const std::string& text) {
        if (field >= formatted_.size())
            return;
        if (text.empty()) {
            formatted_[field] = 0; // "no string"
            return;
        }
        strings_.push_back(text);
        formatted_[field] = std::uint8_t(strings_.size());
    }
    void byte(std::size_t field, std::uint8_t value) {
        if (field < formatted_.size())
            formatted_[field] = value;
    }
    void word(std::size_t field, std::uint16_t value) {
        if (field + 1 < formatted_.size())
            put16(formatted_, field, value);
    }
    void appendTo(Bytes& table) const {
        table.insert(table.end(), formatted_.begin(), formatted_.end());
        for (const std::string& text : strings_) {
            table.insert(table.end(), text.begin(), text.end());
            table.push_back(0);
        }
        if (strings_.empty())
            table.push_back(0);
        table.push_back(0);
    }

private:
    Bytes formatted_;
    std::vector<std::string> strings_;
};

Structure baseboard(std::uint16_t handle, std::uint8_t length, const std::string& product) {
    Structure board(2, length, handle);
    board.string(4, "Vantor");
    board.string(5, product);
    board.string(6, "1.0");
    board.string(7, "VB" + std::to_string(handle) + "000001");
    board.string(8, "Default string");
    board.byte(9, 0x09); // hosting board, replaceable
    board.string(10, "Default string");
    board.word(11, 0x0001); // chassis handle
    board.byte(13, 0x0A);   // motherboard
    return board;
}

Bytes acpiHeader(const char* signature, std::uint32_t length, std::uint8_t revision) {
    Bytes table(length, 0);
    putText(table, 0, signature);
    put32(table, 4, length);
    table[8] = revision;
    putText(table, 10, "LUMIVN");
    putText(table, 16, "VBOARD  ");
    put32(table, 24, 1);
    putText(table, 28, "LVB ");
    put32(table, 32, 1);
    return table;
}

void place(RegionImage& region, std::uint32_t address, const Bytes& bytes) {
    std::size_t at = address - region.address;
    std::copy(bytes.begin(), bytes.end(), region.bytes.begin() + std::ptrdiff_t(at));
}

bool overlaps(std::uint64_t a, std::uint64_t aSize, std::uint64_t b, std::uint64_t bSize) {
    return a < b + bSize && b < a + aSize;
}

constexpr std::uint32_t kBiosAreaEnd = 0x100000;
constexpr std::uint32_t kEntryPointLength = 0x1F;
constexpr std::uint32_t kRsdpLength = 20;

std::uint64_t smbiosRegionBase(const BoardOptions& options) {
    return options.smbiosTableAddress & ~std::uint64_t(0xFFFF);
}

bool tableInsideBiosArea(const BoardOptions& options, std::uint64_t length) {
    return options.smbiosTableAddress >= kBiosAreaAddress &&
           std::uint64_t(options.smbiosTableAddress) + length <= kBiosAreaEnd;
}

const std::array<const char*, 11> kExportNames = {
    "HWIO_Open",     "HWIO_InPortB", "HWIO_OutPortB",      "HWIO_InPortD",
    "HWIO_OutPortD", "HWIO_ReadMSR", "HWIO_WriteMSR",      "HWIO_MapMem",
    "HWIO_UnmapMem", "MapPhysToLin", "UnmapPhysicalMemory"};

} // namespace

void validate(const BoardOptions& options) {
    if (options.baseboards < 0 || options.baseboards > 2)
        throw BoardError("a board has zero, one or two baseboard structures");
    if (options.baseboardLength < 6)
        throw BoardError("a baseboard structure's formatted area holds at least 6 bytes");
    for (const std::string* name : {&options.productName, &options.secondProductName})
        if (name->size() > 63 || name->find('\0') != std::string::npos)
            throw BoardError("a product name is at most 63 characters, without NUL");
    if (!options.missingExport.empty() &&
        std::find_if(kExportNames.begin(), kExportNames.end(), [&](const char* name) {
            return options.missingExport == name;
        }) == kExportNames.end())
        throw BoardError("'" + options.missingExport + "' is not an export of HwIO");
    if (options.busyMode != BusyMode::Never && options.busyMode != BusyMode::ForReads &&
        options.busyMode != BusyMode::Always)
        throw BoardError("unknown busy mode");

    std::uint32_t entryPoint = 0xF0000 + options.entryPointOffset;
    if (options.entryPointOffset > 0xFFFF)
        throw BoardError("the entry point lies in 0xF0000-0xFFFFF (offset 0 to 0xFFFF)");
    if (options.rsdp && overlaps(entryPoint, kEntryPointLength, kRsdpAddress, kRsdpLength))
        throw BoardError("the entry point would overlap the RSDP at 0xFE020");

    std::uint64_t length = buildSmbiosTable(options).size();
    std::uint64_t address = options.smbiosTableAddress;
    if (address + length > 0x100000000ull)
        throw BoardError("the SMBIOS table must lie below 4 GiB");
    if (tableInsideBiosArea(options, length)) {
        if (overlaps(address, length, entryPoint, kEntryPointLength) ||
            (options.rsdp && overlaps(address, length, kRsdpAddress, kRsdpLength)))
            throw BoardError("the SMBIOS table would overlap the entry point or the RSDP");
        return;
    }
    std::uint64_t base = smbiosRegionBase(options);
    std::uint64_t size = address - base + length;
    if (overlaps(base, size, kBiosAreaAddress, kBiosRegionSize) ||
        overlaps(base, size, kAcpiRegionAddress, kAcpiRegionSize) ||
        overlaps(base, size, kRegisterWindowAddress, kRegisterWindowSize) || address == 0)
        throw BoardError("the SMBIOS table at that address would overlap another region");
}

std::vector<std::uint8_t> buildSmbiosTable(const BoardOptions& options) {
    Bytes table;

    Structure bios(0, 0x18, 0x0000);
    bios.string(4, "Lumivane Virtual Firmware");
    bios.string(5, "1.00");
    bios.word(6, 0xE000);
    bios.string(8, "12/01/2026");
    bios.byte(9, 0x0F);
    bios.appendTo(table);

    Structure system(1, 0x1B, 0x0001);
    system.string(4, "Vantor");
    system.string(5, options.productName.empty() ? "Virtual Desktop" : options.productName);
    system.string(6, "1.0");
    system.string(7, "Default string");
    system.byte(0x18, 0x06); // woken by power switch
    system.appendTo(table);

    if (options.baseboards >= 1)
        baseboard(0x0002, options.baseboardLength, options.productName).appendTo(table);
    if (options.baseboards >= 2)
        baseboard(0x0003, options.baseboardLength, options.secondProductName).appendTo(table);

    Structure end(127, 4, 0xFEFF);
    end.appendTo(table);
    return table;
}

BuiltTables buildTables(const BoardOptions& options) {
    validate(options);
    BuiltTables built;
    built.smbiosTable = buildSmbiosTable(options);
    const auto& smbios = built.smbiosTable;

    // SMBIOS 2.8 entry point, 32-bit form.
    Bytes entry(kEntryPointLength, 0);
    putText(entry, 0, "_SM_");
    entry[5] = kEntryPointLength;
    entry[6] = 2;
    entry[7] = 8;
    put16(entry, 8, 0x0100);
    putText(entry, 0x10, "_DMI_");
    put16(entry, 0x16, std::uint16_t(smbios.size()));
    put32(entry, 0x18, options.smbiosTableAddress);
    put16(entry, 0x1C, std::uint16_t(2 + options.baseboards + 1));
    entry[0x1E] = 0x28;
    fixChecksum(entry, 0x15, 0x10, kEntryPointLength);
    fixChecksum(entry, 4, 0, kEntryPointLength);
    built.smbiosEntryPoint = entry;
    built.entryPointAddress = 0xF0000 + options.entryPointOffset;

    // ACPI: RSDT -> {APIC, FACP}; FACP -> FACS, DSDT.
    const std::uint32_t acpi = kAcpiRegionAddress;
    built.rsdtAddress = acpi + kRsdtOffset;
    built.fadtAddress = acpi + kFadtOffset;
    built.facsAddress = acpi + kFacsOffset;

    Bytes rsdt = acpiHeader("RSDT", 36 + 2 * 4, 1);
    put32(rsdt, 36, acpi + kApicOffset);
    put32(rsdt, 40, built.fadtAddress);
    fixChecksum(rsdt, 9, 0, rsdt.size());

    Bytes fadt = acpiHeader("FACP", 116, 1);
    put32(fadt, 36, built.facsAddress);
    put32(fadt, 40, acpi + kDsdtOffset);
    put16(fadt, 46, 9);    // SCI interrupt
    put32(fadt, 48, 0xB2); // SMI command port
    fadt[52] = 0xA0;       // ACPI_ENABLE
    fadt[53] = 0xA1;       // ACPI_DISABLE
    put32(fadt, 56, kPm1aEventPort);
    put32(fadt, 64, kPm1aControlPort);
    put32(fadt, 76, kPm1aEventPort + 8); // PM timer
    fadt[88] = 4;                        // PM1_EVT_LEN
    fadt[89] = 2;                        // PM1_CNT_LEN
    fadt[91] = 4;                        // PM_TMR_LEN
    put32(fadt, 112, 0x000004A5);        // WBINVD, PROC_C1, SLP_BUTTON, RTC_S4, TMR_VAL_EXT
    fixChecksum(fadt, 9, 0, fadt.size());

    Bytes apic = acpiHeader("APIC", 44 + 8, 1);
    put32(apic, 36, 0xFEE00000);
    put32(apic, 40, 1); // PC-AT compatible
    apic[44] = 0;       // processor local APIC
    apic[45] = 8;
    apic[48] = 1; // enabled
    fixChecksum(apic, 9, 0, apic.size());

    Bytes dsdt = acpiHeader("DSDT", 36, 1);
    fixChecksum(dsdt, 9, 0, dsdt.size());

    Bytes facs(64, 0);
    putText(facs, 0, "FACS");
    put32(facs, 4, 64);
    put32(facs, 8, 0x1234ABCD); // hardware signature

    Bytes rsdp(kRsdpLength, 0);
    putText(rsdp, 0, "RSD PTR ");
    putText(rsdp, 9, "LUMIVN");
    put32(rsdp, 16, built.rsdtAddress);
    fixChecksum(rsdp, 8, 0, rsdp.size());

    built.acpiTables = {{"FACP", fadt}, {"FACS", facs}, {"APIC", apic}, {"DSDT", dsdt}};

    RegionImage bios{"bios", kBiosAreaAddress, Bytes(kBiosRegionSize, 0)};
    place(bios, built.entryPointAddress, entry);
    if (options.rsdp) {
        place(bios, kRsdpAddress, rsdp);
        built.rsdpAddress = kRsdpAddress;
    }
    if (tableInsideBiosArea(options, smbios.size())) {
        place(bios, options.smbiosTableAddress, smbios);
    } else {
        std::uint32_t base = std::uint32_t(smbiosRegionBase(options));
        std::size_t size = options.smbiosTableAddress - base + smbios.size();
        size = (size + 0xFFF) & ~std::size_t(0xFFF);
        RegionImage region{"smbios", base, Bytes(size, 0)};
        place(region, options.smbiosTableAddress, smbios);
        built.regions.push_back(std::move(region));
    }
    built.regions.insert(built.regions.begin(), std::move(bios));

    RegionImage tables{"acpi", acpi, Bytes(kAcpiRegionSize, 0)};
    place(tables, built.rsdtAddress, rsdt);
    place(tables, built.fadtAddress, fadt);
    place(tables, acpi + kApicOffset, apic);
    place(tables, acpi + kDsdtOffset, dsdt);
    place(tables, built.facsAddress, facs);
    built.regions.push_back(std::move(tables));

    RegionImage window{"window", kRegisterWindowAddress, Bytes(kRegisterWindowSize, 0)};
    for (std::uint32_t offset : kWindowEnableOffsets)
        put32(window.bytes, offset, kWindowInitialValue);
    built.regions.push_back(std::move(window));
    return built;
}

namespace {

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw BoardError("cannot write " + path.string());
}

} // namespace

void writeFirmwareDirectory(const std::filesystem::path& directory, const BuiltTables& tables,
                            bool tableService) {
    std::error_code ec;
    // Only the two trees this directory stands for: never anything else in it.
    std::filesystem::remove_all(directory / "dmi", ec);
    std::filesystem::remove_all(directory / "acpi", ec);
    std::filesystem::create_directories(directory, ec);
    if (ec)
        throw BoardError("cannot create " + directory.string() + ": " + ec.message());
    if (!tableService)
        return;
    std::filesystem::create_directories(directory / "dmi" / "tables");
    std::filesystem::create_directories(directory / "acpi" / "tables");
    writeFile(directory / "dmi" / "tables" / "DMI", tables.smbiosTable);
    writeFile(directory / "dmi" / "tables" / "smbios_entry_point", tables.smbiosEntryPoint);
    for (const auto& [signature, bytes] : tables.acpiTables)
        writeFile(directory / "acpi" / "tables" / signature, bytes);
}

} // namespace virtualboard
