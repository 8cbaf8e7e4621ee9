// Round trips to the lighting service on D-Bus: Mode put (of the mode already stored,
// which saves nothing since issue 30; before, every put saved and synced Lighting.xml)
// and Color get, through the generated proxy, against
// the real daemon started by a private bus on a virtual board. The daemon runs from a
// scratch copy, so the build tree's Lighting.xml is left alone.
//
//   build/linux/bin/light_control_bench [calls]

#include "dbus/light_control_proxy.h"
#include "os/executable.h"
#include "private_bus.h"
#include "round_trips.h"
#include "virtualboard/board.h"

#include <cstdlib>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class LightControl final : public sdbus::ProxyInterfaces<Lumivane::ILightControl_proxy> {
public:
    explicit LightControl(sdbus::IConnection& connection)
        : ProxyInterfaces(connection, "Lumivane.LightControl", "/LightControl") {
        registerProxy();
    }
    ~LightControl() { unregisterProxy(); }
};

} // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    const fs::path bin = os::executablePath().value_or("x").parent_path();
    testing_support::TemporaryDirectory dir;
    for (const char* file : {"lumivane", "libhwio.so", "HwIO.so"})
        fs::copy_file(bin / file, dir.path() / file);
    const fs::path services = dir.path() / "share/dbus-1/services";
    fs::create_directories(services);
    fs::copy_file(fs::path(LUMIVANE_BUS_DATA_DIR) / "dbus-1/services/tavlexCom.axdata.service",
                  services / "tavlexCom.axdata.service");
    std::ofstream(services / "Lumivane.LightControl.service")
        << "[D-BUS Service]\nName=Lumivane.LightControl\nExec="
        << (dir.path() / "lumivane").string() << "\n";

    virtualboard::BoardOptions options;
    options.hostTemperature = false;
    auto board =
        virtualboard::Board::create(dir.path() / "board.img", options, dir.path() / "firmware");
    testing_support::ScopedEnvironment image("VBOARD_IMAGE", (dir.path() / "board.img").string());
    testing_support::ScopedEnvironment firmware("LUMIVANE_FIRMWARE_DIR",
                                                (dir.path() / "firmware").string());
    testing_support::ScopedEnvironment hwio("LUMIVANE_HWIO_DIR", dir.path().string());
    testing_support::ScopedEnvironment pulse("PULSE_SERVER", "unix:/nonexistent/lumivane");
    testing_support::PrivateBus bus(dir.path() / "share");
    if (!bus.running()) {
        std::fprintf(stderr, "light_control_bench: dbus-daemon did not start\n");
        return 1;
    }

    auto connection = sdbus::createSessionBusConnection();
    LightControl service(*connection);
    volatile std::uint32_t color = 0;
    bench_support::printRoundTrips(
        "D-Bus", "Mode put", calls,
        bench_support::timeRoundTrips(calls, [&](int) { service.Mode(0); }));
    bench_support::printRoundTrips(
        "D-Bus", "Color get", calls,
        bench_support::timeRoundTrips(calls, [&](int) { color = service.Color(); }));
    return 0;
}
