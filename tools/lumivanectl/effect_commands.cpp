#include "effect_commands.h"

#include "board/bios_item_registry.h"
#include "command_table.h"
#include "service/led_controller.h"
#include "settings/lighting_settings.h"

#include <atomic>
#include <charconv>
#include <chrono>
#include <csignal>
#include <optional>
#include <thread>

namespace lumivanectl {
namespace {

std::atomic<bool> interrupted{false};

extern "C" void onInterrupt(int) {
    interrupted = true;
}

std::optional<std::int32_t> modeNamed(const std::string& name) {
    if (name == "off")
        return service::LedController::kModeOff;
    if (name == "music")
        return service::LedController::kModeMusic;
    if (name == "temperature")
        return service::LedController::kModeTemperature;
    return std::nullopt;
}

} // namespace

int runEffectCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
    const std::optional<std::int32_t> mode = words.size() >= 2 ? modeNamed(words[1]) : std::nullopt;
    unsigned seconds = 0;
    bool secondsOk = true;
    if (words.size() == 3) {
        const std::string& text = words[2];
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
        secondsOk = ec == std::errc() && end == text.data() + text.size() && seconds > 0;
    }
    if (!mode || words.size() > 3 || !secondsOk) {
        err << "lumivanectl: effect takes off, music or temperature and, optionally, a "
               "number of seconds above 0\n";
        printUsage(err, "effect");
        return 2;
    }

    interrupted = false;
    auto previousInt = std::signal(SIGINT, onInterrupt);
    auto previousTerm = std::signal(SIGTERM, onInterrupt);
    // The service's controller is never destroyed; this one is, so that its effects
    // end and their threads are joined before the tool does.
    service::LedController controller({
        settings::LightingSettings::instance(),
        board::BiosItemRegistry::instance(),
        [] { return std::make_unique<service::MusicEffect>(); },
    });
    controller.setMode(*mode);
    out << "lumivanectl: effect " << words[1] << " running"
        << (seconds ? " for " + std::to_string(seconds) + " s" : std::string(", Ctrl-C ends it"))
        << std::endl;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!interrupted && (seconds == 0 || std::chrono::steady_clock::now() < end))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    return 0;
}

} // namespace lumivanectl
