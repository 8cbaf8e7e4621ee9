// lumivanectl as the lighting service's client, run as a user runs it, against the
// service the bus starts from the build tree's activation file.

#include "board/ec_led_port.h"
#include "board/smbios.h"
#include "eventually.h"
#include "service_bus_fixture.h"
#include "virtualboard/firmware.h"

#include <cstdio>
#include <gmock/gmock.h>
#include <nlohmann/json.hpp>
#include <sys/wait.h>

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
};

// Standard error is left to the test's log; only the output is read.
ToolRun lumivanectl(const std::string& args) {
    ToolRun run;
    const std::string tool = (vbtest::binaryDirectory() / LUMIVANE_LUMIVANECTL).string();
    FILE* pipe = popen((tool + " " + args).c_str(), "r");
    if (!pipe)
        return run;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        run.out += buffer;
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

using LumivanectlService = service_testing::ServiceBusTest;

TEST_F(LumivanectlService, SetsTheModeAndReportsTheServiceState) {
    {
        // No activation file for the service on this bus: nobody answers.
        testing_support::PrivateBus empty;
        ASSERT_TRUE(empty.running());
        const ToolRun absent = lumivanectl("status --json");
        EXPECT_EQ(absent.status, 1);
        // The board answers without the service, and without its bridge on this bus.
        const nlohmann::json state = nlohmann::json::parse(absent.out);
        EXPECT_EQ(state.at("service"), false);
        EXPECT_FALSE(state.contains("mode"));
        EXPECT_EQ(state.at("board"), board::kSupportedBoard);
        EXPECT_EQ(state.at("leds"), nullptr);
        EXPECT_EQ(lumivanectl("mode music").status, 1);
    }

    const ToolRun set = lumivanectl("mode music");
    ASSERT_EQ(set.status, 0);
    EXPECT_EQ(set.out, "mode 1 (music)\n");
    ASSERT_EQ(lumivanectl("color 0xFF8000").status, 0);

    const ToolRun status = lumivanectl("status --json");
    ASSERT_EQ(status.status, 0);
    const nlohmann::json state = nlohmann::json::parse(status.out);
    EXPECT_EQ(state.at("service"), true);
    EXPECT_EQ(state.at("mode"), 1);
    EXPECT_EQ(state.at("color"), 0xFF8000);
    EXPECT_EQ(state.at("lighting"), "on");
    EXPECT_EQ(state.at("leds"), "software");
    EXPECT_EQ(storedMode(), 1);

    // An unknown mode is the service's to turn into off.
    EXPECT_EQ(lumivanectl("mode 7").out, "mode 0 (off)\n");
    EXPECT_EQ(lumivanectl("mode sparkle").status, 2);
}

TEST_F(LumivanectlService, TheServicesTemperatureEffectShowsOnTheBoard) {
    ASSERT_EQ(lumivanectl("mode temperature").status, 0);
    // 38.7 degrees, in whole degrees as the effect shows them.
    const board::LedColor expected = board::EcLedPort::temperatureColor(38);
    const virtualboard::LedColor shown{expected.red, expected.green, expected.blue};
    EXPECT_TRUE(testing_support::eventually([&] { return board->readout().ledColor() == shown; }));
    EXPECT_EQ(board->readout().ledView().source, virtualboard::LedView::Source::Software);
    EXPECT_EQ(board->items().find(virtualboard::kLightingControlItem)->value, 1u);
}

} // namespace
