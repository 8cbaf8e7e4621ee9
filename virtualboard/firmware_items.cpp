#include "virtualboard/firmware_items.h"

#include "virtualboard/board_image.h"
#include "virtualboard/firmware.h"
#include "virtualboard/platform.h"

namespace virtualboard {

using namespace layout;

namespace {

FirmwareItem itemOf(const ItemSlot& slot) {
    FirmwareItem item;
    item.id = slot.id;
    item.value = slot.value;
    item.lastControl = slot.lastControl;
    item.writes = slot.writes;
    item.writtenAtMs = slot.writtenAtMs;
    item.methodCode = slot.methodCode;
    item.descriptor.assign(slot.descriptor, slot.descriptor + slot.descriptorLength);
    return item;
}

} // namespace

std::vector<FirmwareItem> FirmwareItems::all() const {
    BoardImage::Lock lock(image_);
    const FirmwareState& firmware = image_.firmware();
    std::vector<FirmwareItem> items;
    for (std::uint32_t i = 0; i < firmware.itemCount; ++i)
        items.push_back(itemOf(firmware.items[i]));
    return items;
}

std::optional<FirmwareItem> FirmwareItems::find(std::uint32_t id) const {
    BoardImage::Lock lock(image_);
    if (const ItemSlot* slot = image_.slot(id))
        return itemOf(*slot);
    return std::nullopt;
}

std::optional<FirmwareItem> FirmwareItems::byMethodCode(std::uint32_t code) const {
    BoardImage::Lock lock(image_);
    const FirmwareState& firmware = image_.firmware();
    for (std::uint32_t i = 0; i < firmware.itemCount; ++i)
        if (firmware.items[i].methodCode == code)
            return itemOf(firmware.items[i]);
    return std::nullopt;
}

std::optional<std::uint32_t> FirmwareItems::read(std::uint32_t id) const {
    if (itemKey(id) == itemKey(kCpuTemperatureItem) && hostTemperature())
        if (auto host = hostCpuTemperature()) // outside the lock: it reads files
            return host;
    BoardImage::Lock lock(image_);
    if (const ItemSlot* slot = image_.slot(id))
        return slot->value;
    return std::nullopt;
}

ItemWrite FirmwareItems::write(std::uint32_t id, std::uint32_t value, std::uint32_t control) {
    BoardImage::Lock lock(image_);
    ItemSlot* slot = image_.slot(id);
    if (!slot)
        return ItemWrite::NoSuchItem;
    const std::uint8_t* access = slot->descriptor + 8 + 3 * 12 + 4; // element 3's data
    if (slot->descriptorLength < 8 + 4 * 12 || !(std::uint32_t(access[0]) & kItemWritable))
        return ItemWrite::ReadOnly;
    slot->value = value;
    slot->lastControl = control;
    ++slot->writes;
    slot->writtenAtMs = wallClockMs();
    return ItemWrite::Done;
}

bool FirmwareItems::set(std::uint32_t id, std::uint32_t value) {
    BoardImage::Lock lock(image_);
    ItemSlot* slot = image_.slot(id);
    if (!slot)
        return false;
    slot->value = value;
    slot->writtenAtMs = wallClockMs();
    return true;
}

void FirmwareItems::setTemperature(std::optional<std::uint32_t> tenths) {
    BoardImage::Lock lock(image_);
    FirmwareState& firmware = image_.firmware();
    firmware.hostTemperature = tenths ? 0 : 1;
    if (tenths) {
        firmware.storedTemperature = *tenths;
        if (ItemSlot* slot = image_.slot(kCpuTemperatureItem))
            slot->value = *tenths;
    }
}

bool FirmwareItems::hostTemperature() const {
    BoardImage::Lock lock(image_);
    return image_.firmware().hostTemperature != 0;
}

} // namespace virtualboard
