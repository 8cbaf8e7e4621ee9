#pragma once

#include "settings/settings_document.h"

#include <cstdint>
#include <filesystem>
#include <mutex>

// The service's one persistent setting: the effect mode, kept in "Lighting.xml"
// beside the service's executable, or in its state directory when it runs as an
// installed service (os::serviceStateFile). The file is read once; afterwards the document
// in memory is what counts, and every change rewrites the whole file from it. A
// damaged file is kept aside (SettingsDocument::load) and the settings start afresh.

namespace settings {

class LightingSettings {
public:
    static constexpr const char* kFileName = "Lighting.xml";

    // The process-wide object, loading (or creating) the file on the first call.
    static LightingSettings& instance();

    // Settings kept in the file at path, loaded (or created) at once. The service
    // uses instance(); tests point a separate object at a scratch file.
    explicit LightingSettings(const std::filesystem::path& path);
    LightingSettings(const LightingSettings&) = delete;
    LightingSettings& operator=(const LightingSettings&) = delete;

    // The stored mode; 0 when the file has none or could not be used.
    std::int32_t getMode();
    // Stores the mode and saves the file, unless the file already holds that mode as
    // this object last loaded or saved it. Failures are not reported: the controller
    // runs the mode either way, and without a usable file the mode lives in memory
    // only (or, without a root, not at all); the next call saves again.
    void setMode(std::int32_t value);

    const std::filesystem::path& path() const { return document_.path(); }

private:
    // Automation calls arrive on several threads at once; the document is not
    // thread safe, and a save must print one consistent state.
    std::mutex mutex_;
    SettingsDocument document_;
    // Whether the file holds the document's values: loaded from it, or saved since the
    // last change.
    bool fileCurrent_ = false;
};

} // namespace settings
