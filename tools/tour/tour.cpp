// A walk through every effect on the virtual board, driven through the control
// panel's own window the way its user drives it, each step judged by the LED colour
// read off the board:
//
//   lumivane-tour                   the tour; exit 0 only when every step is right
//   lumivane-tour --screenshot PNG  the panel's window as it opens, saved to PNG
//
// It runs where scripts/run puts it: VBOARD_IMAGE names the board, the bus carries
// the bridge and the lighting service, PULSE_SERVER the sound server they listen to.

#include "board/bios_item.h"
#include "panel/service_client.h"
#include "tools/tour/led_checks.h"
#include "tools/tour/panel_driver.h"
#include "tools/tour/tune.h"
#include "virtualboard/board.h"
#include "virtualboard/bridge.h"

#include <QApplication>
#include <QImage>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tour {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kStaticHue = 240.0; // blue: far from every other step's colours

struct Sample {
    LedColor color;
    int mark; // what the tour was doing when it was taken
};

class Tour {
public:
    explicit Tour(virtualboard::Board& board) : board_(board), live_(isatty(STDOUT_FILENO)) {}

    int run();

private:
    using Step = std::function<Judgement()>;
    void step(const char* name, const Step& body);

    // The firmware items the panel wrote and the service's mode since the last call.
    std::string whatWasSet();
    LedColor led();
    LedColor programmedColor();
    std::vector<LedColor> sample(std::chrono::milliseconds length, std::chrono::milliseconds every);
    bool waitFor(const std::function<bool(LedColor)>& wanted, std::chrono::milliseconds limit);
    // The window's choice, then Apply; a window that refuses either fails the step.
    bool choose(const char* radio);

    Judgement firmwareEffect(const char* radio,
                             const std::function<Judgement(const std::vector<LedColor>&)>& judge,
                             std::chrono::milliseconds length);
    Judgement music();
    Judgement temperature();

    virtualboard::Board& board_;
    PanelDriver panel_;
    bool live_;
    int steps_ = 0, right_ = 0;
    std::vector<std::string> wrong_;
};

void Tour::step(const char* name, const Step& body) {
    ++steps_;
    board_.bridge().clearCalls();
    std::printf("[%d] %s\n", steps_, name);
    std::fflush(stdout);
    const Judgement judgement = body();
    if (live_)
        std::printf("\r\x1b[0m\x1b[K");
    std::printf("    set:  %s\n    seen: %s: %s\n", whatWasSet().c_str(), judgement.seen.c_str(),
                judgement.right ? "right" : "WRONG");
    std::fflush(stdout);
    if (judgement.right)
        ++right_;
    else
        wrong_.push_back(name);
}

std::string Tour::whatWasSet() {
    std::string text;
    for (const auto& call : board_.bridge().calls()) {
        if (call.method != std::uint8_t(virtualboard::BridgeMethod::SetItem) || call.status != 0)
            continue;
        char item[48];
        std::snprintf(item, sizeof item, "%08X=%X/%u ", call.arguments[0], call.arguments[1],
                      call.arguments[2]);
        text += item;
    }
    const std::optional<std::int16_t> mode = panel::ServiceClient().mode();
    return (text.empty() ? std::string("no item ") : text) + "(item=value/control), service mode " +
           (mode ? std::to_string(*mode) : std::string("unknown: no service"));
}

LedColor Tour::led() {
    // As the monitor does: the firmware side of the global lock answers its waiters.
    board_.firmwareLock().service();
    const LedColor color = board_.readout().ledColor();
    if (live_)
        std::printf("\r    \x1b[48;2;%u;%u;%um          \x1b[0m %s\x1b[K", color.red, color.green,
                    color.blue, hexColor(color).c_str());
    std::fflush(stdout);
    return color;
}

LedColor Tour::programmedColor() {
    const std::uint32_t word = board_.items().read(board::kLightingEffectItem).value_or(0);
    return {std::uint8_t(word >> 8), std::uint8_t(word >> 16), std::uint8_t(word >> 24)};
}

std::vector<LedColor> Tour::sample(std::chrono::milliseconds length,
                                   std::chrono::milliseconds every) {
    std::vector<LedColor> samples;
    const auto end = Clock::now() + length;
    for (auto next = Clock::now(); next < end; next += every) {
        std::this_thread::sleep_until(next);
        samples.push_back(led());
    }
    return samples;
}

bool Tour::waitFor(const std::function<bool(LedColor)>& wanted, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    do {
        if (wanted(led()))
            return true;
        std::this_thread::sleep_for(20ms);
    } while (Clock::now() < end);
    return false;
}

bool Tour::choose(const char* radio) {
    return panel_.click(radio) && panel_.apply();
}

Judgement Tour::firmwareEffect(const char* radio,
                               const std::function<Judgement(const std::vector<LedColor>&)>& judge,
                               std::chrono::milliseconds length) {
    if (!choose(radio))
        return {false, std::string("the window took no ") + radio + " and Apply"};
    return judge(sample(length, 20ms));
}

Judgement Tour::music() {
    if (!choose("radioMusic"))
        return {false, "the window took no Music Effect and Apply"};
    // Silence first: the effect writes black while nothing plays. Its capture needs a
    // moment more before it hears the first note.
    if (!waitFor(isDark, 3s))
        return {false, "not dark before the tune: " + hexColor(led())};
    std::this_thread::sleep_for(1500ms);

    // A rising major arpeggio in the middle band pulls the hue to cyan; a high note then
    // drives it on through blue and magenta to red. Nothing else gives those: silence
    // fades the LEDs out within a tenth of a second.
    const std::vector<Note> tune{{400, 500}, {500, 500}, {600, 500}, {800, 500}, {4000, 800}};
    constexpr int kSparkle = 4;
    std::atomic<int> playing{-1};
    std::atomic<bool> done{false};
    std::string failure;
    std::thread player([&] {
        failure = play(tune, [&](std::size_t note) { playing = int(note); });
        done = true;
    });
    std::vector<Sample> samples;
    // What was captured last reaches the LEDs a little after it was played.
    for (auto end = Clock::time_point::max(); Clock::now() < end;) {
        samples.push_back({led(), playing.load()});
        std::this_thread::sleep_for(20ms);
        if (done && end == Clock::time_point::max())
            end = Clock::now() + 1s;
    }
    player.join();
    if (!failure.empty())
        return {false, failure};

    std::vector<LedColor> all, sparkle;
    for (const Sample& s : samples) {
        all.push_back(s.color);
        if (s.mark >= kSparkle)
            sparkle.push_back(s.color);
    }
    const Judgement cyan = judgeHueSeen(all, 180.0, 30.0);
    const Judgement red = judgeHueSeen(sparkle, 0.0, 40.0);
    const bool fades = waitFor(isDark, 3s);
    return {cyan.right && red.right && fades,
            "dark before, " + cyan.seen + " (cyan) on the chord, " + red.seen +
                " (red) on the high note, " + (fades ? "dark again" : "still lit") + " after"};
}

Judgement Tour::temperature() {
    board_.items().setTemperature(200);
    if (!choose("radioThermal"))
        return {false, "the window took no CPU Temperature and Apply"};
    Judgement judgement{true, ""};
    for (int celsius = 20; celsius <= 60; celsius += 10) {
        board_.items().setTemperature(std::uint32_t(celsius * 10));
        const LedColor wanted = *temperatureColor(celsius);
        // The effect reads the temperature every 3 s.
        const bool seen = waitFor([&](LedColor c) { return c == wanted; }, 4500ms);
        judgement.right = judgement.right && seen;
        judgement.seen += (judgement.seen.empty() ? "" : ", ") + std::to_string(celsius) + " °C " +
                          hexColor(led()) + (seen ? "" : " (not " + hexColor(wanted) + ")");
    }
    return judgement;
}

int Tour::run() {
    step("Static, blue from the wheel", [&] {
        if (!panel_.click("radioStatic"))
            return Judgement{false, "the window took no Static"};
        panel_.pickHue(kStaticHue);
        if (!panel_.apply())
            return Judgement{false, "Apply stayed disabled"};
        return judgeStatic(sample(500ms, 20ms), programmedColor(), kStaticHue);
    });
    step("Pulsating", [&] {
        return firmwareEffect(
            "radioPulsating", [&](const auto& s) { return judgePulsating(s, programmedColor()); },
            2200ms);
    });
    step("Strobing", [&] {
        return firmwareEffect(
            "radioStrobing", [&](const auto& s) { return judgeStrobing(s, programmedColor()); },
            1500ms);
    });
    step("Rainbow", [&] { return firmwareEffect("radioRainbow", judgeRainbow, 6300ms); });
    step("Music Effect, a tune played into the default output", [&] { return music(); });
    step("CPU Temperature, swept from 20 to 60 °C", [&] { return temperature(); });

    std::string verdict =
        "tour: " + std::to_string(right_) + " of " + std::to_string(steps_) + " steps right";
    for (std::size_t i = 0; i < wrong_.size(); ++i)
        verdict += (i ? ", " : "; wrong: ") + wrong_[i];
    std::printf("%s\n", verdict.c_str());
    return right_ == steps_ ? 0 : 1;
}

} // namespace
} // namespace tour

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && !(args.size() == 2 && args[0] == "--screenshot")) {
        std::cerr << "usage: lumivane-tour [--screenshot FILE.png]\n";
        return 2;
    }
    try {
        if (!args.empty()) {
            tour::PanelDriver panel;
            if (!panel.screenshot().save(QString::fromStdString(args[1]), "PNG")) {
                std::cerr << "lumivane-tour: cannot write " << args[1] << "\n";
                return 1;
            }
            return 0;
        }
        auto board = virtualboard::Board::open(virtualboard::Board::defaultImagePath());
        tour::Tour tour(*board);
        return tour.run();
    } catch (const std::exception& e) {
        std::cerr << "lumivane-tour: " << e.what() << "\n";
        return 1;
    }
}
