#include "settings/lighting_settings.h"

#include "os/executable.h"

namespace settings {
namespace {
constexpr const char* kModeName = "Mode";
}

LightingSettings& LightingSettings::instance() {
    // Never destroyed: effect threads may still store a mode while the process ends.
    static LightingSettings* settings = new LightingSettings(os::serviceStateFile(kFileName));
    return *settings;
}

LightingSettings::LightingSettings(const std::filesystem::path& path) {
    fileCurrent_ = document_.load(path, true);
}

std::int32_t LightingSettings::getMode() {
    std::lock_guard lock(mutex_);
    std::int32_t mode = 0;
    document_.readInt(kModeName, {}, mode);
    return mode;
}

void LightingSettings::setMode(std::int32_t value) {
    std::lock_guard lock(mutex_);
    // Without a root there is no document to change, and the file stays as it is.
    if (!document_.root())
        return;
    // The file already holds this mode: a save would write the same bytes again (and
    // wait for the disk to take them).
    std::int32_t stored = 0;
    if (fileCurrent_ && document_.readInt(kModeName, {}, stored) && stored == value)
        return;
    document_.writeInt(kModeName, {}, value);
    fileCurrent_ = document_.save();
}

} // namespace settings
