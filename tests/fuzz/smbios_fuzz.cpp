// The SMBIOS entry-point scan and structure walk over fuzzed physical memory: the
// BIOS area with an entry point at a chosen paragraph, and the table bytes at
// whatever address that entry point names. Each region is an allocation of its own
// exact size, so a read past any view is one the address sanitizer sees. Every
// view is released, the walk always ends, and strings lie inside the table.
//
// With the top bit of the paragraph set, the same bytes come from the firmware-table
// service instead: the entry point and the table as sysfs-style files.
//
// Input: u16 paragraph of the entry point (bit 15: the table service), u8 entry
// length, the entry point bytes, then the table region.

#include "board/smbios.h"
#include "fuzz_input.h"
#include "os/diagnostics.h"
#include "test_environment.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

namespace {

struct Region {
    std::uint32_t base;
    std::unique_ptr<std::uint8_t[]> bytes;
    std::uint32_t size;
};

struct Memory {
    std::vector<Region> regions;
    int liveViews = 0;

    void add(std::uint32_t base, const std::vector<std::uint8_t>& content, std::uint32_t size) {
        Region region{base, std::make_unique<std::uint8_t[]>(size), size};
        std::copy_n(content.begin(), std::min<std::size_t>(size, content.size()),
                    region.bytes.get());
        regions.push_back(std::move(region));
    }
    void* map(std::uint32_t address, std::uint32_t length) {
        for (Region& r : regions)
            if (address >= r.base &&
                std::uint64_t(address) + length <= std::uint64_t(r.base) + r.size) {
                ++liveViews;
                return r.bytes.get() + (address - r.base);
            }
        return nullptr;
    }
};

const std::filesystem::path& firmwareDirectory() {
    static testing_support::TemporaryDirectory* directory = [] {
        auto* d = new testing_support::TemporaryDirectory;
        testing_support::setEnvironment("LUMIVANE_FIRMWARE_DIR", d->path().string());
        return d;
    }();
    return directory->path();
}

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        os::setDiagnosticSink([](const os::Diagnostic&) {});
        return true;
    }();
    (void)quiet;

    fuzzing::FuzzInput input(data, size);
    const std::uint16_t paragraph = input.u16();
    const bool service = (paragraph & 0x8000) != 0;
    const std::uint32_t entryOffset = std::uint32_t(paragraph & 0xFFF) * 16;
    const std::vector<std::uint8_t> entry = input.bytes(input.u8());
    const std::vector<std::uint8_t> table = input.rest();

    Memory memory;
    std::vector<std::uint8_t> area(board::kBiosAreaLength, 0);
    std::copy_n(entry.begin(), std::min<std::size_t>(entry.size(), area.size() - entryOffset),
                area.begin() + entryOffset);
    memory.add(board::kBiosAreaAddress, area, board::kBiosAreaLength);
    // The table where the entry point says, if it says anything past the area.
    std::uint32_t tableAddress = 0;
    if (entry.size() >= 0x1C)
        std::memcpy(&tableAddress, entry.data() + 0x18, 4);
    if (!table.empty())
        memory.add(tableAddress, table, std::uint32_t(table.size()));

    const std::filesystem::path tables = firmwareDirectory() / "dmi" / "tables";
    std::filesystem::remove_all(tables);
    if (service) {
        std::filesystem::create_directories(tables);
        writeFile(tables / "smbios_entry_point", entry);
        writeFile(tables / "DMI", table);
    }

    {
        board::DmiWalker walker(
            service ? board::DmiWalker::Source::FirmwareTableService
                    : board::DmiWalker::Source::MemoryScan,
            [&](std::uint32_t address, std::uint32_t length) {
                return memory.map(address, length);
            },
            [&](void*) { --memory.liveViews; });
        const board::BoardIdentity identity = board::readBoardIdentity(walker);
        FUZZ_CHECK(identity.productName.size() <= walker.tableLength());

        if (walker.Open()) {
            const std::uint8_t* start = walker.Current();
            const std::uint8_t* end = start + walker.tableLength();
            std::uint32_t structures = 0;
            for (; !walker.AtEnd(); walker.Next(), ++structures) {
                FUZZ_CHECK(structures <= walker.tableLength());
                const std::uint8_t* at = walker.Current();
                FUZZ_CHECK(at >= start && at + walker.CurrentLength() <= end);
                for (int k = 0; k < 4; ++k) {
                    const char* text = walker.GetString(k);
                    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text);
                    if (*text)
                        FUZZ_CHECK(bytes >= at && bytes + std::strlen(text) < end);
                }
            }
        }
    }
    FUZZ_CHECK(memory.liveViews == 0);
    return 0;
}
