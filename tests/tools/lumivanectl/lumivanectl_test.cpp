#include "board/color.h"
#include "board/ec_registers.h"
#include "board/hwio.h"
#include "board_fixtures.h"
#include "commands.h"
#include "test_environment.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

using namespace board_testing;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

// The tool over the fake library (both bindings) and tables of the test's own.
class Lumivanectl : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fake); }

    Result run(std::vector<std::string> args) {
        std::ostringstream out, err;
        int status = lumivanectl::run(args, out, err, {ports, hwio});
        return {status, out.str(), err.str()};
    }

    testing_support::TemporaryDirectory firmware;
    testing_support::ScopedEnvironment redirect{"LUMIVANE_FIRMWARE_DIR", firmware.path().string()};
    FakeHwio fake{besideTests(FAKE_HWIO_FILE)};
    board::EcPortBinding ports{besideTests(FAKE_HWIO_FILE).string()};
    board::HwIOLibrary hwio{besideTests(FAKE_HWIO_FILE)};
};

} // namespace

TEST_F(Lumivanectl, BoardNameFromEitherSource) {
    writeDmiTable(firmware.path(), table({bios(), baseboard("XR40-SUMMIT"), endOfTable()}));
    Result result = run({"board", "name"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.substr(0, result.out.find('\n')), "XR40-SUMMIT");
    EXPECT_NE(result.out.find("the supported model"), std::string::npos);

    // Firmware strings are bytes: 0xE9 is U+00E9, escaped so that the line stays ASCII.
    writeDmiTable(firmware.path(), table({bios(), baseboard("Other \"board\"\x01\xE9")}));
    result = run({"--json", "board", "name"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("\\u00e9"), std::string::npos) << result.out;
    EXPECT_EQ(nlohmann::json::parse(result.out),
              (nlohmann::json{{"product", "Other \"board\"\x01\u00E9"},
                              {"baseboard", true},
                              {"supported", false},
                              {"source", "firmware-table service"}}));

    // No baseboard: an empty name, and still a success.
    writeDmiTable(firmware.path(), table({bios(), endOfTable()}));
    result = run({"board", "name"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.substr(0, 1), "\n");

    // The memory scan through the library's views.
    std::filesystem::remove_all(firmware.path() / "dmi");
    Bytes structures = table({baseboard("SCANNED"), endOfTable()});
    Bytes entry = entryPoint(0x000E1234, std::uint16_t(structures.size()));
    fake.addMemory(0xE0000, 0x20000);
    fake.poke(0xF0010, entry);
    fake.poke(0xE1234, structures);
    result = run({"board", "name", "--json"});
    EXPECT_EQ(result.status, 0) << result.err;
    const auto scanned = nlohmann::json::parse(result.out);
    EXPECT_EQ(scanned["product"], "SCANNED");
    EXPECT_EQ(scanned["source"], "memory scan");
}

TEST_F(Lumivanectl, SmbiosListsEveryStructureAndTheEndMarker) {
    writeDmiTable(firmware.path(), table({bios(), systemStructure("Desk\\top"),
                                          baseboard("XR40-SUMMIT"), endOfTable()}));
    Result result = run({"board", "smbios", "--json"});
    ASSERT_EQ(result.status, 0) << result.err;
    const auto smbios = nlohmann::json::parse(result.out);
    ASSERT_EQ(smbios["structures"].size(), 4u) << result.out;
    EXPECT_EQ(
        smbios["structures"][1],
        (nlohmann::json{
            {"type", 1}, {"handle", 1}, {"length", 8}, {"strings", {"Vantor", "Desk\\top"}}}));
    EXPECT_EQ(
        smbios["structures"][3],
        (nlohmann::json{
            {"type", 127}, {"handle", 3}, {"length", 4}, {"strings", nlohmann::json::array()}}));

    result = run({"board", "smbios"});
    EXPECT_NE(result.out.find("4 structures"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("type 2 (baseboard), handle 0x0002, length 8\n"
                              "  1: Vantor\n  2: XR40-SUMMIT\n"),
              std::string::npos)
        << result.out;
}

TEST_F(Lumivanectl, HslPrintsAndWritesBlueGreenRed) {
    Result result = run({"board", "hsl", "0.333", "1", "0.5"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "red 1 green 255 blue 0\n");
    EXPECT_EQ(fake.state().accessCount, 0u) << "nothing written without --write";

    result = run({"--json", "board", "hsl", "0.75", "1", "0.5", "--write"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(nlohmann::json::parse(result.out), (nlohmann::json{{"hue", 0.75},
                                                                 {"saturation", 1.0},
                                                                 {"lightness", 0.5},
                                                                 {"red", 128},
                                                                 {"green", 0},
                                                                 {"blue", 255},
                                                                 {"written", true}}));
    std::vector<std::pair<std::uint16_t, std::uint8_t>> expected;
    for (auto [reg, value] : {std::pair{0x5B, 255}, {0x5D, 0}, {0x53, 128}})
        for (auto [address, byte] : {std::pair{0xFF, 0}, {reg, value}})
            expected.insert(
                expected.end(),
                {{0x6C, 0x81}, {0x68, std::uint8_t(address)}, {0x68, std::uint8_t(byte)}});
    EXPECT_EQ(fake.writes(), expected);

    fake.state().accessCount = 0;
    result = run({"board", "color", "0x12", "52", "0X56"});
    ASSERT_EQ(result.status, 0) << result.err;
    auto writes = fake.writes();
    ASSERT_EQ(writes.size(), 18u);
    EXPECT_EQ(writes[5].second, 0x56);
    EXPECT_EQ(writes[11].second, 52);
    EXPECT_EQ(writes[17].second, 0x12);
}

TEST_F(Lumivanectl, TemperatureColorPrintsAndWritesRedGreenBlue) {
    Result result = run({"board", "temperature-color", "50"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "red 255 green 127 blue 0\n");
    result = run({"board", "temperature-color", "-7"});
    EXPECT_EQ(result.out, "red 1 green 255 blue 0\n");
    EXPECT_EQ(fake.state().accessCount, 0u) << "nothing written without --write";

    result = run({"--json", "board", "temperature-color", "59", "--write"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(nlohmann::json::parse(result.out),
              (nlohmann::json{
                  {"celsius", 59}, {"red", 255}, {"green", 13}, {"blue", 0}, {"written", true}}));
    std::vector<std::pair<std::uint16_t, std::uint8_t>> expected;
    for (auto [reg, value] : {std::pair{0x53, 255}, {0x5D, 13}, {0x5B, 0}})
        for (auto [address, byte] : {std::pair{0xFF, 0}, {reg, value}})
            expected.insert(
                expected.end(),
                {{0x6C, 0x81}, {0x68, std::uint8_t(address)}, {0x68, std::uint8_t(byte)}});
    EXPECT_EQ(fake.writes(), expected);

    for (const char* bad : {"4x", "", "99999999999", "4.5"}) {
        result = run({"board", "temperature-color", bad});
        EXPECT_EQ(result.status, 2) << bad;
        EXPECT_NE(result.err.find("CELSIUS must be a whole number"), std::string::npos) << bad;
    }
}

// Scripts written before the words were spelt "color" keep working; the help lists only
// the new words.
TEST_F(Lumivanectl, OldCommandWordsAreAliasesLeftOutOfTheHelp) {
    const Result color = run({"--json", "board", "temperature-color", "59"});
    ASSERT_EQ(color.status, 0) << color.err;
    const Result oldColor = run({"--json", "board", "temperature-colour", "59"});
    EXPECT_EQ(oldColor.status, 0) << oldColor.err;
    EXPECT_EQ(oldColor.out, color.out);

    // Both reach the command: it reads the file and refuses it.
    const std::string junk = (firmware.path() / "junk.wav").string();
    std::ofstream(junk) << "not audio";
    const Result colors = run({"audio", "colors", junk});
    const Result oldColors = run({"audio", "colours", junk});
    EXPECT_EQ(colors.status, 1);
    EXPECT_EQ(oldColors.status, 1);
    EXPECT_EQ(oldColors.err, colors.err);

    const std::string help = run({"--help"}).out + run({"audio", "--help"}).out;
    EXPECT_NE(help.find("board temperature-color CELSIUS"), std::string::npos) << help;
    EXPECT_NE(help.find("audio colors FILE.wav"), std::string::npos) << help;
    EXPECT_EQ(help.find("temperature-colour"), std::string::npos) << help;
    EXPECT_EQ(help.find("colours"), std::string::npos) << help;
}

TEST_F(Lumivanectl, BadInputAndUnreachableBoardsFailClearly) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{}, 2, "no command"},
        {{"board"}, 2, "board needs a command"},
        {{"boards", "name"}, 2, "unknown command \"boards\""},
        {{"board", "colour", "1", "2", "3"}, 2, "unknown board command"},
        {{"board", "hsl", "0.5", "1"}, 2, "HUE SATURATION LIGHTNESS"},
        {{"board", "hsl", "0.5", "1.5", "0.5"}, 2, "saturation must be"},
        {{"board", "hsl", "abc", "1", "0.5"}, 2, "hue must be"},
        {{"board", "hsl", "0.5", "1", "nan"}, 2, "lightness must be"},
        {{"board", "color", "256", "0", "0"}, 2, "red must be"},
        {{"board", "color", "1", "-1", "0"}, 2, "green must be"},
        {{"board", "color", "1", "2", "0x"}, 2, "blue must be"},
        {{"board", "name", "extra"}, 2, "takes no arguments"},
        {{"board", "smbios", "--write"}, 2, "--write belongs"},
    };
    for (const Case& c : cases) {
        Result result = run(c.args);
        EXPECT_EQ(result.status, c.status) << c.message;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    }
    EXPECT_EQ(fake.state().accessCount, 0u) << "no bad command reaches the ports";

    // No table service and no library for the scan.
    testing_support::TemporaryDirectory nowhere;
    board::HwIOLibrary missing{nowhere.path() / "HwIO.lib"};
    std::ostringstream out, err;
    EXPECT_EQ(lumivanectl::run({"board", "name"}, out, err, {ports, missing}), 1);
    EXPECT_NE(err.str().find("DmiHelp: Can not find SMBIOS Header"), std::string::npos);
    EXPECT_NE(err.str().find("could not be loaded"), std::string::npos) << err.str();

    board::EcPortBinding absent{(nowhere.path() / "hwio.lib").string()};
    EXPECT_EQ(lumivanectl::run({"board", "color", "1", "2", "3"}, out, err, {absent, hwio}), 1);
    EXPECT_NE(err.str().find("cannot load the I/O library"), std::string::npos);

    FakeHwio noPorts{besideTests(FAKE_HWIO_WITHOUT_PORTS_FILE)};
    board::EcPortBinding portless{besideTests(FAKE_HWIO_WITHOUT_PORTS_FILE).string()};
    EXPECT_EQ(
        lumivanectl::run({"board", "hsl", "0", "1", "0.5", "--write"}, out, err, {portless, hwio}),
        1);
    EXPECT_NE(err.str().find("lacks HWIO_OutPortB"), std::string::npos);

    fake.state().openResult = 0;
    board::EcPortBinding refused{besideTests(FAKE_HWIO_FILE).string()};
    EXPECT_EQ(lumivanectl::run({"board", "color", "1", "2", "3"}, out, err, {refused, hwio}), 1);
    EXPECT_NE(err.str().find("port access is not ready"), std::string::npos);
    EXPECT_EQ(fake.state().accessCount, 0u);
}
