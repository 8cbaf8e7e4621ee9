#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

// The panel's memory of the last firmware effect it programmed: the effect word in
// "lightingControl.xml" (see defaultPath), as the text of a "mode"
// element inside an "led" element with the panel's key. The file is opened afresh
// for every read and write, so changes other programs make to it are seen.

namespace panel {

class PanelSettings {
public:
    static constexpr const char* kFileName = "lightingControl.xml";
    // The panel's only key: -1 as a decimal number.
    static constexpr std::string_view kLedKey = "-1";
    // Pulsating in the grey 179, 179, 179: what the panel shows before it ever
    // stored an effect, or when the file cannot be used.
    static constexpr std::int32_t kDefaultLedMode = std::int32_t(0xB3B3B302u);

    // The process-wide object for the file at defaultPath().
    static PanelSettings& instance();
    // Beside the executable on Windows; on Linux in the user's configuration folder
    // ($XDG_CONFIG_HOME/lumivane, by default ~/.config/lumivane), since a user cannot
    // write beside an installed program. The folder is created when missing.
    static std::filesystem::path defaultPath();

    // Settings kept in the file at path; nothing is read until asked.
    explicit PanelSettings(std::filesystem::path path) : path_(std::move(path)) {}
    PanelSettings(const PanelSettings&) = delete;
    PanelSettings& operator=(const PanelSettings&) = delete;

    // The effect word stored for key, or kDefaultLedMode. Reading never changes the
    // file, nor creates one.
    std::int32_t readLedMode(std::string_view key);
    // The same, but a file that is there and cannot be read yields nothing and is left
    // as it is: what it held is not known, and may still be the user's. A missing file
    // is a first start (created, as readLedMode does).
    std::optional<std::int32_t> storedLedMode(std::string_view key);
    // Stores the effect word for key and saves the file; failures are not reported.
    // A missing file is created; a damaged one is first kept aside
    // (lightingControl.xml.bad, see SettingsDocument::load).
    void writeLedMode(std::string_view key, std::int32_t value);

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace panel
