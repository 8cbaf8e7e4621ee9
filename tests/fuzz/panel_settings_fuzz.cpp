// The panel's lightingControl.xml from any bytes: a read falls back to the default
// or finds what is stored, a write reads back (or changes nothing where the file
// holds no text for it), and the file left behind parses.
//
// Input: i32 effect word to store, then the file.

#include "panel/panel_settings.h"
#include "settings_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = fuzzing::scratchFile(panel::PanelSettings::kFileName);
    fuzzing::FuzzInput input(data, size);
    const std::int32_t wanted = std::int32_t(input.u32());
    fuzzing::writeFile(file, input.rest());

    panel::PanelSettings panelSettings(file);
    const std::int32_t stored = panelSettings.readLedMode(panel::PanelSettings::kLedKey);
    FUZZ_CHECK(fuzzing::parsesAsXml(file));
    panelSettings.writeLedMode(panel::PanelSettings::kLedKey, wanted);
    FUZZ_CHECK(fuzzing::parsesAsXml(file));
    const std::int32_t reread = panelSettings.readLedMode(panel::PanelSettings::kLedKey);
    FUZZ_CHECK(reread == wanted || reread == stored);
    return 0;
}
