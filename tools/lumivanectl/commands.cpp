#include "commands.h"

#include "audio_commands.h"
#include "board/bios_item_registry.h"
#include "board/color.h"
#include "board/ec_led_port.h"
#include "board/ec_registers.h"
#include "board/global_lock.h"
#include "board/hwio.h"
#include "board/smbios.h"
#include "effect_commands.h"
#include "item_commands.h"
#include "json_output.h"
#include "os/diagnostics.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace lumivanectl {
namespace {

constexpr const char* kUsage =
    "usage: lumivanectl [--json] board name\n"
    "       lumivanectl [--json] board smbios\n"
    "       lumivanectl [--json] board hsl HUE SATURATION LIGHTNESS [--write]\n"
    "       lumivanectl [--json] board color RED GREEN BLUE\n"
    "       lumivanectl [--json] board temperature-colour CELSIUS [--write]\n"
    "       lumivanectl [--json] lock test [ATTEMPTS]\n"
    "       lumivanectl audio analyse|colours|capture ... (lumivanectl audio --help)\n"
    "       lumivanectl effect off|music|temperature [SECONDS]\n"
    "\n"
    "  board name    the baseboard's product name and whether it is the supported model\n"
    "  board smbios  the SMBIOS structures: type, handle, length and strings\n"
    "  board hsl     the register bytes of a colour (each value 0 to 1); --write also\n"
    "                writes them to the LED registers (blue, green, red)\n"
    "  board color   writes the LED registers (each value 0 to 255, decimal or 0x..)\n"
    "  board temperature-colour\n"
    "                the bytes the CPU temperature effect shows for CELSIUS (whole degrees);\n"
    "                --write also writes them (red, green, blue) under the global lock\n"
    "  lock test     takes the firmware's ACPI global lock (1500 attempts 1 ms apart, or\n"
    "                ATTEMPTS; 0 waits for ever), says whether it was obtained, gives it back\n";

struct Options {
    bool json = false;
    bool write = false;
    bool help = false;
    std::vector<std::string> words;
};

Options parse(const std::vector<std::string>& args) {
    Options options;
    for (const std::string& arg : args) {
        if (arg == "--json")
            options.json = true;
        else if (arg == "--write")
            options.write = true;
        else if (arg == "--help" || arg == "-h")
            options.help = true;
        else
            options.words.push_back(arg);
    }
    return options;
}

class UsageError {
public:
    explicit UsageError(std::string text) : text(std::move(text)) {}
    std::string text;
};

class Failure {
public:
    explicit Failure(std::string text) : text(std::move(text)) {}
    std::string text;
};

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

int boardName(const Options& options, std::ostream& out, BoardAccess access) {
    board::BoardIdentity identity = board::readBoardIdentity(access.hwio);
    if (!identity.tableFound)
        throw Failure(noTable(identity.source, access.hwio));
    bool supported = board::isSupportedBoard(identity.productName);
    if (options.json) {
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

int boardSmbios(const Options& options, std::ostream& out, BoardAccess access) {
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

    if (options.json) {
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
void writeColour(board::EcPortBinding& ports, std::uint8_t red, std::uint8_t green,
                 std::uint8_t blue) {
    requireLedPorts(ports);
    ports.ecWriteBanked(board::kLedBank, board::kLedBlueRegister, blue);
    ports.ecWriteBanked(board::kLedBank, board::kLedGreenRegister, green);
    ports.ecWriteBanked(board::kLedBank, board::kLedRedRegister, red);
}

// `json` holds the command's input; the bytes follow it.
void printColour(const Options& options, std::ostream& out, std::uint8_t red, std::uint8_t green,
                 std::uint8_t blue, bool written, Json json) {
    if (options.json) {
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

int boardHsl(const Options& options, std::ostream& out, BoardAccess access) {
    if (options.words.size() != 5)
        throw UsageError("board hsl takes HUE SATURATION LIGHTNESS");
    std::optional<float> hsl[3];
    const char* names[3] = {"hue", "saturation", "lightness"};
    for (int i = 0; i < 3; ++i) {
        hsl[i] = parseUnit(options.words[std::size_t(2 + i)]);
        if (!hsl[i])
            throw UsageError(std::string(names[i]) + " must be a number from 0 to 1, not \"" +
                             options.words[std::size_t(2 + i)] + "\"");
    }
    std::uint8_t red = 0, green = 0, blue = 0;
    board::hslToRgb(*hsl[0], *hsl[1], *hsl[2], red, green, blue);
    if (options.write)
        writeColour(access.ledPorts, red, green, blue);
    printColour(options, out, red, green, blue, options.write,
                {{"hue", *hsl[0]}, {"saturation", *hsl[1]}, {"lightness", *hsl[2]}});
    return kExitOk;
}

int boardColor(const Options& options, std::ostream& out, BoardAccess access) {
    if (options.words.size() != 5)
        throw UsageError("board color takes RED GREEN BLUE");
    std::uint8_t rgb[3];
    const char* names[3] = {"red", "green", "blue"};
    for (int i = 0; i < 3; ++i) {
        auto value = parseByte(options.words[std::size_t(2 + i)]);
        if (!value)
            throw UsageError(std::string(names[i]) + " must be a number from 0 to 255, not \"" +
                             options.words[std::size_t(2 + i)] + "\"");
        rgb[i] = *value;
    }
    writeColour(access.ledPorts, rgb[0], rgb[1], rgb[2]);
    printColour(options, out, rgb[0], rgb[1], rgb[2], true, Json::object());
    return kExitOk;
}

int boardTemperatureColour(const Options& options, std::ostream& out, BoardAccess access) {
    if (options.words.size() != 3)
        throw UsageError("board temperature-colour takes CELSIUS");
    const std::string& text = options.words[2];
    std::int32_t celsius = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), celsius);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw UsageError("CELSIUS must be a whole number, not \"" + text + "\"");
    const board::LedColour colour = board::EcLedPort::temperatureColour(celsius);
    if (options.write) {
        requireLedPorts(access.ledPorts);
        // As the effect does: the lock when it can be had, the colour either way.
        board::GlobalLockResult lock{board::GlobalLockResult::Status::NoLibrary, 0};
        if (access.hwio.load() || access.hwio.isLoaded())
            lock = board::acpi::tryAcquire(access.hwio.functions(), board::kGlobalLockAttempts);
        access.ledPorts.ecWriteBanked(board::kLedBank, board::kLedRedRegister, colour.red);
        access.ledPorts.ecWriteBanked(board::kLedBank, board::kLedGreenRegister, colour.green);
        access.ledPorts.ecWriteBanked(board::kLedBank, board::kLedBlueRegister, colour.blue);
        if (lock.obtained())
            board::acpi::release(access.hwio.functions());
    }
    if (options.json) {
        writeJson(out, {{"celsius", celsius},
                        {"red", colour.red},
                        {"green", colour.green},
                        {"blue", colour.blue},
                        {"written", options.write}});
        return kExitOk;
    }
    out << "red " << int(colour.red) << " green " << int(colour.green) << " blue "
        << int(colour.blue) << '\n';
    if (options.write)
        out << "written: red to 0x53, green to 0x5D, blue to 0x5B (bank 0)\n";
    return kExitOk;
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

int lockTest(const Options& options, std::ostream& out, BoardAccess access) {
    const std::vector<std::string>& w = options.words;
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

    if (options.json) {
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

// The board code's message boxes become lines on the error stream: a command-line
// tool must never wait for someone to click OK.
class MessagesTo {
public:
    explicit MessagesTo(std::ostream& err)
        : previous_(os::setDiagnosticSink([&err](const os::Diagnostic& diagnostic) {
              if (diagnostic.kind == os::Diagnostic::Kind::Message)
                  err << diagnostic.caption << ": " << diagnostic.text << '\n';
          })) {}
    ~MessagesTo() { os::setDiagnosticSink(previous_); }
    MessagesTo(const MessagesTo&) = delete;
    MessagesTo& operator=(const MessagesTo&) = delete;

private:
    os::DiagnosticSink previous_;
};

} // namespace

BoardAccess processBoardAccess() {
    return {board::ledPorts(), board::hwIOLibrary()};
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        BoardAccess access) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i].rfind("--", 0) == 0)
            continue;
        if (args[i] == "audio")
            return runAudio(args, out, err);
        if (args[i] == "effect")
            return runEffectCommand({args.begin() + std::ptrdiff_t(i), args.end()}, out, err);
        break;
    }
    Options options = parse(args);
    if (options.help) {
        out << kUsage << '\n' << kItemUsage << '\n' << kEffectUsage;
        return kExitOk;
    }
    MessagesTo messages(err);
    try {
        const std::vector<std::string>& w = options.words;
        if (w.empty())
            throw UsageError("no command given");
        if (w[0] == "lock") {
            if (w.size() < 2 || w[1] != "test")
                throw UsageError("lock needs a command: test");
            if (options.write)
                throw UsageError(
                    "--write belongs to board hsl, board color and board temperature-colour");
            return lockTest(options, out, access);
        }
        if (w[0] == "item") {
            if (options.write)
                throw UsageError(
                    "--write belongs to board hsl, board color and board temperature-colour");
            return runItemCommand(w, options.json, out, err, board::BiosItemRegistry::instance());
        }
        if (w[0] != "board")
            throw UsageError("unknown command \"" + w[0] + "\"");
        if (w.size() < 2)
            throw UsageError(
                "board needs a command: name, smbios, hsl, color or temperature-colour");
        if (options.write && w[1] != "hsl" && w[1] != "color" && w[1] != "temperature-colour")
            throw UsageError(
                "--write belongs to board hsl, board color and board temperature-colour");
        if (w[1] == "name" || w[1] == "smbios") {
            if (w.size() != 2)
                throw UsageError("board " + w[1] + " takes no arguments");
            return w[1] == "name" ? boardName(options, out, access)
                                  : boardSmbios(options, out, access);
        }
        if (w[1] == "hsl")
            return boardHsl(options, out, access);
        if (w[1] == "color")
            return boardColor(options, out, access);
        if (w[1] == "temperature-colour")
            return boardTemperatureColour(options, out, access);
        throw UsageError("unknown board command \"" + w[1] + "\"");
    } catch (const UsageError& error) {
        err << "lumivanectl: " << error.text << "\n" << kUsage << '\n' << kItemUsage;
        return kExitUsage;
    } catch (const Failure& failure) {
        err << "lumivanectl: " << failure.text << '\n';
        return kExitFailed;
    }
}

} // namespace lumivanectl
