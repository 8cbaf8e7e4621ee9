#include "panel/board_led_device.h"

#include "board/bios_item_registry.h"
#include "board/hwio.h"
#include "board/smbios.h"
#include "os/com_apartment.h"
#include "panel/panel_settings.h"

namespace {

constexpr std::uint32_t kWriteControl = 1;
constexpr std::uint32_t kFirmwareDrives = 0;
constexpr std::uint32_t kSoftwareDrives = 1;
constexpr std::uint32_t kSoftwareControlWord = 3;

constexpr std::uint32_t kRegisterWindow = 0xFDAE0000;
constexpr std::uint32_t kRegisterWindowLength = 0xFFFF;
constexpr std::uint32_t kEnableRegisters[] = {0x480, 0x490};
constexpr std::uint32_t kLedsOnBit = 0x100;
constexpr std::uint32_t kLedsOffBit = 0x200;

// Mapped once and kept: the registers are touched at every switch of the lighting.
volatile std::uint32_t* registerWindow = nullptr;

// The supported board gates its LED supply through two registers of its chipset
// window besides the firmware's switch.
void setLedEnableBits(bool on) {
    if (!registerWindow) {
        registerWindow = static_cast<volatile std::uint32_t*>(
            board::hwIOLibrary().mapMemory(kRegisterWindow, kRegisterWindowLength));
        if (!registerWindow)
            return;
    }
    for (std::uint32_t offset : kEnableRegisters) {
        volatile std::uint32_t& reg = registerWindow[offset / sizeof(std::uint32_t)];
        const std::uint32_t value = reg;
        reg = on ? (value | kLedsOnBit) & ~kLedsOffBit : (value | kLedsOffBit) & ~kLedsOnBit;
    }
}

bool writeItem(std::uint32_t id, std::uint32_t value, std::uint32_t control) {
    board::BiosItem* item = board::BiosItemRegistry::instance().Find(id);
    return item && item->SetValue(value, control) == 1;
}

std::uint32_t storedLedMode() {
    return std::uint32_t(
        panel::PanelSettings::instance().readLedMode(panel::PanelSettings::kLedKey));
}

} // namespace

BoardLedDevice::BoardLedDevice() {
    // The items go through an automation object on Windows.
    os::ComApartment::enterForThread();
    boardMatches_ = board::isSupportedBoard(board::ReadBoardProductName());
}

bool BoardLedDevice::isLightingOn() {
    return readLightingOn().value_or(false);
}

std::optional<bool> BoardLedDevice::readLightingOn() {
    board::BiosItem* item = board::BiosItemRegistry::instance().Find(board::kLightingEnableItem);
    std::uint32_t value = 0;
    if (!item || !item->GetValue(&value))
        return std::nullopt;
    return value == 1;
}

void BoardLedDevice::setLightingOn(bool on) {
    writeItem(board::kLightingEnableItem, on ? 1 : 0, kWriteControl);
    if (boardMatches_)
        setLedEnableBits(on);
}

bool BoardLedDevice::applyEffect(int number, std::uint32_t colorWord) {
    const std::uint32_t word = std::uint32_t(number) | (colorWord & 0xFF) << 8 |
                               (colorWord >> 8 & 0xFF) << 16 | (colorWord >> 16 & 0xFF) << 24;
    panel::PanelSettings::instance().writeLedMode(panel::PanelSettings::kLedKey,
                                                  std::int32_t(word));
    writeItem(board::kLightingControlItem, kFirmwareDrives, kWriteControl);
    return writeItem(board::kLightingEffectItem, word, kWriteControl);
}

bool BoardLedDevice::enableSoftwareControl() {
    return writeItem(board::kLightingControlItem, kSoftwareDrives, kSoftwareControlWord);
}

int BoardLedDevice::storedEffect() {
    return effectOf(storedLedMode());
}

std::uint32_t BoardLedDevice::storedColor() {
    return colorOf(storedLedMode());
}

std::optional<std::uint32_t> BoardLedDevice::readStoredWord() {
    const std::optional<std::int32_t> mode =
        panel::PanelSettings::instance().storedLedMode(panel::PanelSettings::kLedKey);
    if (!mode)
        return std::nullopt;
    return std::uint32_t(*mode);
}

int BoardLedDevice::effectOf(std::uint32_t word) {
    const int number = int(word & 0xFF);
    return number >= kStatic && number <= kRainbow ? number : 0;
}
