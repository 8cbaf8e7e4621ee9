#include "panel/panel_settings.h"

#include "settings/settings_document.h"

namespace panel {
namespace {
constexpr const char* kLedName = "led";
constexpr const char* kModeName = "mode";
} // namespace

PanelSettings& PanelSettings::instance() {
    static PanelSettings* settings = new PanelSettings(defaultPath());
    return *settings;
}

std::int32_t PanelSettings::readLedMode(std::string_view key) {
    std::int32_t mode = kDefaultLedMode;
    settings::SettingsDocument document;
    // Reading leaves the disk as it is: a missing or damaged file reads as the
    // default, and only a write creates the file or moves a damaged one aside.
    if (!document.load(path_, false))
        return mode;
    TiXmlElement* led =
        settings::SettingsDocument::findOrCreateChild(document.root(), kLedName, key, false);
    if (led)
        settings::SettingsDocument::readInt(led, kModeName, {}, mode);
    return mode;
}

std::optional<std::int32_t> PanelSettings::storedLedMode(std::string_view key) {
    std::error_code error;
    const bool present = std::filesystem::exists(path_, error);
    if (error)
        return std::nullopt;
    if (!present)
        return readLedMode(key);
    std::int32_t mode = kDefaultLedMode;
    settings::SettingsDocument document;
    if (!document.load(path_, false))
        return std::nullopt;
    TiXmlElement* led =
        settings::SettingsDocument::findOrCreateChild(document.root(), kLedName, key, false);
    if (led)
        settings::SettingsDocument::readInt(led, kModeName, {}, mode);
    return mode;
}

void PanelSettings::writeLedMode(std::string_view key, std::int32_t value) {
    settings::SettingsDocument document;
    if (!document.load(path_, true))
        return;
    TiXmlElement* led =
        settings::SettingsDocument::findOrCreateChild(document.root(), kLedName, key, true);
    settings::SettingsDocument::writeInt(led, kModeName, {}, value);
    document.save();
}

} // namespace panel
