#include "panel/panel_settings.h"
#include "settings_files.h"
#include "test_environment.h"

#include <gtest/gtest.h>

using panel::PanelSettings;
using namespace settings_testing;

namespace {

constexpr std::string_view kKey = PanelSettings::kLedKey;

class PanelSettingsTest : public ::testing::Test {
protected:
    std::filesystem::path file() const { return directory_.path() / PanelSettings::kFileName; }
    std::string expected(const std::string& xml) const {
        return printedByTinyXml(xml, directory_.path().parent_path() /
                                         (directory_.path().filename().string() + ".expected"));
    }
    std::int32_t readFrom(const std::string& xml) {
        writeBytes(file(), xml);
        return settings_.readLedMode(kKey);
    }

    testing_support::TemporaryDirectory directory_;
    PanelSettings settings_{file()};
};

TEST_F(PanelSettingsTest, FirstStartShowsGreyPulsatingThenStoresTheEffect) {
    EXPECT_EQ(PanelSettings::kDefaultLedMode, -1280068862);
    EXPECT_EQ(settings_.readLedMode(kKey), PanelSettings::kDefaultLedMode);
    EXPECT_FALSE(std::filesystem::exists(file())) << "reading creates nothing";

    settings_.writeLedMode(kKey, PanelSettings::kDefaultLedMode);
    EXPECT_EQ(
        readBytes(file()),
        expected(kDeclaration + R"(<root><led key="-1"><mode>-1280068862</mode></led></root>)"));
    settings_.writeLedMode(kKey, 0x0000FF01);
    EXPECT_EQ(settings_.readLedMode(kKey), 0x0000FF01);
}

TEST_F(PanelSettingsTest, EffectWordsAreStoredAsSignedDecimals) {
    const std::pair<std::int32_t, const char*> cases[] = {
        {0x0000FF01, "65281"},                      // Static, red
        {std::int32_t(0xFF000001u), "-16777215"},   // Static, blue
        {std::int32_t(0x80808004u), "-2139062268"}, // Rainbow, grey 128
    };
    for (const auto& [word, text] : cases) {
        settings_.writeLedMode(kKey, word);
        EXPECT_EQ(readBytes(file()), expected(kDeclaration + R"(<root><led key="-1"><mode>)" +
                                              text + "</mode></led></root>"));
        EXPECT_EQ(PanelSettings(file()).readLedMode(kKey), word);
    }
}

TEST_F(PanelSettingsTest, OnlyTheFirstLedWithTheExactKeyCounts) {
    EXPECT_EQ(
        readFrom(kDeclaration +
                 R"(<root><led key="-1 "><mode>5</mode></led><led><mode>6</mode></led></root>)"),
        PanelSettings::kDefaultLedMode);
    settings_.writeLedMode(kKey, 7);
    EXPECT_EQ(readBytes(file()),
              expected(kDeclaration +
                       R"(<root><led key="-1 "><mode>5</mode></led><led><mode>6</mode></led>)" +
                       R"(<led key="-1"><mode>7</mode></led></root>)"));

    const std::string two =
        kDeclaration +
        R"(<cfg><led key="-1"><mode>1</mode></led><led key="-1"><mode>2</mode></led></cfg>)";
    EXPECT_EQ(readFrom(two), 1);
    settings_.writeLedMode(kKey, 3);
    EXPECT_EQ(
        readBytes(file()),
        expected(
            kDeclaration +
            R"(<cfg><led key="-1"><mode>3</mode></led><led key="-1"><mode>2</mode></led></cfg>)"));
}

TEST_F(PanelSettingsTest, MissingOrOddModesRead) {
    EXPECT_EQ(readFrom(kDeclaration + R"(<root><led key="-1"><mode></mode></led></root>)"), 0);
    EXPECT_EQ(readFrom(kDeclaration + R"(<root><led key="-1"><mode/></led></root>)"), 0);
    EXPECT_EQ(readFrom(kDeclaration + R"(<root><led key="-1"/></root>)"),
              PanelSettings::kDefaultLedMode);
    EXPECT_EQ(readFrom(kDeclaration + R"(<root><led key="-1"><mode key="a">9</mode></led></root>)"),
              PanelSettings::kDefaultLedMode);
    EXPECT_EQ(readFrom(kDeclaration + R"(<root><led key="-1"><mode>65281 red</mode></led></root>)"),
              65281);
    // Reading never writes: the empty text node the read adds stays in memory.
    const std::string empty = kDeclaration + R"(<root><led key="-1"><mode/></led></root>)";
    readFrom(empty);
    EXPECT_EQ(readBytes(file()), empty);
}

TEST_F(PanelSettingsTest, UnusableFilesGiveTheDefaultAndStayAsTheyAre) {
    const std::string noDeclaration = R"(<root><led key="-1"><mode>5</mode></led></root>)";
    EXPECT_EQ(readFrom(noDeclaration), PanelSettings::kDefaultLedMode);
    settings_.writeLedMode(kKey, 1);
    EXPECT_EQ(readBytes(file()), noDeclaration);

    // A damaged file reads as the default and stays as it is; the first write keeps
    // it aside and starts a new one.
    const std::string damaged = kDeclaration + R"(<root><led key="-1"><mode>5</mode></led)";
    EXPECT_EQ(readFrom(damaged), PanelSettings::kDefaultLedMode);
    EXPECT_EQ(readBytes(file()), damaged);
    settings_.writeLedMode(kKey, 1);
    EXPECT_EQ(readBytes(file().string() + ".bad"), damaged);
    EXPECT_EQ(readBytes(file()),
              expected(kDeclaration + R"(<root><led key="-1"><mode>1</mode></led></root>)"));

    // Nowhere to create it: the default, and nothing written.
    PanelSettings nowhere(directory_.path() / "missing" / PanelSettings::kFileName);
    EXPECT_EQ(nowhere.readLedMode(kKey), PanelSettings::kDefaultLedMode);
    nowhere.writeLedMode(kKey, 1);
    EXPECT_EQ(nowhere.readLedMode(kKey), PanelSettings::kDefaultLedMode);
    EXPECT_FALSE(std::filesystem::exists(directory_.path() / "missing"));
}

TEST_F(PanelSettingsTest, ChangesByOtherProgramsAreSeen) {
    settings_.writeLedMode(kKey, 1);
    PanelSettings(file()).writeLedMode(kKey, 2);
    EXPECT_EQ(settings_.readLedMode(kKey), 2);
    writeBytes(file(), kDeclaration + R"(<root><led key="-1"><mode>3</mode></led></root>)");
    EXPECT_EQ(settings_.readLedMode(kKey), 3);
}

} // namespace
