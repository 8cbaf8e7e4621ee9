// The service's D-Bus object in the test's process, on a private bus: whatever a
// member's work throws comes back to the client as an error reply, and the process
// that serves it goes on.

#include "dbus/light_control_proxy.h"
#include "led_controller_fixture.h"
#include "private_bus.h"
#include "service/light_control_object_linux.h"

#include <gmock/gmock.h>

namespace {

using namespace led_testing;

constexpr const char* kName = "Lumivane.LightControl.Test";

class LightControlProxy final : public sdbus::ProxyInterfaces<Lumivane::ILightControl_proxy> {
public:
    explicit LightControlProxy(sdbus::IConnection& connection)
        : ProxyInterfaces(connection, kName, service::LightControlObject::kObjectPath) {
        registerProxy();
    }
    ~LightControlProxy() { unregisterProxy(); }
};

TEST_F(ControllerTest, AMemberThatThrowsAnswersWithAnErrorAndTheServiceGoesOn) {
    testing_support::PrivateBus bus;
    ASSERT_TRUE(bus.running());
    auto controller =
        makeController(kPeriod, {}, [] { return std::make_unique<UnstartableCapture>(); });

    auto serving = sdbus::createSessionBusConnection(kName);
    service::LightControlObject object(*serving, service::LightControl(*controller));
    serving->enterEventLoopAsync();

    auto calling = sdbus::createSessionBusConnection();
    LightControlProxy client(*calling);
    try {
        client.Mode(1); // the music effect's capture throws std::system_error
        ADD_FAILURE() << "the put succeeded";
    } catch (const sdbus::Error& error) {
        EXPECT_EQ(error.getName(), service::LightControlObject::kFailedError);
        EXPECT_THAT(error.getMessage(), ::testing::HasSubstr(UnstartableCapture::kWhat));
    }
    EXPECT_FALSE(controller->musicEffect().running());
    // Still serving: the next calls are answered.
    client.Mode(2);
    EXPECT_EQ(client.Mode(), 2);
    EXPECT_TRUE(controller->thermalThreadRunning());
    client.Mode(0);
    serving->leaveEventLoop();
}

} // namespace
