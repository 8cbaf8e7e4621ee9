#pragma once

// The SMBIOS structure table and the board identification built on it. The table
// comes from the system's firmware-table service when there is one, otherwise from
// a scan of the legacy BIOS area through the I/O library's physical-memory views.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace board {

class HwIOLibrary;

inline constexpr std::uint32_t kSmbiosAnchor = 0x5F4D535F; // "_SM_"
inline constexpr std::uint32_t kBiosAreaAddress = 0xF0000;
inline constexpr std::uint32_t kBiosAreaLength = 0xFFFE;
inline constexpr std::uint8_t kSmbiosBaseboard = 2;
inline constexpr std::uint8_t kSmbiosEndOfTable = 127;
inline constexpr const char* kDmiCaption = "DmiHelp";
inline constexpr const char* kNoSmbiosHeader = "Can not find SMBIOS Header";
inline constexpr const char* kCannotMapDmi = "Can not map DMI header";

// How the table is reached in physical memory: a view of (address, length), or
// none, and its release.
using PhysicalMap = std::function<void*(std::uint32_t address, std::uint32_t length)>;
using PhysicalUnmap = std::function<void(void* view)>;

// A source of the structure table.
class DmiHelp {
public:
    DmiHelp(PhysicalMap map, PhysicalUnmap unmap)
        : map_(std::move(map)), unmap_(std::move(unmap)) {}
    virtual ~DmiHelp() = default;
    DmiHelp(const DmiHelp&) = delete;
    DmiHelp& operator=(const DmiHelp&) = delete;

    // The table's first byte and its length, or none.
    virtual const std::uint8_t* MapTable(std::uint32_t* length) = 0;
    virtual void UnmapTable() = 0;

protected:
    PhysicalMap map_;
    PhysicalUnmap unmap_;
    const std::uint8_t* tableStart_ = nullptr;
    std::uint32_t tableLength_ = 0;
};

// The table as the firmware-table service hands it out ('RSMB', id 0).
class DmiHelpByAPI : public DmiHelp {
public:
    using DmiHelp::DmiHelp;
    const std::uint8_t* MapTable(std::uint32_t* length) override;
    void UnmapTable() override;

private:
    std::vector<std::uint8_t> buffer_;
};

// The table found through the entry point in the BIOS area of physical memory.
class DmiHelpByScanMem : public DmiHelp {
public:
    using DmiHelp::DmiHelp;
    ~DmiHelpByScanMem() override { UnmapTable(); }
    const std::uint8_t* MapTable(std::uint32_t* length) override;
    void UnmapTable() override;

private:
    void* entryView_ = nullptr;
    void* tableView_ = nullptr;
};

// Walks the structures of one table. Every read stays inside the table: a
// structure or string set that runs past its end ends the walk.
class DmiWalker {
public:
    enum class Source { FirmwareTableService, MemoryScan };

    // The source follows the system: the firmware-table service when it has one.
    DmiWalker(PhysicalMap map, PhysicalUnmap unmap);
    DmiWalker(Source source, PhysicalMap map, PhysicalUnmap unmap);
    // Views through the library's HWIO_MapMem / HWIO_UnmapMem.
    explicit DmiWalker(const HwIOLibrary& library);
    ~DmiWalker();
    DmiWalker(const DmiWalker&) = delete;
    DmiWalker& operator=(const DmiWalker&) = delete;

    bool Open();
    bool AtEnd() const;
    std::uint8_t CurrentType() const;
    const std::uint8_t* Current() const { return current_; }
    // The structure's string number k as NUL-terminated text; "" for 0, for a
    // number beyond the strings present, and for a string the table cuts off.
    const char* GetString(int k) const;
    void Next();

    Source source() const { return source_; }
    // Length of the current structure's formatted area (0 when it cannot be read).
    std::uint8_t CurrentLength() const;
    std::uint32_t tableLength() const { return length_; }

private:
    const std::uint8_t* end() const { return start_ + length_; }
    bool currentIsWhole() const;

    Source source_;
    std::unique_ptr<DmiHelp> help_;
    const std::uint8_t* start_ = nullptr;
    const std::uint8_t* current_ = nullptr;
    std::uint32_t length_ = 0;
};

struct BoardIdentity {
    DmiWalker::Source source = DmiWalker::Source::FirmwareTableService;
    bool tableFound = false; // the structure table could be read
    bool baseboardFound = false;
    std::string productName; // byte for byte as the firmware stores it
};

// The Product string of the first baseboard structure of the walker's table.
BoardIdentity readBoardIdentity(DmiWalker& walker);
// The same over a full I/O binding (loaded first), by default the process-wide one.
BoardIdentity readBoardIdentity(HwIOLibrary& library);
BoardIdentity readBoardIdentity();
// The product name, or "" when there is no table or no baseboard structure.
std::string ReadBoardProductName();

inline constexpr const char* kSupportedBoard = "XR40-SUMMIT";
// The one supported model: compared whole, byte for byte, case-sensitively.
bool isSupportedBoard(const std::string& productName);

} // namespace board
