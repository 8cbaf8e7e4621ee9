#include "board_commands.h"

#include "board/color.h"
#include "board/ec_led_port.h"
#include "board/ec_registers.h"
#include "board/global_lock.h"
#include "board/hwio.h"
#include "board/smbios.h"
#include "command_table.h"
#include "json_output.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace lumivanectl {
namespace {

std::optional<float> parseUnit(const std::string& text) {
    float value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0.0f || value > 1.0f)
        return std::nullopt;
    return value;
}

std::optional<std::uint8_t> parseByte(const std::string& text) {
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    unsigned value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        value > 255)
        return std::nullopt;
    return std::uint8_t(value);
}

const char* sourceName(board::DmiWalker::Source source) {
    return source == board::DmiWalker::Source::FirmwareTableService ? "firmware-table service"
                                                                    : "memory scan";
}

std::string noTable(board::DmiWalker::Source source, const board::HwIOLibrary& hwio) {
    std::string text = "no SMBIOS table from the ";
    text += sourceName(source);
    if (source == board::DmiWalker::Source::MemoryScan && !hwio.isLoaded())
        text += ": the I/O library \"" + hwio.path().string() + "\" could not be loaded";
    return text;
}

const char* structureName(std::uint8_t type) {
    switch (type) {
    case 0:
        return "BIOS";
    case 1:
        return "system";
    case 2:
        return "baseboard";
    case 3:
        return "chassis";
    case 4:
        return "processor";
    case 17:
        return "memory device";
    case 127:
        return "end of table";
    default:
        return "";
    }
}

struct StructureInfo {
    std::uint8_t type;
    std::uint8_t length;
    std::uint16_t handle;
    std::vector<std::string> strings;
};

StructureInfo describe(const board::DmiWalker& walker) {
    StructureInfo info{walker.CurrentType(), walker.CurrentLength(), 0, {}};
    if (info.length >= 4)
        info.handle = std::uint16_t(walker.Current()[2] | walker.Current()[3] << 8);
    for (int k = 1; k < 256; ++k) {
        const char* text = walker.GetString(k);
        if (!*text)
            break;
        info.strings.emplace_back(text);
    }
    return info;
}

// Makes sure the LED binding can reach the controller before any byte is sent.
void requireLedPorts(board::EcPortBinding& ports) {
    if (ports.canWrite())
        return;
    std::string library = "\"" + ports.libraryFile() + "\"";
    switch (ports.loadHwio()) {
    case board::kHwioMissing:
        throw Failure("cannot load the I/O library " + library);
    case board::kHwioNoOpen:
        throw Failure("the I/O library " + library + " has no HWIO_Open");
    case board::kHwioOpenFailed:
        throw Failure("HWIO_Open(0) of " + library + " failed: port access is not ready");
    default:
        break;
    }
    if (!ports.canWrite())
        throw Failure("the I/O library " + library + " lacks HWIO_OutPortB or HWIO_InPortB");
}

// Blue, green, red: the order of the music effect.
void writeColor(board::EcPortBinding& ports, std::uint8_t red, std::uint8_t green,
                std::uint8_t blue) {
    requireLedPorts(ports);
    ports.ecWriteBanked(board::kLedBank, board::kLedBlueRegister, blue);
    ports.ecWriteBanked(board::kLedBank, board::kLedGreenRegister, green);
    ports.ecWriteBanked(board::kLedBank, board::kLedRedRegister, red);
}

// `json` holds the command's input; the bytes follow it.
void printColor(const Invocation& call, std::ostream& out, std::uint8_t red, std::uint8_t green,
                std::uint8_t blue, bool written, Json json) {
    if (call.json) {
        json["red"] = red;
        json["green"] = green;
        json["blue"] = blue;
        json["written"] = written;
        writeJson(out, json);
        return;
    }
    out << "red " << int(red) << " green " << int(green) << " blue " << int(blue) << '\n';
    if (written)
        out << "written: blue to 0x5B, green to 0x5D, red to 0x53 (bank 0)\n";
}

const char* lockStatusText(board::GlobalLockResult::Status status) {
    using Status = board::GlobalLockResult::Status;
    switch (status) {
    case Status::Obtained:
        return "obtained";
    case Status::NotObtained:
        return "not obtained";
    case Status::NoLibrary:
        return "no I/O library with physical-memory access";
    case Status::NoTables:
        return "no ACPI tables: neither the firmware-table service nor an RSDP in 0xF0000-0xFFFFF "
               "gave a FADT";
    case Status::NoFacs:
        return "the FADT names no FACS";
    case Status::MappingFailed:
        return "the FACS could not be mapped";
    }
    return "";
}

} // namespace

int boardName(const Invocation& call) {
    if (call.words.size() != 2)
        throw UsageError("board " + call.words[1] + " takes no arguments");
    std::ostream& out = call.out;
    const BoardAccess& access = *call.board;
    board::BoardIdentity identity = board::readBoardIdentity(access.hwio);
    if (!identity.tableFound)
        throw Failure(noTable(identity.source, access.hwio));
    bool supported = board::isSupportedBoard(identity.productName);
    if (call.json) {
        writeJson(out, {{"product", latin1ToUtf8(identity.productName)},
                        {"baseboard", identity.baseboardFound},
                        {"supported", supported},
                        {"source", sourceName(identity.source)}});
        return kExitOk;
    }
    // The name alone on the first line, for scripts; the verdict below it.
    out << identity.productName << '\n';
    if (!identity.baseboardFound)
        out << "no baseboard structure";
    else if (supported)
        out << "the supported model";
    else
        out << "not the supported model (" << board::kSupportedBoard << ")";
    out << ", table from the " << sourceName(identity.source) << '\n';
    return kExitOk;
}

int boardSmbios(const Invocation& call) {
    if (call.words.size() != 2)
        throw UsageError("board " + call.words[1] + " takes no arguments");
    std::ostream& out = call.out;
    const BoardAccess& access = *call.board;
    access.hwio.load();
    board::DmiWalker walker(access.hwio);
    if (!walker.Open())
        throw Failure(noTable(walker.source(), access.hwio));
    std::vector<StructureInfo> structures;
    for (; !walker.AtEnd(); walker.Next())
        structures.push_back(describe(walker));
    // The end marker, when the walk stopped at one rather than at the table's end.
    if (walker.CurrentLength() > 0)
        structures.push_back(describe(walker));

    if (call.json) {
        Json list = Json::array();
        for (const StructureInfo& s : structures) {
            Json strings = Json::array();
            for (const std::string& text : s.strings)
                strings.push_back(latin1ToUtf8(text));
            list.push_back({{"type", s.type},
                            {"handle", s.handle},
                            {"length", s.length},
                            {"strings", std::move(strings)}});
        }
        writeJson(out, {{"source", sourceName(walker.source())},
                        {"length", walker.tableLength()},
                        {"structures", std::move(list)}});
        return kExitOk;
    }
    out << "SMBIOS table from the " << sourceName(walker.source()) << ", " << walker.tableLength()
        << " bytes, " << structures.size() << " structures\n";
    for (const StructureInfo& s : structures) {
        char handle[8];
        std::snprintf(handle, sizeof handle, "0x%04X", s.handle);
        out << "type " << int(s.type);
        if (*structureName(s.type))
            out << " (" << structureName(s.type) << ")";
        out << ", handle " << handle << ", length " << int(s.length) << '\n';
        for (std::size_t k = 0; k < s.strings.size(); ++k)
            out << "  " << k + 1 << ": " << s.strings[k] << '\n';
    }
    return kExitOk;
}

int boardHsl(const Invocation& call) {
    std::ostream& out = call.out;
    const BoardAccess& access = *call.board;
    if (call.words.size() != 5)
        throw UsageError("board hsl takes HUE SATURATION LIGHTNESS");
    std::optional<float> hsl[3];
    const char* names[3] = {"hue", "saturation", "lightness"};
    for (int i = 0; i < 3; ++i) {
        hsl[i] = parseUnit(call.words[std::size_t(2 + i)]);
        if (!hsl[i])
            throw UsageError(std::string(names[i]) + " must be a number from 0 to 1, not \"" +
                             call.words[std::size_t(2 + i)] + "\"");
    }
    std::uint8_t red = 0, green = 0, blue = 0;
    board::hslToRgb(*hsl[0], *hsl[1], *hsl[2], red, green, blue);
    if (call.write)
        writeColor(access.ledPorts, red, green, blue);
    printColor(call, out, red, green, blue, call.write,
               {{"hue", *hsl[0]}, {"saturation", *hsl[1]}, {"lightness", *hsl[2]}});
    return kExitOk;
}

int boardColor(const Invocation& call) {
    std::ostream& out = call.out;
    const BoardAccess& access = *call.board;
    if (call.words.size() != 5)
        throw UsageError("board color takes RED GREEN BLUE");
    std::uint8_t rgb[3];
    const char* names[3] = {"red", "green", "blue"};
    for (int i = 0; i < 3; ++i) {
        auto value = parseByte(call.words[std::size_t(2 + i)]);
        if (!value)
            throw UsageError(std::string(names[i]) + " must be a number from 0 to 255, not \"" +
                             call.words[std::size_t(2 + i)] + "\"");
        rgb[i] = *value;
    }
    writeColor(access.ledPorts, rgb[0], rgb[1], rgb[2]);
    printColor(call, out, rgb[0], rgb[1], rgb[2], true, Json::object());
    return kExitOk;
}

int boardTemperatureColor(const Invocation& call) {
    std::ostream& out = call.out;
    const BoardAccess& access = *call.board;
    if (call.words.size() != 3)
        throw UsageError("board temperature-color takes CELSIUS");
    const std::string& text = call.words[2];
    std::int32_t celsius = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), celsius);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw UsageError("CELSIUS must be a whole number, not \"" + text + "\"");
    const board::LedColor color = board::EcLedPort::temperatureColor(celsius);
    if (call.write) {
        requireLedPorts(access.ledPorts);
        // As the effect does: the lock when it can be had, the colour either way.
        board::GlobalLockResult lock{board::GlobalLockResult::Status::NoLibrary, 0};
        if (access.hwio.load() || access.hwio.isLoaded())
            lock = board::acpi::tryAcquire(access.hwio.functions(), board::kGlobalLockAttempts);
        access.ledPorts.ecWriteBanked(board::kLedBank, board::kLedRedRegister, color.red);
        access.ledPorts.ecWriteBanked(board::kLedBank, board::kLedGreenRegister, color.green);
        access.ledPorts.ecWriteBanked(board::kLedBank, board::kLedBlueRegister, color.blue);
        if (lock.obtained())
            board::acpi::release(access.hwio.functions());
    }
    if (call.json) {
        writeJson(out, {{"celsius", celsius},
                        {"red", color.red},
                        {"green", color.green},
                        {"blue", color.blue},
                        {"written", call.write}});
        return kExitOk;
    }
    out << "red " << int(color.red) << " green " << int(color.green) << " blue " << int(color.blue)
        << '\n';
    if (call.write)
        out << "written: red to 0x53, green to 0x5D, blue to 0x5B (bank 0)\n";
    return kExitOk;
}

int lockTest(const Invocation& call) {
    std::ostream& out = call.out;
    const BoardAccess& access = *call.board;
    const std::vector<std::string>& w = call.words;
    if (w.size() > 3)
        throw UsageError("lock test takes at most ATTEMPTS");
    std::uint32_t attempts = board::kGlobalLockAttempts;
    if (w.size() == 3) {
        auto [end, error] = std::from_chars(w[2].data(), w[2].data() + w[2].size(), attempts);
        if (error != std::errc() || end != w[2].data() + w[2].size())
            throw UsageError("ATTEMPTS must be a whole number, not \"" + w[2] + "\"");
    }
    if (!access.hwio.load() && !access.hwio.isLoaded())
        throw Failure("the I/O library \"" + access.hwio.path().string() +
                      "\" could not be loaded");

    board::GlobalLockResult result = board::acpi::tryAcquire(access.hwio.functions(), attempts);
    if (result.obtained())
        board::acpi::release(access.hwio.functions());
    using Status = board::GlobalLockResult::Status;
    bool answered = result.status == Status::Obtained || result.status == Status::NotObtained;
    if (!answered)
        throw Failure(lockStatusText(result.status));

    if (call.json) {
        writeJson(
            out,
            {{"obtained", result.obtained()}, {"attempts", result.attempts}, {"limit", attempts}});
    } else {
        out << "global lock " << lockStatusText(result.status) << " after " << result.attempts
            << (result.attempts == 1 ? " attempt" : " attempts");
        out << (result.obtained() ? ", released\n" : "\n");
    }
    return result.obtained() ? kExitOk : kExitFailed;
}

BoardAccess processBoardAccess() {
    return {board::ledPorts(), board::hwIOLibrary()};
}

} // namespace lumivanectl
