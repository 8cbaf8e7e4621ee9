#include "service/service_control.h"

#include <gmock/gmock.h>

namespace service {
namespace {

using ::testing::ElementsAre;

TEST(ServiceControl, OnlyStopIsActedOnAndUnknownControlsAreBadRequests) {
    EXPECT_EQ(controlAction(1), ControlAction::Stop);
    for (std::uint32_t ignored : {2u, 3u, 4u, 5u})
        EXPECT_EQ(controlAction(ignored), ControlAction::Ignore) << ignored;
    for (std::uint32_t unknown : {0u, 6u, 128u, 0xFFFFFFFFu})
        EXPECT_EQ(controlAction(unknown), ControlAction::BadRequest) << unknown;
    EXPECT_EQ(eventText(std::string(300, 'x')).size(), kEventTextLimit);
}

TEST(ServiceControl, TheManagerHearsEachStateAndTheEventsComeInTheirPlace) {
    std::vector<std::string> seen;
    ServiceLifecycle life({
        [&](ServiceState state, std::uint32_t code) {
            seen.push_back("state " + std::to_string(std::uint32_t(state)) + " exit " +
                           std::to_string(code));
        },
        [&](const std::string& text) { seen.push_back(text); },
    });
    life.starting();
    life.running();
    life.running(); // only from start-pending
    life.badRequest();
    life.stopping();
    life.stopped(5);
    EXPECT_THAT(seen, ElementsAre("state 2 exit 0", "Service started/resumed", "state 4 exit 0",
                                  "Bad service request", "state 3 exit 0", "state 1 exit 5",
                                  "Service stopped"));

    // A stop before the class object was offered: never reported as running.
    seen.clear();
    life.starting();
    life.stopping();
    life.running();
    EXPECT_EQ(life.state(), ServiceState::StopPending);
    EXPECT_THAT(seen, ElementsAre("state 2 exit 0", "state 3 exit 0"));
}

} // namespace
} // namespace service
