#include "item_commands.h"

#include "board/acpi_items.h"
#include "board/bios_item_registry.h"
#include "board/ec_led_port.h"
#include "command_table.h"
#include "json_output.h"
#include "os/com_apartment.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>

namespace lumivanectl {
namespace {

// Long option ranges (an effect word has 65536) would bury the list: show their ends.
constexpr std::uint32_t kOptionsShownInFull = 256;
constexpr std::uint32_t kOptionsShownAtStart = 16;

std::optional<std::uint32_t> parseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string hex(std::uint32_t value, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", width, unsigned(value));
    return text;
}

const char* kindName(std::uint32_t id) {
    switch (board::item_id::kind(id)) {
    case board::kBooleanKind:
        return "boolean";
    case board::kStringKind:
        return "string";
    case board::kCompositeKind:
        return "composite";
    default:
        return "number";
    }
}

std::uint32_t requireNumber(const std::string& text, const char* what) {
    const auto value = parseNumber(text);
    if (!value)
        throw UsageError(std::string(what) + " must be a number (decimal or 0x..), not \"" + text +
                         "\"");
    return *value;
}

// Tells a missing bridge (or an empty group) from an item the firmware does not list.
board::BiosItem& requireItem(board::BiosItemRegistry& registry, std::uint32_t id) {
    if (board::BiosItem* item = registry.Find(id))
        return *item;
    const std::uint32_t group = board::item_id::group(id);
    if (registry.GroupIds(group).empty())
        throw Failure("group " + hex(group, 2) + " has no items: the ACPI bridge \"" +
                      std::string(board::kAcpiBridgeName) + "\" is not reachable or lists none");
    throw Failure("item " + hex(id, 8) + " is not listed in group " + hex(group, 2));
}

bool hasOptionTexts(std::uint32_t id) {
    const std::uint32_t kind = board::item_id::kind(id);
    return kind != board::kBooleanKind && kind != board::kCompositeKind;
}

} // namespace

board::BiosItemRegistry& registryOf(const Invocation& call) {
    os::ComApartment::enterForThread();
    return call.items ? *call.items : board::BiosItemRegistry::instance();
}

int itemList(const Invocation& call) {
    const std::vector<std::string>& words = call.words;
    const bool json = call.json;
    std::ostream& out = call.out;
    board::BiosItemRegistry& registry = registryOf(call);
    if (words.size() != 3)
        throw UsageError("item list takes GROUP");
    const std::uint32_t group = requireNumber(words[2], "GROUP");
    if (group > 0xFF)
        throw UsageError("GROUP must be 0 to 0xFF");
    const std::vector<std::uint32_t> ids = registry.GroupIds(group);
    if (ids.empty())
        throw Failure("group " + hex(group, 2) + " has no items: the ACPI bridge \"" +
                      std::string(board::kAcpiBridgeName) + "\" is not reachable or lists none");

    Json items = Json::array();
    if (!json)
        out << "group " << hex(group, 2) << ": " << ids.size() << " items\n";
    for (std::uint32_t id : ids) {
        board::BiosItem* item = registry.Find(id);
        // A later duplicate of a key lists the item that was registered first.
        const std::uint32_t count = item ? item->GetCount() : 0;
        const bool texts = item && hasOptionTexts(id);
        auto optionText = [&](std::uint32_t index) {
            return board::wideToUtf8(item->IndexToString(index));
        };
        // Only the shown indices are visited: a count may be as large as 0xFFFFFFFF.
        const std::uint32_t head = count <= kOptionsShownInFull ? count : kOptionsShownAtStart;
        std::vector<std::uint32_t> shown;
        for (std::uint32_t i = 0; texts && i < head; ++i)
            shown.push_back(i);
        if (texts && head < count)
            shown.push_back(count - 1);
        if (json) {
            // The option texts come as wide strings, so they are UTF-8 already.
            Json options = Json::array();
            for (std::uint32_t i : shown)
                options.push_back({{"index", i}, {"text", optionText(i)}});
            items.push_back(
                {{"id", id}, {"kind", kindName(id)}, {"count", count}, {"options", options}});
        } else {
            out << hex(id, 8) << "  " << kindName(id) << "  count " << count << '\n';
            for (std::uint32_t i : shown) {
                if (i == count - 1 && head < count)
                    out << "  ... " << (count - head - 1) << " more\n";
                out << "  " << i << ": " << optionText(i) << '\n';
            }
        }
    }
    if (json)
        writeJson(out, {{"group", group}, {"items", std::move(items)}});
    return kExitOk;
}

int itemGet(const Invocation& call) {
    const std::vector<std::string>& words = call.words;
    board::BiosItemRegistry& registry = registryOf(call);
    if (words.size() != 3)
        throw UsageError("item get takes ID");
    const std::uint32_t id = requireNumber(words[2], "ID");
    board::BiosItem& item = requireItem(registry, id);
    std::uint32_t value = 0;
    if (!item.GetValue(&value))
        throw Failure("reading item " + hex(id, 8) + " failed");
    if (call.json)
        writeJson(call.out, {{"id", id}, {"value", value}});
    else
        call.out << value << '\n';
    return kExitOk;
}

int itemSet(const Invocation& call) {
    const std::vector<std::string>& words = call.words;
    board::BiosItemRegistry& registry = registryOf(call);
    if (words.size() != 4 && words.size() != 5)
        throw UsageError("item set takes ID VALUE [CONTROL]");
    const std::uint32_t id = requireNumber(words[2], "ID");
    const std::uint32_t value = requireNumber(words[3], "VALUE");
    const std::uint32_t control = words.size() == 5 ? requireNumber(words[4], "CONTROL") : 1;
    board::BiosItem& item = requireItem(registry, id);
    const int result = item.SetValue(value, control);
    if (result == -1)
        throw Failure("item " + hex(id, 8) + " is a composite: it has no value of its own to set");
    if (result != 1)
        throw Failure("writing item " + hex(id, 8) + " failed");
    if (call.json)
        writeJson(call.out, {{"id", id}, {"value", value}, {"control", control}});
    else
        call.out << "item " << hex(id, 8) << " set to " << value << " (control " << control
                 << ")\n";
    return kExitOk;
}

int runItemCommand(const std::vector<std::string>& words, bool json, std::ostream& out,
                   std::ostream& err, board::BiosItemRegistry& registry) {
    return runGroup("item",
                    {.words = words, .out = out, .err = err, .json = json, .items = &registry});
}

} // namespace lumivanectl
