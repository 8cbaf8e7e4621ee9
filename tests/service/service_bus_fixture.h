#pragma once

// A virtual board and a bus of the test's own whose activation files (the build
// tree's) start the bridge stand-in and the lighting service on the first call.
// The service keeps its Lighting.xml beside its executable, which is the build
// tree's: each test starts without one and leaves the file as it found it (the
// tests that use it hold the lock lumivane_service_settings).

#include "bridge_bus_fixture.h"
#include "settings/lighting_settings.h"

#include <fstream>
#include <iterator>
#include <optional>
#include <sdbus-c++/sdbus-c++.h>
#include <string>

namespace service_testing {

inline constexpr const char* kName = "Lumivane.LightControl";
inline constexpr const char* kPath = "/LightControl";
inline constexpr const char* kInterface = "Lumivane.ILightControl";

class ServiceBusTest : public vbtest::BridgeBusTest {
protected:
    void SetUp() override {
        if (std::ifstream in{settingsFile(), std::ios::binary})
            saved_.emplace(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::filesystem::remove(settingsFile());
        createBoardAndBus(387);
    }
    void TearDown() override {
        bus.reset(); // the service ends with its bus
        std::filesystem::remove(settingsFile());
        if (saved_)
            std::ofstream(settingsFile(), std::ios::binary) << *saved_;
    }

    static std::filesystem::path settingsFile() {
        return vbtest::binaryDirectory() / settings::LightingSettings::kFileName;
    }
    // What the service would read on its next start.
    static std::int32_t storedMode() {
        return settings::LightingSettings(settingsFile()).getMode();
    }

    static bool nameHasOwner(sdbus::IConnection& connection) {
        auto bus = sdbus::createProxy(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
        bool owned = false;
        bus->callMethod("NameHasOwner")
            .onInterface("org.freedesktop.DBus")
            .withArguments(std::string(kName))
            .storeResultsTo(owned);
        return owned;
    }

private:
    // The I/O library the service loads is the one built beside it; the music
    // effect's capture has no server to reach.
    testing_support::ScopedEnvironment hwio_{"LUMIVANE_HWIO_DIR",
                                             vbtest::binaryDirectory().string()};
    testing_support::ScopedEnvironment pulse_{"PULSE_SERVER", "unix:/nonexistent/lumivane"};
    std::optional<std::string> saved_;
};

} // namespace service_testing
