#include "board/bios_item_registry.h"

#include "board/acpi_items.h"

namespace board {

BiosItemRegistry& BiosItemRegistry::instance() {
    static BiosItemRegistry* registry = new BiosItemRegistry(AcpiItemLibrary::platform());
    return *registry;
}

std::unique_ptr<BiosItem> BiosItemRegistry::MakeItem(AcpiItemLibrary& library, std::uint32_t id,
                                                     std::span<const std::uint8_t> descriptor) {
    std::unique_ptr<BiosItem> item;
    switch (item_id::kind(id)) {
    case kBooleanKind:
        item = std::make_unique<BiosBooleanItem>(library, id);
        break;
    case kStringKind:
        item = std::make_unique<BiosStringItem>(library, id);
        break;
    case kCompositeKind:
        item = std::make_unique<BiosCompositedItem>(library, id);
        break;
    default:
        item = std::make_unique<BiosNumberItem>(library, id);
        break;
    }
    (void)item->Load(descriptor);
    return item;
}

void BiosItemRegistry::enumerate(std::uint32_t group) {
    std::vector<std::uint32_t>& ids = groups_[group];
    std::vector<std::uint8_t> list(kWorkBufferSize);
    std::uint32_t listLength = kWorkBufferSize;
    if (!library_.gGrp(group, list.data(), &listLength))
        return;

    std::vector<std::uint8_t> descriptor(kWorkBufferSize);
    const AcpiPackage package(std::span(list.data(), listLength));
    // Elements that would reach beyond the list are not asked for.
    for (auto element = package.first(); element; element = package.next(*element)) {
        std::uint32_t code = element->value();
        std::uint32_t length = kWorkBufferSize;
        // An element whose descriptor does not arrive, or arrives without even an id,
        // yields no item: there is nothing to build it from.
        if (!library_.callMethod(&code, descriptor.data(), &length))
            continue;
        const std::span<const std::uint8_t> bytes(descriptor.data(), length);
        const auto first = AcpiPackage(bytes).first();
        if (!first)
            continue;
        const std::uint32_t id = first->value();
        items_.try_emplace(item_id::key(id), MakeItem(library_, id, bytes));
        ids.push_back(id);
    }
}

BiosItem* BiosItemRegistry::Find(std::uint32_t id) {
    std::lock_guard lock(mutex_);
    const std::uint32_t group = item_id::group(id);
    if (!groups_.contains(group))
        enumerate(group);
    const auto found = items_.find(item_id::key(id));
    return found == items_.end() ? nullptr : found->second.get();
}

std::vector<std::uint32_t> BiosItemRegistry::GroupIds(std::uint32_t group) {
    std::lock_guard lock(mutex_);
    group &= 0xFF;
    if (!groups_.contains(group))
        enumerate(group);
    return groups_[group];
}

} // namespace board
