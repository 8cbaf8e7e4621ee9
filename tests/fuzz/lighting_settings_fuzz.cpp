// The service's Lighting.xml from any bytes: it is used as it stands or kept aside
// and started again, a stored mode reads back in a fresh process (or the file stays as it was),
// and the saved file parses.
//
// Input: i32 mode to store, then the file.

#include "settings/lighting_settings.h"
#include "settings/settings_document.h"
#include "settings_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = fuzzing::scratchFile(settings::LightingSettings::kFileName);
    fuzzing::FuzzInput input(data, size);
    const std::int32_t wanted = std::int32_t(input.u32());
    const std::vector<std::uint8_t> original = input.rest();
    fuzzing::writeFile(file, original);

    std::filesystem::path aside = file;
    aside += ".bad";
    settings::LightingSettings lighting(file);
    const std::vector<std::uint8_t> loaded = fuzzing::readFile(file);
    FUZZ_CHECK(fuzzing::parsesAsXml(file));
    // A file that was not used is kept aside as it was.
    FUZZ_CHECK(loaded == original || fuzzing::readFile(aside) == original);
    std::filesystem::remove(aside);
    const bool hasRoot = settings::SettingsDocument().load(file, false);

    const std::int32_t before = lighting.getMode();
    lighting.setMode(wanted);
    const std::int32_t held = lighting.getMode();
    if (hasRoot) {
        // A Mode element whose first child is no text is left alone; a document that
        // would not read back as saved is not saved.
        FUZZ_CHECK(held == wanted || held == before);
        FUZZ_CHECK(settings::SettingsDocument().load(file, false));
        FUZZ_CHECK(settings::LightingSettings(file).getMode() == held ||
                   fuzzing::readFile(file) == loaded);
    } else {
        FUZZ_CHECK(held == 0);
        FUZZ_CHECK(fuzzing::readFile(file) == loaded);
    }
    FUZZ_CHECK(fuzzing::parsesAsXml(file));
    return 0;
}
