// The vboard tool: as a program from the build tree, and in-process for its output.

#include "board_fixture.h"
#include "run_program.h"
#include "vboard.h"
#include "virtualboard/hwio_install.h"

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun vboard(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int status = vboard::runVboard(args, out, err);
    return {status, out.str(), err.str()};
}

class VboardTool : public vbtest::BoardTest {
protected:
    std::filesystem::path image() const { return directory.path() / "tool.img"; }
    ToolRun onImage(std::vector<std::string> args) {
        args.insert(args.begin(), {"--image", image().string()});
        return vboard(args);
    }
};

TEST_F(VboardTool, ShowReportsTheColorAnotherProgramWrote) {
    const auto bin = vbtest::binaryDirectory();
    const auto firmware = directory.path() / "fw";
    const auto libraries = directory.path() / "lib";
    ASSERT_EQ(vbtest::runProgram(bin / LUMIVANE_VBOARD,
                                 {"--image", image().string(), "create", "--firmware-dir",
                                  firmware.string(), "--hwio-dir", libraries.string()}),
              0);
    EXPECT_TRUE(std::filesystem::exists(firmware / "dmi" / "tables" / "DMI"));
    EXPECT_TRUE(std::filesystem::exists(libraries / virtualboard::hwioSystemName()));

    testing_support::ScopedEnvironment current("VBOARD_IMAGE", image().string());
    ASSERT_EQ(vbtest::runProgram(bin / LUMIVANE_COLOR_WRITER, {"0x12", "0x34", "0x56"}), 0);

    ToolRun show = vboard({"show", "--json"});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_THAT(show.out, HasSubstr("\"product\": \"XR40-SUMMIT\""));
    EXPECT_THAT(show.out, HasSubstr("\"red\": 18,\n    \"green\": 52,\n    \"blue\": 86"));
    EXPECT_THAT(show.out, HasSubstr("\"ecTransactions\": 6,"));
    EXPECT_THAT(show.out, HasSubstr("\"ecProtocolErrors\": 0,"));

    ToolRun human = vboard({"show"});
    EXPECT_THAT(human.out, HasSubstr("red 0x12  green 0x34  blue 0x56"));

    ToolRun trace = vboard({"trace", "--last", "3"});
    EXPECT_EQ(std::count(trace.out.begin(), trace.out.end(), '\n'), 3);
    EXPECT_THAT(trace.out, HasSubstr("register 0x00:0x5B 0x00 -> 0x56"));

    ToolRun monitor = vboard({"monitor", "--frames", "3", "--rate", "1000"});
    EXPECT_EQ(monitor.status, 0);
    std::string swatch = "\x1b[48;2;18;52;86m";
    std::size_t frames = 0;
    for (auto at = monitor.out.find(swatch); at != std::string::npos;
         at = monitor.out.find(swatch, at + 1))
        ++frames;
    EXPECT_EQ(frames, 3u);
}

TEST_F(VboardTool, CreateOptionsAndKnobsReachTheImage) {
    ToolRun created =
        onImage({"create", "--product", "OTHER-BOARD", "--baseboards", "2", "--busy", "reads:4",
                 "--no-table-service", "--open-fails", "--missing-export", "HWIO_MapMem",
                 "--firmware-dir", (directory.path() / "fw").string()});
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_THAT(created.out, HasSubstr("LUMIVANE_FIRMWARE_DIR="));
    EXPECT_TRUE(std::filesystem::is_empty(directory.path() / "fw"));

    auto board = virtualboard::Board::open(image());
    EXPECT_EQ(board->facts().productName, "OTHER-BOARD");
    EXPECT_EQ(board->facts().baseboards, 2);
    EXPECT_EQ(board->readout().ec().busyReadsLeft, 4u);
    EXPECT_TRUE(board->hardware().openFails());
    EXPECT_EQ(board->facts().missingExport, "HWIO_MapMem");

    EXPECT_EQ(onImage({"set", "busy", "always"}).status, 0);
    EXPECT_EQ(board->readout().ec().busyMode, virtualboard::BusyMode::Always);
    EXPECT_EQ(onImage({"set", "open-fails", "off"}).status, 0);
    EXPECT_FALSE(board->hardware().openFails());
    EXPECT_EQ(onImage({"set", "register", "0", "0x5D", "200"}).status, 0);
    EXPECT_EQ(board->readout().ledColor().green, 200);
    EXPECT_EQ(onImage({"set", "lock-word", "3"}).status, 0);
    EXPECT_EQ(board->readout().globalLockWord(), 3u);
    EXPECT_THAT(onImage({"show", "--json"}).out, HasSubstr("\"pending\": true"));

    ToolRun env = onImage({"env"});
    EXPECT_THAT(env.out, HasSubstr("export VBOARD_IMAGE='"));
}

TEST_F(VboardTool, BadRequestsAreRefusedAndChangeNothing) {
    ASSERT_EQ(onImage({"create"}).status, 0);
    auto board = virtualboard::Board::open(image());

    ToolRun unknown = onImage({"frobnicate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_THAT(unknown.err, HasSubstr("unknown command"));
    EXPECT_EQ(onImage({"set", "busy", "sometimes"}).status, 2);
    EXPECT_EQ(onImage({"set", "register", "0", "0x153", "1"}).status, 2);
    EXPECT_EQ(onImage({"show", "--jsn"}).status, 2);
    EXPECT_EQ(board->readout().ec().busyMode, virtualboard::BusyMode::Never);

    ToolRun overlapping = onImage({"create", "--table-address", "0xFDAE0100"});
    EXPECT_EQ(overlapping.status, 1);
    EXPECT_THAT(overlapping.err, HasSubstr("overlap"));
    EXPECT_FALSE(board->superseded()) << "a refused board must not replace the old one";

    ToolRun missing = vboard({"--image", (directory.path() / "none.img").string(), "show"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("cannot open board image"));
    EXPECT_THAT(vboard({}).err, HasSubstr("usage: vboard"));

    // Not an image, and an image cut short: refused, not mapped and read past.
    std::filesystem::path damaged = directory.path() / "damaged.img";
    std::filesystem::copy_file(image(), damaged);
    std::filesystem::resize_file(damaged, 64 * 1024);
    ToolRun cut = vboard({"--image", damaged.string(), "show"});
    EXPECT_EQ(cut.status, 1);
    EXPECT_THAT(cut.err, HasSubstr("damaged"));
    std::filesystem::resize_file(damaged, 16);
    EXPECT_THAT(vboard({"--image", damaged.string(), "show"}).err, HasSubstr("not a board image"));
}

} // namespace

namespace {

TEST_F(VboardTool, FirmwareKnobsReachTheImageAndBadOnesAreRefused) {
    ASSERT_EQ(onImage({"create", "--firmware-drives", "--temperature", "377"}).status, 0);
    auto board = virtualboard::Board::open(image());
    EXPECT_EQ(board->items().read(0x06030012), 377u);
    EXPECT_EQ(board->readout().ledView().source, virtualboard::LedView::Source::Firmware);

    EXPECT_EQ(onImage({"set", "item", "0x13060042", "0x00FF0001"}).status, 0);
    EXPECT_THAT(onImage({"show"}).out, HasSubstr("red 0x00  green 0xFF  blue 0x00  (firmware"));
    EXPECT_EQ(onImage({"set", "malformed", "0x13060040", "nul"}).status, 0);
    EXPECT_EQ(onImage({"set", "shorten", "16"}).status, 0);
    EXPECT_EQ(onImage({"set", "unknown-method", "iAcpiGGrp"}).status, 0);
    EXPECT_EQ(onImage({"set", "fail-group", "0x06"}).status, 0);
    EXPECT_EQ(onImage({"set", "bridge", "offline"}).status, 0);
    const virtualboard::BridgeFaults faults = board->bridge().faults();
    EXPECT_EQ(faults.malformedItem, 0x13060040u);
    EXPECT_EQ(faults.malformedKind, std::uint32_t(virtualboard::MalformedKind::StringNul));
    EXPECT_EQ(faults.shortenTo, 16u);
    EXPECT_STREQ(faults.unknownMethod, "iAcpiGGrp");
    EXPECT_EQ(faults.failGroup, 6u);
    EXPECT_EQ(faults.offline, 1u);
    EXPECT_THAT(onImage({"show", "--json"}).out, HasSubstr("\"lengths shortened to 16\""));

    // Refused, and nothing changes.
    EXPECT_EQ(onImage({"set", "item", "0x13060099", "1"}).status, 2);
    EXPECT_EQ(onImage({"set", "unknown-method", "iAcpiFrob"}).status, 2);
    EXPECT_EQ(onImage({"set", "malformed", "0x13060040", "twisted"}).status, 2);
    EXPECT_EQ(onImage({"set", "fail-group", "0x100"}).status, 2);
    EXPECT_STREQ(board->bridge().faults().unknownMethod, "iAcpiGGrp");
    EXPECT_EQ(board->bridge().faults().malformedKind,
              std::uint32_t(virtualboard::MalformedKind::StringNul));

    EXPECT_EQ(onImage({"set", "temperature", "host"}).status, 0);
    EXPECT_TRUE(board->items().hostTemperature());
}

TEST_F(VboardTool, JsonShowsEveryByteOfTheBoardsText) {
    // A product name is bytes, not UTF-8: each byte shows as the character of its value.
    ASSERT_EQ(onImage({"create", "--product", "XR40-\xE9"}).status, 0);
    ToolRun show = onImage({"show", "--json"});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_EQ(nlohmann::json::parse(show.out)["product"], "XR40-\xC3\xA9");
}

TEST_F(VboardTool, HelpListsEveryCommandAndOption) {
    ToolRun help = vboard({"help"});
    EXPECT_EQ(help.status, 0);
    for (const char* entry :
         {"create [OPTIONS]", "--missing-export NAME", "show [--json]", "items [--json]",
          "calls [--json] [--last N]", "trace [--json] [--last N]", "monitor [--rate HZ]",
          "set KNOB", "malformed ID count|length|nul|none", "delay MS", "bridge", "--unregister",
          "env"})
        EXPECT_THAT(help.out, HasSubstr(entry));
}

} // namespace
