#include "os/executable.h"
#include "vboard.h"
#include "virtualboard/bridge.h"
#include "virtualboard/bridge_service.h"
#include "virtualboard/firmware.h"
#include "virtualboard/hwio_install.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string_view>

namespace vboard {

using virtualboard::Board;
using virtualboard::BoardError;
using virtualboard::BoardOptions;
using virtualboard::BusyMode;

namespace {

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::uint64_t number(const std::string& text, std::uint64_t maximum, const std::string& what) {
    std::size_t used = 0;
    unsigned long long value = 0;
    try {
        value = std::stoull(text, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || value > maximum || text[0] == '-')
        throw UsageError(what + ": '" + text + "' is not a number up to " + hex(maximum, 0));
    return value;
}

std::uint32_t number32(const std::string& text, const std::string& what) {
    return std::uint32_t(number(text, 0xFFFFFFFF, what));
}

void parseBusy(const std::string& text, BusyMode& mode, std::uint32_t& reads) {
    if (text == "never") {
        mode = BusyMode::Never;
    } else if (text == "always") {
        mode = BusyMode::Always;
    } else if (text.rfind("reads:", 0) == 0) {
        mode = BusyMode::ForReads;
        reads = number32(text.substr(6), "busy reads");
    } else {
        throw UsageError("busy mode is never, always or reads:N, not '" + text + "'");
    }
}

// Arguments after the command: --flag [value] pairs.
class Arguments {
public:
    Arguments(std::vector<std::string> args) : args_(std::move(args)) {}
    bool flag(const std::string& name) {
        for (std::size_t i = 0; i < args_.size(); ++i)
            if (args_[i] == name) {
                args_.erase(args_.begin() + std::ptrdiff_t(i));
                return true;
            }
        return false;
    }
    std::optional<std::string> option(const std::string& name) {
        for (std::size_t i = 0; i < args_.size(); ++i)
            if (args_[i] == name) {
                if (i + 1 >= args_.size())
                    throw UsageError(name + " needs a value");
                std::string value = args_[i + 1];
                args_.erase(args_.begin() + std::ptrdiff_t(i),
                            args_.begin() + std::ptrdiff_t(i + 2));
                return value;
            }
        return std::nullopt;
    }
    std::size_t last() {
        auto v = option("--last");
        return v ? std::size_t(number(*v, 0xFFFFFFFF, "--last")) : 0;
    }
    std::vector<std::string> rest() {
        for (const std::string& arg : args_)
            if (arg.rfind("--", 0) == 0)
                throw UsageError("unknown option " + arg);
        return args_;
    }
    void done() {
        if (!rest().empty())
            throw UsageError("unexpected argument '" + args_.front() + "'");
    }

private:
    std::vector<std::string> args_;
};

// What a command gets: the image, its arguments and, for the commands that work on
// an existing board, that board.
struct Invocation {
    std::filesystem::path image;
    Arguments args;
    std::ostream& out;
    std::ostream& err;
    Board* board = nullptr;
};

struct Option {
    std::string_view name, help;
};

struct Command {
    std::string_view name, synopsis;
    std::vector<std::string_view> help; // one entry a line
    std::vector<Option> options;
    // Opened before the command runs; whoever looks at the board also lets the
    // firmware's time pass.
    bool onBoard;
    int (*run)(Invocation&);
};

// A `set` knob: the values after its name, exactly `count` of them.
struct Knob {
    std::string_view name, values, help;
    std::size_t count;
    void (*apply)(Board& board, const std::vector<std::string>& values);
};

void changeFaults(Board& board, void (*change)(virtualboard::BridgeFaults&, const std::string&),
                  const std::string& value) {
    virtualboard::BridgeFaults faults = board.bridge().faults();
    change(faults, value);
    board.bridge().setFaults(faults);
}

const std::vector<Knob>& knobs() {
    using Values = const std::vector<std::string>&;
    using virtualboard::BridgeFaults;
    static const std::vector<Knob> table = {
        {"busy", "never|always|reads:N", "how the EC status port answers", 1,
         [](Board& board, Values v) {
             BusyMode mode = BusyMode::Never;
             std::uint32_t reads = 0;
             parseBusy(v[0], mode, reads);
             board.knobs().setBusyMode(mode, reads);
         }},
        {"open-fails", "on|off", "whether HWIO_Open returns 0", 1,
         [](Board& board, Values v) {
             if (v[0] != "on" && v[0] != "off")
                 throw UsageError("open-fails is on or off");
             board.knobs().setOpenFails(v[0] == "on");
         }},
        {"firmware-lock", "MS", "the firmware takes the global lock for MS ms", 1,
         [](Board& board, Values v) {
             board.firmwareLock().take(number32(v[0], "firmware-lock"));
         }},
        {"lock-word", "VALUE", "the global lock word in the FACS", 1,
         [](Board& board, Values v) {
             board.knobs().setGlobalLockWord(number32(v[0], "lock-word"));
         }},
        {"register", "BANK REG VALUE", "one EC register", 3,
         [](Board& board, Values v) {
             board.knobs().setEcRegister(std::uint8_t(number(v[0], 0xFF, "bank")),
                                         std::uint8_t(number(v[1], 0xFF, "register")),
                                         std::uint8_t(number(v[2], 0xFF, "value")));
         }},
        {"reset-counters", "", "all counters back to zero", 0,
         [](Board& board, Values) {
             board.knobs().resetCounters();
         }},
        {"clear-trace", "", "empty the trace", 0,
         [](Board& board, Values) {
             board.knobs().clearTrace();
         }},
        {"clear-calls", "", "empty the bridge's call log", 0,
         [](Board& board, Values) {
             board.bridge().clearCalls();
         }},
        {"temperature", "TENTHS|host",
         "CPU temperature item pinned to TENTHS, or the host's sensor", 1,
         [](Board& board, Values v) {
             if (v[0] == "host")
                 board.items().setTemperature(std::nullopt);
             else
                 board.items().setTemperature(number32(v[0], "temperature"));
         }},
        {"item", "ID VALUE", "a firmware item's value, read-only items too", 2,
         [](Board& board, Values v) {
             const std::uint32_t id = number32(v[0], "item");
             if (!board.items().set(id, number32(v[1], "value")))
                 throw UsageError("the board has no item " + hex(id, 8));
         }},
        {"bridge", "online|offline", "whether the bridge holds its name", 1,
         [](Board& board, Values v) {
             changeFaults(
                 board,
                 [](BridgeFaults& f, const std::string& value) {
                     if (value != "online" && value != "offline")
                         throw UsageError("bridge is online or offline");
                     f.offline = value == "offline";
                 },
                 v[0]);
         }},
        {"unknown-method", "NAME|none", "the bridge does not know this method", 1,
         [](Board& board, Values v) {
             changeFaults(
                 board,
                 [](BridgeFaults& f, const std::string& value) {
                     if (value != "none" && !virtualboard::bridgeMethodByName(value))
                         throw UsageError("'" + value +
                                          "' is not a bridge method (iAcpiInit, ...)");
                     std::memset(f.unknownMethod, 0, sizeof f.unknownMethod);
                     if (value != "none")
                         std::memcpy(f.unknownMethod, value.data(), value.size());
                 },
                 v[0]);
         }},
        {"shorten", "LENGTH|off", "the lengths the bridge returns cut to LENGTH", 1,
         [](Board& board, Values v) {
             changeFaults(
                 board,
                 [](BridgeFaults& f, const std::string& value) {
                     f.shorten = value != "off";
                     f.shortenTo = f.shorten ? number32(value, "shorten") : 0;
                 },
                 v[0]);
         }},
        {"fail-group", "GROUP|none", "iAcpiGGrp of this group fails", 1,
         [](Board& board, Values v) {
             changeFaults(
                 board,
                 [](BridgeFaults& f, const std::string& value) {
                     f.failGroupSet = value != "none";
                     f.failGroup =
                         f.failGroupSet ? std::uint32_t(number(value, 0xFF, "fail-group")) : 0;
                 },
                 v[0]);
         }},
        {"malformed", "ID count|length|nul|none", "spoil the item's descriptor in this way", 2,
         [](Board& board, Values v) {
             static const std::map<std::string, virtualboard::MalformedKind> kinds = {
                 {"none", virtualboard::MalformedKind::None},
                 {"count", virtualboard::MalformedKind::ElementCount},
                 {"length", virtualboard::MalformedKind::ElementLength},
                 {"nul", virtualboard::MalformedKind::StringNul}};
             const auto kind = kinds.find(v[1]);
             if (kind == kinds.end())
                 throw UsageError("malformed takes count, length, nul or none");
             const std::uint32_t id = number32(v[0], "item");
             const bool none = kind->second == virtualboard::MalformedKind::None;
             if (!none && !board.items().find(id))
                 throw UsageError("the board has no item " + hex(id, 8));
             BridgeFaults faults = board.bridge().faults();
             faults.malformedItem = none ? 0 : id;
             faults.malformedKind = std::uint32_t(kind->second);
             board.bridge().setFaults(faults);
         }},
        {"delay", "MS", "every bridge call answers MS ms later", 1,
         [](Board& board, Values v) {
             changeFaults(
                 board,
                 [](BridgeFaults& f, const std::string& value) {
                     f.delayMs = std::uint32_t(number(value, 600000, "delay"));
                 },
                 v[0]);
         }},
    };
    return table;
}

int set(Invocation& call) {
    std::vector<std::string> rest = call.args.rest();
    if (rest.empty())
        throw UsageError("set needs a knob");
    const std::string& name = rest[0];
    const auto& table = knobs();
    const auto knob =
        std::find_if(table.begin(), table.end(), [&](const Knob& k) { return k.name == name; });
    if (knob == table.end())
        throw UsageError("unknown knob '" + name + "'");
    if (rest.size() != knob->count + 1)
        throw UsageError("set " + name + " takes " + std::to_string(knob->count) + " value(s)");
    knob->apply(*call.board, std::vector<std::string>(rest.begin() + 1, rest.end()));
    return 0;
}

void printEnvironment(const Board& board, const std::filesystem::path& hwioDir, bool shell,
                      std::ostream& out) {
    auto line = [&](const char* name, const std::filesystem::path& value) {
        std::string text = value.string();
        if (shell) {
            std::string quoted;
            for (char c : text)
                quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
            out << "export " << name << "='" << quoted << "'\n";
        } else {
            out << name << '=' << text << '\n';
        }
    };
    line("VBOARD_IMAGE", std::filesystem::absolute(board.path()));
    if (!board.facts().firmwareDirectory.empty())
        line("LUMIVANE_FIRMWARE_DIR", board.facts().firmwareDirectory);
    if (!hwioDir.empty())
        line("LUMIVANE_HWIO_DIR", std::filesystem::absolute(hwioDir));
}

int create(Invocation& call) {
    Arguments& args = call.args;
    BoardOptions options;
    if (auto v = args.option("--product"))
        options.productName = *v;
    if (auto v = args.option("--second-product"))
        options.secondProductName = *v;
    if (auto v = args.option("--baseboards"))
        options.baseboards = int(number(*v, 2, "--baseboards"));
    if (auto v = args.option("--baseboard-length"))
        options.baseboardLength = std::uint8_t(number(*v, 255, "--baseboard-length"));
    if (auto v = args.option("--table-address"))
        options.smbiosTableAddress = number32(*v, "--table-address");
    if (auto v = args.option("--entry-point-offset"))
        options.entryPointOffset = std::uint32_t(number(*v, 0xFFFF, "--entry-point-offset"));
    options.rsdp = !args.flag("--no-rsdp");
    options.tableService = !args.flag("--no-table-service");
    if (auto v = args.option("--busy"))
        parseBusy(*v, options.busyMode, options.busyReads);
    if (auto v = args.option("--firmware-lock"))
        options.firmwareLockMs = number32(*v, "--firmware-lock");
    options.openFails = args.flag("--open-fails");
    options.firmwareDrivesLeds = args.flag("--firmware-drives");
    if (auto v = args.option("--temperature")) {
        options.temperature = number32(*v, "--temperature");
        options.hostTemperature = false;
    }
    if (auto v = args.option("--missing-export"))
        options.missingExport = *v;
    std::filesystem::path firmwareDir = Board::defaultFirmwareDirectory(call.image);
    if (auto v = args.option("--firmware-dir"))
        firmwareDir = *v;
    std::filesystem::path hwioDir = Board::defaultLibraryDirectory(call.image);
    if (auto v = args.option("--hwio-dir"))
        hwioDir = *v;
    // An installed board: the programs load the stand-in from the library directory,
    // so no copy goes beside the image.
    const bool noHwio = args.flag("--no-hwio");
    args.done();
    if (noHwio && !options.missingExport.empty())
        throw UsageError("--missing-export needs the copy --no-hwio leaves out");

    virtualboard::validate(options); // before anything is written
    std::unique_ptr<Board> board = Board::create(call.image, options, firmwareDir);

    std::filesystem::path toolDir = os::fileBesideExecutable("").parent_path();
    try {
        if (noHwio)
            hwioDir.clear();
        else
            virtualboard::installHwio(toolDir, hwioDir, options.missingExport);
    } catch (const BoardError& error) {
        if (!options.missingExport.empty())
            throw;
        // The board itself is fine; only this copy of the library is not installed.
        call.err << "vboard: " << error.what() << "; LUMIVANE_HWIO_DIR not prepared\n";
        hwioDir.clear();
    }
    printEnvironment(*board, hwioDir, false, call.out);
    return 0;
}

std::atomic<bool> stopBridge{false};

extern "C" void onStopBridge(int) {
    stopBridge = true;
}

int bridge(Invocation& call) {
    Arguments& rest = call.args;
    const bool registering = rest.flag("--register");
    const bool unregistering = rest.flag("--unregister");
    std::optional<std::string> linger = rest.option("--linger");
    // COM starts a registered server with this argument of its own.
    const bool startedByCom = rest.flag("-Embedding") || rest.flag("/Embedding");
    rest.done();
    if (registering && unregistering)
        throw UsageError("bridge takes --register or --unregister, not both");
    const std::chrono::milliseconds lingering(linger ? number(*linger, 3600000, "--linger")
                                                     : virtualboard::kDefaultBridgeLinger.count());
    if (unregistering) {
        virtualboard::unregisterBridgeServer();
        call.out << "vboard: the ACPI bridge is no longer registered\n";
        return 0;
    }
    if (registering) {
        const std::optional<std::filesystem::path> program = os::executablePath();
        if (!program)
            throw std::runtime_error("cannot tell where this program is");
        // The board goes into the command line: COM starts the server with an
        // environment of its own choosing.
        const std::filesystem::path board = std::filesystem::absolute(call.image);
        virtualboard::registerBridgeServer(*program, "--image \"" + board.string() +
                                                         "\" bridge --linger " +
                                                         std::to_string(lingering.count()));
        call.out << "vboard: the ACPI bridge serves " << board.string() << '\n';
        return 0;
    }
    virtualboard::BridgeServing serving;
    if (startedByCom)
        serving.linger = lingering;
    stopBridge = false;
    auto previousTerm = std::signal(SIGTERM, onStopBridge);
    auto previousInt = std::signal(SIGINT, onStopBridge);
    const int status = virtualboard::serveBridge(call.image, serving, stopBridge, call.err);
    std::signal(SIGTERM, previousTerm);
    std::signal(SIGINT, previousInt);
    return status;
}

int monitor(Invocation& call) {
    unsigned rate = 60;
    unsigned long frames = 0;
    if (auto v = call.args.option("--rate"))
        rate = unsigned(number(*v, 1000, "--rate"));
    if (auto v = call.args.option("--frames"))
        frames = (unsigned long)number(*v, 0xFFFFFFFF, "--frames");
    call.args.done();
    if (rate == 0)
        throw UsageError("--rate is at least 1");
    monitorBoard(*call.board, rate, frames, call.out);
    return 0;
}

int env(Invocation& call) {
    call.args.done();
    std::filesystem::path hwioDir = Board::defaultLibraryDirectory(call.image);
    std::error_code ec;
    if (!std::filesystem::exists(hwioDir / virtualboard::hwioSystemName(), ec))
        hwioDir.clear();
    printEnvironment(*call.board, hwioDir, true, call.out);
    return 0;
}

void printUsage(std::ostream& out);

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"create",
         "[OPTIONS]",
         {"make a new board (replaces the image)"},
         {{"--product NAME", "baseboard product name (default XR40-SUMMIT)"},
          {"--second-product NAME", "product name of the second baseboard"},
          {"--baseboards 0|1|2", "number of baseboard structures (default 1)"},
          {"--baseboard-length N", "formatted-area length of each (default 15, at least 6)"},
          {"--table-address ADDR", "SMBIOS structure table address (default 0x000E1234)"},
          {"--entry-point-offset OFF", "\"_SM_\" at 0xF0000 + OFF (default 0x800)"},
          {"--no-rsdp", "no \"RSD PTR\" in the BIOS area"},
          {"--no-table-service", "leave the firmware directory empty"},
          {"--firmware-dir DIR", "firmware-table directory (default IMAGE.firmware)"},
          {"--hwio-dir DIR", "where to install the HwIO stand-in (default IMAGE.hwio)"},
          {"--no-hwio", "no stand-in beside the image (the installed one is loaded)"},
          {"--busy never|always|reads:N", "EC status behaviour (default never)"},
          {"--firmware-lock MS", "the firmware owns the global lock for MS ms"},
          {"--open-fails", "HWIO_Open returns 0"},
          {"--missing-export NAME", "the installed HwIO stand-in lacks NAME"},
          {"--firmware-drives", "the firmware drives the LEDs at power-on (0x13060041 = 0)"},
          {"--temperature TENTHS", "CPU temperature item pinned to TENTHS of a degree"}},
         false,
         create},
        {"show",
         "[--json]",
         {"LED colour, items, EC, lock word, PM1, register window,",
          "counters, the bridge's knobs and last calls"},
         {},
         true,
         [](Invocation& call) {
             const bool json = call.args.flag("--json");
             call.args.done();
             showBoard(*call.board, json, call.out);
             return 0;
         }},
        {"items",
         "[--json]",
         {"the firmware items with their values and control words"},
         {},
         true,
         [](Invocation& call) {
             const bool json = call.args.flag("--json");
             call.args.done();
             showItems(*call.board, json, call.out);
             return 0;
         }},
        {"calls",
         "[--json] [--last N]",
         {"the bridge's call log, oldest first"},
         {},
         true,
         [](Invocation& call) {
             const bool json = call.args.flag("--json");
             const std::size_t last = call.args.last();
             call.args.done();
             showCalls(*call.board, json, last, call.out);
             return 0;
         }},
        {"trace",
         "[--json] [--last N]",
         {"the port writes and register changes, oldest first"},
         {},
         true,
         [](Invocation& call) {
             const bool json = call.args.flag("--json");
             const std::size_t last = call.args.last();
             call.args.done();
             showTrace(*call.board, json, last, call.out);
             return 0;
         }},
        {"monitor",
         "[--rate HZ] [--frames N]",
         {"live swatch of the LED colour (default 60 Hz)"},
         {},
         true,
         monitor},
        {"set", "KNOB VALUE...", {"change one knob of the board:"}, {}, true, set},
        {"bridge",
         "",
         {"serve the ACPI bridge: on D-Bus ($LUMIVANE_BUS: system or",
          "session), or as the automation server on Windows"},
         {{"--register [--linger MS]", "Windows: make this board's vboard the ProgID's server;"},
          {"", "started by COM it ends MS ms after its last client"},
          {"", "(default 2000)"},
          {"--unregister", "Windows: remove that registration"}},
         false,
         bridge},
        {"env", "", {"shell lines that point programs at this board"}, {}, true, env},
        {"help",
         "",
         {"this text"},
         {},
         false,
         [](Invocation& call) {
             printUsage(call.out);
             return 0;
         }},
    };
    return table;
}

// "  left" padded to `column`, or followed by two spaces when it is longer.
void printRow(std::ostream& out, std::size_t indent, std::string_view left, std::size_t column,
              std::string_view text) {
    std::string line(indent, ' ');
    line += left;
    line.resize(std::max(line.size() + 2, column), ' ');
    out << line << text << '\n';
}

void printUsage(std::ostream& out) {
    out << "usage: vboard [--image PATH] COMMAND [OPTIONS]\n\n"
           "The board image is PATH, else $VBOARD_IMAGE, else lumivane-vboard.img in the user's\n"
           "runtime directory.\n\ncommands:\n";
    constexpr std::size_t kTextColumn = 28, kOptionColumn = 34;
    for (const Command& command : commands()) {
        // Appended piece by piece: `" " + std::string(...)` makes GCC 12 at -O2 for
        // 32-bit Windows warn of an overlapping copy that cannot happen.
        std::string left(command.name);
        if (!command.synopsis.empty())
            (left += ' ') += command.synopsis;
        for (std::size_t i = 0; i < command.help.size(); ++i)
            printRow(out, 2, i == 0 ? std::string_view(left) : "", kTextColumn, command.help[i]);
        for (const Option& option : command.options)
            printRow(out, 6, option.name, kOptionColumn, option.help);
        if (command.run == set)
            for (const Knob& knob : knobs()) {
                std::string knobLeft(knob.name);
                if (!knob.values.empty())
                    (knobLeft += ' ') += knob.values;
                printRow(out, 6, knobLeft, kOptionColumn, knob.help);
            }
    }
}

} // namespace

int runVboard(const std::vector<std::string>& all, std::ostream& out, std::ostream& err) {
    std::vector<std::string> args = all;
    try {
        std::filesystem::path image = Board::defaultImagePath();
        if (args.size() >= 2 && args[0] == "--image") {
            image = args[1];
            args.erase(args.begin(), args.begin() + 2);
        }
        if (args.empty()) {
            printUsage(err);
            return 2;
        }
        std::string name = args[0];
        if (name == "--help" || name == "-h")
            name = "help";
        const auto& table = commands();
        const auto command = std::find_if(table.begin(), table.end(),
                                          [&](const Command& c) { return c.name == name; });
        if (command == table.end())
            throw UsageError("unknown command '" + name + "'");
        Invocation call{image, Arguments(std::vector<std::string>(args.begin() + 1, args.end())),
                        out, err};
        std::unique_ptr<Board> board;
        if (command->onBoard) {
            board = Board::open(image);
            board->firmwareLock().service();
            call.board = board.get();
        }
        return command->run(call);
    } catch (const UsageError& error) {
        err << "vboard: " << error.what() << "\n(vboard help lists the commands)\n";
        return 2;
    } catch (const std::exception& error) {
        err << "vboard: " << error.what() << '\n';
        return 1;
    }
}

} // namespace vboard
