#include "service_commands.h"

#include "board/bios_item.h"
#include "board/bios_item_registry.h"
#include "board/smbios.h"
#include "command_table.h"
#include "json_output.h"
#include "panel/service_client.h"

#include <charconv>
#include <cstdio>
#include <limits>
#include <optional>
#include <string_view>

namespace lumivanectl {
namespace {

constexpr std::string_view kModeNames[] = {"off", "music", "temperature"};

Failure unreachable() {
    return Failure("the lighting service Lumivane.LightControl did not answer (not running, "
                   "or not on this bus: LUMIVANE_BUS=system or session)");
}

template <typename Number>
std::optional<Number> parsed(std::string_view text, int base) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::int16_t requestedMode(const std::string& word) {
    for (std::size_t i = 0; i < std::size(kModeNames); ++i)
        if (word == kModeNames[i])
            return static_cast<std::int16_t>(i);
    // Any other number goes to the service as it is: the service decides what it keeps.
    if (const auto value = parsed<std::int16_t>(word, 10))
        return *value;
    throw UsageError("mode is off, music, temperature or a number from -32768 to 32767, not \"" +
                     word + "\"");
}

std::uint32_t requestedColor(std::string_view word) {
    std::optional<std::uint32_t> value;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X'))
        value = parsed<std::uint32_t>(word.substr(2), 16);
    else
        value = parsed<std::uint32_t>(word, 10);
    if (!value)
        throw UsageError("color is a 32-bit number (decimal or 0x..), not \"" + std::string(word) +
                         "\"");
    return *value;
}

std::string modeName(std::int16_t mode) {
    return mode >= 0 && std::size_t(mode) < std::size(kModeNames) ? std::string(kModeNames[mode])
                                                                  : "unknown";
}

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", unsigned(value));
    return text;
}

void printMode(const Invocation& call, std::int16_t mode) {
    if (call.json)
        writeJson(call.out, Json{{"mode", mode}, {"name", modeName(mode)}});
    else
        call.out << "mode " << mode << " (" << modeName(mode) << ")\n";
}

void printColor(const Invocation& call, std::uint32_t color) {
    if (call.json)
        writeJson(call.out, Json{{"color", color}});
    else
        call.out << "color " << hex(color) << '\n';
}

// What the board itself says beside the service: read directly, so a status with the
// service gone still shows who drives the LEDs.
struct BoardState {
    std::optional<std::string> name;
    std::optional<std::uint32_t> lighting; // 1 on, 0 off
    std::optional<std::uint32_t> driver;   // 0 the firmware, 1 the software
};

std::optional<std::uint32_t> itemValue(board::BiosItemRegistry& items, std::uint32_t id) {
    std::uint32_t value = 0;
    board::BiosItem* item = items.Find(id);
    if (!item || !item->GetValue(&value))
        return std::nullopt;
    return value;
}

BoardState boardState(const Invocation& call) {
    BoardState state;
    const board::BoardIdentity identity = board::readBoardIdentity(call.board->hwio);
    if (identity.baseboardFound)
        state.name = latin1ToUtf8(identity.productName);
    board::BiosItemRegistry& items = registryOf(call);
    state.lighting = itemValue(items, board::kLightingEnableItem);
    state.driver = itemValue(items, board::kLightingControlItem);
    return state;
}

template <typename Value>
Json jsonOrNull(const std::optional<Value>& value) {
    return value ? Json(*value) : Json(nullptr);
}

std::string onOff(const std::optional<std::uint32_t>& lighting) {
    return !lighting ? "unknown" : *lighting == 1 ? "on" : *lighting == 0 ? "off" : "unknown";
}

std::string driverName(const std::optional<std::uint32_t>& driver) {
    return !driver ? "unknown" : *driver == 1 ? "software" : *driver == 0 ? "firmware" : "unknown";
}

void requireAtMost(const Invocation& call, std::size_t arguments) {
    if (call.words.size() > arguments + 1)
        throw UsageError(call.words.front() + " takes at most " + std::to_string(arguments) +
                         " argument" + (arguments == 1 ? "" : "s"));
}

} // namespace

int serviceMode(const Invocation& call) {
    requireAtMost(call, 1);
    const panel::ServiceClient client;
    if (call.words.size() == 2 && !client.setMode(requestedMode(call.words[1])))
        throw unreachable();
    // Read back: what the service keeps may differ from what was asked.
    const std::optional<std::int16_t> mode = client.mode();
    if (!mode)
        throw unreachable();
    printMode(call, *mode);
    return kExitOk;
}

int serviceColor(const Invocation& call) {
    requireAtMost(call, 1);
    const panel::ServiceClient client;
    if (call.words.size() == 2 && !client.setColor(requestedColor(call.words[1])))
        throw unreachable();
    const std::optional<std::uint32_t> color = client.color();
    if (!color)
        throw unreachable();
    printColor(call, *color);
    return kExitOk;
}

int serviceStatus(const Invocation& call) {
    requireAtMost(call, 0);
    const panel::ServiceClient client;
    const std::optional<std::int16_t> mode = client.mode();
    const std::optional<std::uint32_t> color = mode ? client.color() : std::nullopt;
    const bool answered = mode && color;
    // Plain values from here: the optionals are only read where both are present.
    const std::int16_t modeValue = mode.value_or(0);
    const std::uint32_t colorValue = color.value_or(0);
    const BoardState board = boardState(call);
    if (call.json) {
        Json status{{"service", answered}};
        if (answered) {
            status["mode"] = modeValue;
            status["name"] = modeName(modeValue);
            status["color"] = colorValue;
        }
        status["board"] = jsonOrNull(board.name);
        status["lighting"] = board.lighting ? Json(onOff(board.lighting)) : Json(nullptr);
        status["leds"] = board.driver ? Json(driverName(board.driver)) : Json(nullptr);
        writeJson(call.out, status);
    } else {
        if (answered)
            call.out << "service running\nmode " << modeValue << " (" << modeName(modeValue)
                     << ")\ncolor " << hex(colorValue) << '\n';
        else
            call.out << "service not reachable\n";
        call.out << "board " << board.name.value_or("unknown") << "\nlighting "
                 << onOff(board.lighting) << "\nleds driven by " << driverName(board.driver)
                 << '\n';
    }
    if (!answered)
        throw unreachable();
    return kExitOk;
}

} // namespace lumivanectl
