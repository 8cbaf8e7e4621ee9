#pragma once

// A controller over a scratch Lighting.xml, an in-memory firmware item store and a
// music effect that writes nowhere, on a virtual board shared by the whole program
// (the I/O binding and the firmware table cache are process-wide).

#include "board/acpi_items.h"
#include "board/bios_item_registry.h"
#include "eventually.h"
#include "fake_acpi_bridge.h"
#include "os/diagnostics.h"
#include "os/executable.h"
#include "service/led_controller.h"
#include "settings/lighting_settings.h"
#include "test_environment.h"
#include "virtualboard/board.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace led_testing {

using namespace std::chrono_literals;

using testing_support::eventually;

inline virtualboard::Board& sharedBoard() {
    static auto* dir = new testing_support::TemporaryDirectory;
    static auto* image = new testing_support::ScopedEnvironment(
        "VBOARD_IMAGE", (dir->path() / "board.img").string());
    static auto* firmware = new testing_support::ScopedEnvironment(
        "LUMIVANE_FIRMWARE_DIR", (dir->path() / "firmware").string());
    static auto* library = new testing_support::ScopedEnvironment(
        "LUMIVANE_HWIO_DIR", os::executablePath().value().parent_path().string());
    // Nowhere for the music effect's capture to connect.
    static auto* noServer =
        new testing_support::ScopedEnvironment("PULSE_SERVER", "unix:/nonexistent/lumivane");
    static std::unique_ptr<virtualboard::Board> board =
        virtualboard::Board::create(dir->path() / "board.img", {}, dir->path() / "firmware");
    (void)image, (void)firmware, (void)library, (void)noServer;
    return *board;
}

// The fake item store, safe against the thermal thread reading while a test changes
// a value.
class SharedBridge : public board::BridgeTransport {
public:
    SharedBridge() {
        testing_support::publishGroup(
            fake_, 0x06,
            {testing_support::numberDescriptor(board::kCpuTemperatureItem, 0, 1, 1200)});
        testing_support::publishGroup(
            fake_, 0x13,
            {testing_support::numberDescriptor(board::kLightingEnableItem, 0, 1, 2),
             testing_support::numberDescriptor(board::kLightingControlItem, 0, 1, 2)});
    }

    void setValue(std::uint32_t id, std::uint32_t value) {
        std::lock_guard lock(mutex_);
        fake_.values[id] = value;
    }
    void removeValue(std::uint32_t id) {
        std::lock_guard lock(mutex_);
        fake_.values.erase(id);
    }
    std::vector<std::vector<std::uint32_t>> writes() {
        std::lock_guard lock(mutex_);
        return fake_.writes;
    }
    std::size_t reads(std::uint32_t id) {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const auto& call : fake_.calls())
            n += call.method == "iAcpiGetItem" && call.arguments.at(0).value == id;
        return n;
    }

    // Runs before each item read, outside the store's lock: a window thread's
    // outgoing call pumps messages, and the hook plays one arriving then.
    std::function<void(std::uint32_t id)> beforeRead;

    std::unique_ptr<board::BridgeSession> open(board::BridgeStatus& status) override {
        std::lock_guard lock(mutex_);
        auto inner = fake_.open(status);
        return inner ? std::make_unique<Session>(*this, std::move(inner)) : nullptr;
    }

private:
    class Session : public board::BridgeSession {
    public:
        Session(SharedBridge& bridge, std::unique_ptr<board::BridgeSession> inner)
            : bridge_(bridge), inner_(std::move(inner)) {}
        board::BridgeStatus invoke(std::string_view method,
                                   std::span<board::BridgeArgument> arguments) override {
            if (bridge_.beforeRead && method == "iAcpiGetItem" && !arguments.empty())
                if (const auto* id = std::get_if<board::BridgeIn>(&arguments[0]))
                    bridge_.beforeRead(id->value);
            std::lock_guard lock(bridge_.mutex_);
            return inner_->invoke(method, arguments);
        }

    private:
        SharedBridge& bridge_;
        std::unique_ptr<board::BridgeSession> inner_;
    };

    std::mutex mutex_;
    testing_support::FakeAcpiBridge fake_;
};

// The music effect's colours go nowhere; only whether it runs matters here.
class DiscardingOutput : public service::ColorOutput {
public:
    void write(const service::Rgb&) override {}
};

// A capture whose start fails the way std::thread does when no thread can be made.
class UnstartableCapture final : public service::CaptureSource {
public:
    static constexpr const char* kWhat = "no thread for the capture";
    void setCallback(service::PacketCallback) override {}
    void setRunEndedCallback(service::RunEndedCallback) override {}
    void start() override {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                kWhat);
    }
    void stop() override {}
    bool waitStreaming(std::uint32_t) const override { return false; }
    std::int32_t result() const override { return 0; }
    std::uint32_t frameCount() const override { return 0; }
};

class ControllerTest : public ::testing::Test {
protected:
    static constexpr auto kPeriod = 20ms;

    ControllerTest() {
        sharedBoard();
        service::setCapturePrintSink([](const std::string&) {});
    }

    std::filesystem::path settingsFile() const { return dir.path() / "Lighting.xml"; }
    // What a fresh process would read from the file.
    std::int32_t storedMode() const { return settings::LightingSettings(settingsFile()).getMode(); }

    // makeCapture: the music effect's capture; by default this process's loopback,
    // which finds no server here.
    std::unique_ptr<service::LedController>
    makeController(std::chrono::milliseconds period = kPeriod,
                   std::function<std::unique_ptr<os::Event>()> makeEvent = {},
                   std::function<std::unique_ptr<service::CaptureSource>()> makeCapture = {}) {
        if (!settings)
            settings = std::make_unique<settings::LightingSettings>(settingsFile());
        if (!makeCapture)
            makeCapture = [] {
                return std::make_unique<service::LocalCaptureSource>(
                    service::CaptureEndpoint::RenderLoopback);
            };
        service::LedController::Collaborators parts{
            *settings,
            registry,
            [makeCapture] {
                return std::make_unique<service::MusicEffect>(
                    makeCapture(), std::make_unique<DiscardingOutput>(),
                    [](const std::function<void()>& work) { work(); });
            },
            period,
        };
        // A name of the test's own: on Windows the event is system-wide, and another
        // test program may be running beside this one.
        parts.makeStopEvent = makeEvent ? makeEvent : [] {
            return std::make_unique<os::Event>(os::Event::Reset::Automatic, false);
        };
        return std::make_unique<service::LedController>(std::move(parts));
    }

    os::CapturedDiagnostics diagnostics;
    testing_support::TemporaryDirectory dir;
    SharedBridge bridge;
    board::AcpiItemLibrary library{bridge};
    board::BiosItemRegistry registry{library};
    std::unique_ptr<settings::LightingSettings> settings;
};

} // namespace led_testing
