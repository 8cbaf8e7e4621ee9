// Settings files are outside bytes: anything a disk, an editor or another program
// left there. Mutated and random files must never crash, hang or damage the file,
// and what is saved must read back as what the program holds. Runs under the
// address sanitizer build as well. LUMIVANE_FUZZ_SEED and LUMIVANE_FUZZ_RUNS
// replay or lengthen a run.

#include "panel/panel_settings.h"
#include "settings/lighting_settings.h"
#include "settings/settings_document.h"
#include "settings_files.h"
#include "test_environment.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <tinyxml.h>

using namespace settings_testing;

namespace {

const std::string kSeeds[] = {
    kDeclaration + "<root><Mode>2</Mode></root>",
    kDeclaration +
        "\n<root>\n    <led key=\"-1\">\n        <mode>-1280068862</mode>\n    </led>\n</root>\n",
    "\xEF\xBB\xBF" + kDeclaration +
        "<r a='1' b=\"&quot;\"><Mode key=\"x\">1</Mode><Mode>0</Mode></r>",
    kDeclaration + "<root><Mode><![CDATA[12]]></Mode><!-- c --><led key=\"-1\"/></root><!--t-->",
    kDeclaration +
        "<!DOCTYPE x><root><Mode>&#50;&amp;&lt;</Mode><x>\xC3\xA9\xE2\x82\xAC</x></root>",
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><root><led "
    "key=\"-1\"><mode>\xE9</mode></led></root>",
    "<root><Mode>1</Mode></root>",
};

const char kInteresting[] = {'<',  '>',    '&',    ';',    '"',    '\'',   '/',    '!',    '?',
                             '-',  '[',    ']',    '=',    '#',    'x',    ' ',    '\r',   '\n',
                             '\0', '\xEF', '\xBB', '\xBF', '\xC3', '\xE2', '\xF0', '\xFE', '\xFF'};

class Mutator {
public:
    explicit Mutator(std::uint32_t seed) : random_(seed) {}

    std::string next() {
        if (pick(8) == 0) {
            std::string bytes(pick(64), '\0');
            for (char& c : bytes)
                c = char(pick(256));
            return bytes;
        }
        std::string bytes = kSeeds[pick(std::size(kSeeds))];
        for (std::size_t n = 1 + pick(3); n > 0; --n)
            mutate(bytes);
        return bytes;
    }

    std::int32_t value() { return std::int32_t(random_()); }

private:
    std::size_t pick(std::size_t bound) { return bound ? random_() % bound : 0; }

    void mutate(std::string& bytes) {
        const std::size_t at = pick(bytes.size() + 1);
        switch (pick(6)) {
        case 0: // flip a byte
            if (!bytes.empty())
                bytes[at % bytes.size()] ^= char(1u << pick(8));
            break;
        case 1:
            bytes.insert(at, 1, kInteresting[pick(sizeof kInteresting)]);
            break;
        case 2:
            bytes.erase(at, pick(8));
            break;
        case 3: // repeat a piece
            bytes.insert(at, bytes.substr(pick(bytes.size() + 1), pick(16)));
            break;
        case 4: // splice in part of another seed
        {
            const std::string& other = kSeeds[pick(std::size(kSeeds))];
            bytes.insert(at, other.substr(pick(other.size()), pick(24)));
            break;
        }
        default:
            bytes.resize(at);
            break;
        }
    }

    std::mt19937 random_;
};

std::uint32_t fromEnvironment(const char* name, std::uint32_t fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::uint32_t(std::strtoul(text, nullptr, 0)) : fallback;
}

bool parsesAsXml(const std::string& bytes) {
    TiXmlDocument document;
    document.Parse(bytes.c_str());
    return !document.Error();
}

TEST(SettingsFuzz, ArbitraryFilesNeverBreakTheSettings) {
    const std::uint32_t seed = fromEnvironment("LUMIVANE_FUZZ_SEED", 20261208);
    const std::uint32_t runs = fromEnvironment("LUMIVANE_FUZZ_RUNS", 300);
    Mutator mutator(seed);
    testing_support::TemporaryDirectory directory;
    const auto file = directory.path() / "Lighting.xml";
    const auto aside = directory.path() / "Lighting.xml.bad";
    const std::string fresh =
        printedByTinyXml(kDeclaration + "<root/>", directory.path() / "fresh.xml");

    // How the inputs were taken, to see that every path was walked.
    std::uint32_t recreated = 0, used = 0, refused = 0;
    for (std::uint32_t run = 0; run < runs; ++run) {
        const std::string input = mutator.next();
        SCOPED_TRACE("seed " + std::to_string(seed) + ", run " + std::to_string(run));

        // The service: a file is either used as it stands or kept aside and started
        // again empty.
        writeBytes(file, input);
        settings::LightingSettings lighting(file);
        const std::string loaded = readBytes(file);
        if (loaded != input) {
            ASSERT_EQ(loaded, fresh);
            ASSERT_EQ(readBytes(aside), input);
            std::filesystem::remove(aside);
        } else {
            ASSERT_TRUE(parsesAsXml(loaded));
        }
        const bool hasRoot = settings::SettingsDocument().load(file, false);
        ++(loaded != input ? recreated : hasRoot ? used : refused);

        const std::int32_t before = lighting.getMode();
        const std::int32_t wanted = mutator.value();
        lighting.setMode(wanted);
        const std::int32_t held = lighting.getMode();
        if (hasRoot) {
            EXPECT_TRUE(held == wanted || held == before);
            // Unless the file could not hold it: then it keeps what it held.
            const std::string saved = readBytes(file);
            EXPECT_TRUE(settings::LightingSettings(file).getMode() == held || saved == loaded)
                << input;
            EXPECT_TRUE(settings::SettingsDocument().load(file, false)) << input;
        } else {
            EXPECT_EQ(held, 0);
            EXPECT_EQ(readBytes(file), loaded);
        }

        // The panel: reads fall back to the default and change nothing, a write reads
        // back or changes nothing.
        writeBytes(file, input);
        panel::PanelSettings panelSettings(file);
        const std::int32_t stored = panelSettings.readLedMode(panel::PanelSettings::kLedKey);
        ASSERT_EQ(readBytes(file), input);
        panelSettings.writeLedMode(panel::PanelSettings::kLedKey, wanted);
        const std::int32_t reread = panelSettings.readLedMode(panel::PanelSettings::kLedKey);
        EXPECT_TRUE(reread == wanted || reread == stored) << input;
        if (std::filesystem::exists(aside)) {
            EXPECT_EQ(readBytes(aside), input);
            std::filesystem::remove(aside);
        }

        ASSERT_EQ(fileNames(directory.path()), std::vector<std::string>{"Lighting.xml"});
    }
    std::printf("%u recreated, %u used, %u without root\n", recreated, used, refused);
    if (runs >= 100) {
        EXPECT_GT(recreated, runs / 20);
        EXPECT_GT(used, runs / 20);
        EXPECT_GT(refused, 0u);
    }
}

} // namespace
