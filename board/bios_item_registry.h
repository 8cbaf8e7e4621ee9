#pragma once

// The process-wide registry of firmware items. The first lookup of any item of a group
// enumerates that group through the bridge (once per process, even when it fails) and
// builds one item object per descriptor; later lookups are a map lookup. Items live
// as long as their registry, which for the process-wide one is the whole process.
//
// Lookups are serialised: the service looks items up from two threads.

#include "board/bios_item.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <unordered_map>
#include <vector>

namespace board {

class AcpiItemLibrary;

class BiosItemRegistry {
public:
    // The registry over the platform's bridge; created on first use, never destroyed.
    static BiosItemRegistry& instance();

    explicit BiosItemRegistry(AcpiItemLibrary& library) : library_(library) {}
    BiosItemRegistry(const BiosItemRegistry&) = delete;
    BiosItemRegistry& operator=(const BiosItemRegistry&) = delete;

    // The item with this id's group and index (kind and attribute bits do not matter),
    // or null when the firmware does not list it or its group could not be enumerated.
    BiosItem* Find(std::uint32_t id);

    // The ids the group's enumeration produced, in the firmware's order (enumerating
    // the group first if needed). Empty for a group that failed or has no items.
    std::vector<std::uint32_t> GroupIds(std::uint32_t group);

    // Builds the item object for a descriptor: the kind nibble of `id` picks the class.
    // The item is returned even when its descriptor does not parse.
    static std::unique_ptr<BiosItem> MakeItem(AcpiItemLibrary& library, std::uint32_t id,
                                              std::span<const std::uint8_t> descriptor);

    static constexpr std::uint32_t kWorkBufferSize = 4096;

private:
    void enumerate(std::uint32_t group); // with mutex_ held

    AcpiItemLibrary& library_;
    std::mutex mutex_;
    std::unordered_map<std::uint32_t, std::unique_ptr<BiosItem>> items_; // by key
    std::map<std::uint32_t, std::vector<std::uint32_t>> groups_;         // enumerated groups
};

} // namespace board
