#include "board/acpi_items.h"
#include "board/bios_item_registry.h"
#include "commands.h"
#include "fake_acpi_bridge.h"
#include "item_commands.h"
#include "test_environment.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

using namespace testing_support;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class ItemCommands : public ::testing::Test {
protected:
    void SetUp() override {
        publishGroup(bridge, 0x06, {numberDescriptor(0x06030012, 0, 1, 3)});
        publishGroup(bridge, 0x13,
                     {numberDescriptor(0x13060040, 0, 1, 2, {"Auto"}),
                      numberDescriptor(0x13060042, 0, 1, 0x10000),
                      stringDescriptor(0x13080050, {"Low", "High"}), booleanDescriptor(0x13070051),
                      numberDescriptor(0x130D0052, 0xFF00000F, 5, 1),
                      numberDescriptor(0x13060043, 0, 1, 0xFFFFFFFF)});
        bridge.values[0x06030012] = 412;
    }

    Result run(std::vector<std::string> words, bool json = false) {
        std::ostringstream out, err;
        words.insert(words.begin(), "item");
        const int status = lumivanectl::runItemCommand(words, json, out, err, registry);
        return {status, out.str(), err.str()};
    }

    FakeAcpiBridge bridge;
    board::AcpiItemLibrary library{bridge};
    board::BiosItemRegistry registry{library};
};

} // namespace

TEST_F(ItemCommands, ListShowsEveryItemWithItsOptionTexts) {
    Result result = run({"list", "0x13"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "group 0x13: 6 items\n"));
    EXPECT_TRUE(contains(result.out, "0x13060040  number  count 3\n  0: Auto\n  1: 0\n  2: 1\n"));
    EXPECT_TRUE(contains(result.out, "0x13080050  string  count 2\n  0: Low\n  1: High\n"));
    EXPECT_TRUE(contains(result.out, "0x13070051  boolean  count 0\n0x130D0052  composite"));
    // A long range shows its ends.
    EXPECT_TRUE(contains(result.out, "0x13060042  number  count 65536\n  0: 0\n"));
    EXPECT_TRUE(contains(result.out, "  15: 15\n  ... 65519 more\n  65535: 65535\n"));
    EXPECT_FALSE(contains(result.out, "  16: 16\n"));
    // The largest count there is shows its ends as well.
    EXPECT_TRUE(
        contains(result.out, "  15: 15\n  ... 4294967278 more\n  4294967294: 4294967294\n"));
    EXPECT_TRUE(result.err.empty());

    // Kind 3 is counted in tenths.
    result = run({"list", "6"}, true);
    ASSERT_EQ(result.status, 0) << result.err;
    const nlohmann::json options = {{{"index", 0}, {"text", "0.0"}},
                                    {{"index", 1}, {"text", "0.1"}},
                                    {{"index", 2}, {"text", "0.2"}}};
    const nlohmann::json item = {
        {"id", 0x06030012}, {"kind", "number"}, {"count", 3}, {"options", options}};
    EXPECT_EQ(nlohmann::json::parse(result.out),
              (nlohmann::json{{"group", 6}, {"items", nlohmann::json::array({item})}}));
}

TEST_F(ItemCommands, GetAndSetGoThroughTheItems) {
    Result result = run({"get", "0x06030012"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "412\n");
    // The registry ignores the kind nibble; so does the tool.
    EXPECT_EQ(nlohmann::json::parse(run({"get", "0x06000012"}, true).out),
              (nlohmann::json{{"id", 0x06000012}, {"value", 412}}));

    result = run({"set", "0x13060040", "0", "1"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "item 0x13060040 set to 0 (control 1)\n");
    EXPECT_EQ(run({"set", "0x13060041", "1"}).status, 1); // not listed
    EXPECT_EQ(run({"set", "0x13060042", "0x00FF0001"}).status, 0);
    EXPECT_EQ(bridge.writes, (std::vector<std::vector<std::uint32_t>>{
                                 {0x13060040, 0, 1}, {0x13060042, 0x00FF0001, 1}}));

    result = run({"set", "0x130D0052", "1"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "composite"));
}

TEST_F(ItemCommands, FailuresSayWhatIsWrong) {
    Result result = run({"get", "0x13060099"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "lumivanectl: item 0x13060099 is not listed in group 0x13\n");

    result = run({"get", "0x20000001"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(
        contains(result.err, "group 0x20 has no items: the ACPI bridge \"tavlexCom.axdata\""));
    EXPECT_EQ(run({"list", "0x20"}).status, 1);

    bridge.values.erase(0x06030012);
    result = run({"get", "0x06030012"});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "reading item 0x06030012 failed"));

    for (auto words : std::vector<std::vector<std::string>>{
             {"list", "0x100"}, {"list"}, {"get", "twelve"}, {"set", "1"}, {"frob"}, {}}) {
        result = run(words);
        EXPECT_EQ(result.status, 2) << result.err;
        EXPECT_TRUE(contains(result.err, "usage: lumivanectl [--json] item list GROUP"));
    }
    EXPECT_TRUE(result.out.empty());
}

// Through the tool's own entry, over the platform's bridge: there is none here.
TEST(ItemCommandLine, WithoutABridgeTheToolFails) {
#ifndef _WIN32
    ScopedEnvironment bus("LUMIVANE_BUS", "nowhere");
#endif
    std::ostringstream out, err;
    const int status = lumivanectl::run({"item", "get", "0x06030012"}, out, err,
                                        lumivanectl::processBoardAccess());
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(contains(err.str(), "not reachable")) << err.str();
    std::ostringstream help, none;
    EXPECT_EQ(lumivanectl::run({"--help"}, help, none, lumivanectl::processBoardAccess()), 0);
    EXPECT_TRUE(contains(help.str(), "item set ID VALUE [CONTROL]"));
}
