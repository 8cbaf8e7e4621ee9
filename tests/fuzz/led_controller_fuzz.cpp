// The automation interface's inputs as the lighting controller takes them: any
// sequence of 16- and 32-bit mode and colour values. The mode is always one of
// off, music and temperature, a fresh process reads the same mode from the file,
// and the colour is only kept. No board is present, so no effect reaches the LEDs.
//
// Input: records of u8 operation and u32 value.

#include "audio/loopback_capture.h"
#include "board/acpi_items.h"
#include "board/bios_item_registry.h"
#include "fake_acpi_bridge.h"
#include "fuzz_input.h"
#include "os/diagnostics.h"
#include "service/led_controller.h"
#include "settings/lighting_settings.h"
#include "settings/settings_document.h"
#include "test_environment.h"

#include <mutex>

namespace {

using service::LedController;

// The item store, serialised against the thermal thread's reads.
class LockedBridge : public board::BridgeTransport {
public:
    LockedBridge() {
        testing_support::publishGroup(
            fake_, 0x06,
            {testing_support::numberDescriptor(board::kCpuTemperatureItem, 0, 1, 1200)});
        testing_support::publishGroup(
            fake_, 0x13,
            {testing_support::numberDescriptor(board::kLightingEnableItem, 0, 1, 2),
             testing_support::numberDescriptor(board::kLightingControlItem, 0, 1, 2)});
        fake_.values[board::kCpuTemperatureItem] = 450;
    }
    std::unique_ptr<board::BridgeSession> open(board::BridgeStatus& status) override {
        std::lock_guard lock(mutex_);
        auto inner = fake_.open(status);
        return inner ? std::make_unique<Session>(*this, std::move(inner)) : nullptr;
    }

private:
    class Session : public board::BridgeSession {
    public:
        Session(LockedBridge& bridge, std::unique_ptr<board::BridgeSession> inner)
            : bridge_(bridge), inner_(std::move(inner)) {}
        board::BridgeStatus invoke(std::string_view method,
                                   std::span<board::BridgeArgument> arguments) override {
            std::lock_guard lock(bridge_.mutex_);
            return inner_->invoke(method, arguments);
        }

    private:
        LockedBridge& bridge_;
        std::unique_ptr<board::BridgeSession> inner_;
    };

    std::mutex mutex_;
    testing_support::FakeAcpiBridge fake_;
};

class DiscardingOutput : public service::ColorOutput {
public:
    void write(const service::Rgb&) override {}
};

struct Harness {
    testing_support::TemporaryDirectory directory;
    std::filesystem::path file = directory.path() / settings::LightingSettings::kFileName;
    LockedBridge bridge;
    board::AcpiItemLibrary library{bridge};
    board::BiosItemRegistry registry{library};
    std::unique_ptr<settings::LightingSettings> settings;
    std::unique_ptr<LedController> controller;

    Harness() {
        // No board: no firmware tables, no I/O library, no audio server.
        std::filesystem::create_directories(directory.path() / "empty");
        const std::string empty = (directory.path() / "empty").string();
        testing_support::setEnvironment("LUMIVANE_FIRMWARE_DIR", empty);
        testing_support::setEnvironment("LUMIVANE_HWIO_DIR", empty);
        testing_support::setEnvironment("PULSE_SERVER", "unix:/nonexistent/lumivane");
        os::setDiagnosticSink([](const os::Diagnostic&) {});
        service::setCapturePrintSink([](const std::string&) {});
        settings = std::make_unique<settings::LightingSettings>(file);
        LedController::Collaborators parts{
            *settings,
            registry,
            [] {
                return std::make_unique<service::MusicEffect>(
                    service::CaptureEndpoint::RenderLoopback, std::make_unique<DiscardingOutput>(),
                    [](const std::function<void()>& work) { work(); });
            },
            std::chrono::milliseconds(5),
        };
        parts.makeStopEvent = [] {
            return std::make_unique<os::Event>(os::Event::Reset::Automatic, false);
        };
        controller = std::make_unique<LedController>(std::move(parts));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Never destroyed: its threads would otherwise race the static teardown.
    static Harness* harness = new Harness;
    LedController& controller = *harness->controller;
    fuzzing::FuzzInput input(data, size);
    std::uint32_t color = controller.getColor();
    for (int step = 0; step < 32 && !input.empty(); ++step) {
        const std::uint8_t operation = input.u8();
        const std::uint32_t raw = input.u32();
        switch (operation & 3) {
        case 0:
        case 1: {
            // A 16-bit argument arrives sign-extended, as automation widens a short.
            const std::int32_t requested =
                operation & 1 ? std::int32_t(std::int16_t(raw)) : std::int32_t(raw);
            controller.setMode(requested);
            const std::int32_t mode = controller.getMode();
            FUZZ_CHECK(mode == LedController::kModeOff || mode == LedController::kModeMusic ||
                       mode == LedController::kModeTemperature);
            FUZZ_CHECK(mode == requested || mode == LedController::kModeOff);
            break;
        }
        case 2:
            color = raw;
            controller.setColor(color);
            break;
        default:
            color = raw & 0xFFFF;
            controller.setColor(color);
            break;
        }
        FUZZ_CHECK(controller.getColor() == color);
    }
    FUZZ_CHECK(settings::SettingsDocument().load(harness->file, false));
    FUZZ_CHECK(settings::LightingSettings(harness->file).getMode() == controller.getMode());
    return 0;
}
