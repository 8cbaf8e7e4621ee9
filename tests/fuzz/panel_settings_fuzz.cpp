// The panel's lightingControl.xml from any bytes: a read falls back to the default
// or finds what is stored and changes nothing, a write reads back (or changes nothing
// where the file holds no text for it), and a file the write did not use as it stood
// was kept aside.
//
// Input: i32 effect word to store, then the file.

#include "panel/panel_settings.h"
#include "settings_fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = fuzzing::scratchFile(panel::PanelSettings::kFileName);
    fuzzing::FuzzInput input(data, size);
    const std::int32_t wanted = std::int32_t(input.u32());
    const std::vector<std::uint8_t> original = input.rest();
    fuzzing::writeFile(file, original);
    std::filesystem::path aside = file;
    aside += ".bad";

    panel::PanelSettings panelSettings(file);
    const std::int32_t stored = panelSettings.readLedMode(panel::PanelSettings::kLedKey);
    FUZZ_CHECK(fuzzing::readFile(file) == original);
    panelSettings.writeLedMode(panel::PanelSettings::kLedKey, wanted);
    // Either used as it stands or kept aside for a new one.
    FUZZ_CHECK(fuzzing::readFile(file) == original || fuzzing::parsesAsXml(file));
    FUZZ_CHECK(!std::filesystem::exists(aside) || fuzzing::readFile(aside) == original);
    std::filesystem::remove(aside);
    const std::int32_t reread = panelSettings.readLedMode(panel::PanelSettings::kLedKey);
    FUZZ_CHECK(reread == wanted || reread == stored);
    return 0;
}
