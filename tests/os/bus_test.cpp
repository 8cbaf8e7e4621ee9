#include "os/bus_linux.h"
#include "test_environment.h"

#include <gtest/gtest.h>
#include <string>

using testing_support::ScopedEnvironment;

// Clients and servers must land on the same bus, or a bridge or service started by
// activation would be looked for on the other one.
TEST(ChosenBus, FollowsTheSettingThenTheStarterAndRefusesAnythingElse) {
    ScopedEnvironment starter("DBUS_STARTER_BUS_TYPE", std::nullopt);
    {
        ScopedEnvironment bus("LUMIVANE_BUS", std::nullopt);
        EXPECT_EQ(os::chosenBus(), os::Bus::System);
        ScopedEnvironment started("DBUS_STARTER_BUS_TYPE", "session");
        EXPECT_EQ(os::chosenBus(), os::Bus::Session);
    }
    {
        ScopedEnvironment bus("LUMIVANE_BUS", "system");
        ScopedEnvironment started("DBUS_STARTER_BUS_TYPE", "session");
        EXPECT_EQ(os::chosenBus(), os::Bus::System);
    }
    ScopedEnvironment bus("LUMIVANE_BUS", "Session");
    try {
        os::connectToBus();
        FAIL() << "a bus was chosen for 'Session'";
    } catch (const os::BusChoiceError& error) {
        EXPECT_EQ(std::string(error.what()), "LUMIVANE_BUS is system or session, not 'Session'");
    }
}
