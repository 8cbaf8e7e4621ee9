#include "os/executable.h"
#include "panel/panel_settings.h"

namespace panel {

std::filesystem::path PanelSettings::defaultPath() {
    return os::fileBesideExecutable(kFileName);
}

} // namespace panel
