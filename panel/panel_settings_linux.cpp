#include "panel/panel_settings.h"

#include <cstdlib>
#include <system_error>

namespace panel {

std::filesystem::path PanelSettings::defaultPath() {
    std::filesystem::path folder;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        folder = config;
    else if (const char* home = std::getenv("HOME"); home && *home)
        folder = std::filesystem::path(home) / ".config";
    else
        return kFileName;
    folder /= "lumivane";
    // A folder that cannot be made leaves the file unusable, which reads as defaults.
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return folder / kFileName;
}

} // namespace panel
