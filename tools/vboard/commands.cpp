#include "os/executable.h"
#include "vboard.h"
#include "virtualboard/bridge.h"
#include "virtualboard/bridge_service.h"
#include "virtualboard/firmware.h"
#include "virtualboard/hwio_install.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>

namespace vboard {

using virtualboard::Board;
using virtualboard::BoardError;
using virtualboard::BoardOptions;
using virtualboard::BusyMode;

namespace {

const char* const kUsage = R"(usage: vboard [--image PATH] COMMAND [OPTIONS]

The board image is PATH, else $VBOARD_IMAGE, else lumivane-vboard.img in the user's
runtime directory.

commands:
  create [OPTIONS]        make a new board (replaces the image)
      --product NAME            baseboard product name (default XR40-SUMMIT)
      --second-product NAME     product name of the second baseboard
      --baseboards 0|1|2        number of baseboard structures (default 1)
      --baseboard-length N      formatted-area length of each (default 15, at least 6)
      --table-address ADDR      SMBIOS structure table address (default 0x000E1234)
      --entry-point-offset OFF  "_SM_" at 0xF0000 + OFF (default 0x800)
      --no-rsdp                 no "RSD PTR" in the BIOS area
      --no-table-service        leave the firmware directory empty
      --firmware-dir DIR        firmware-table directory (default IMAGE.firmware)
      --hwio-dir DIR            where to install the HwIO stand-in (default IMAGE.hwio)
      --busy never|always|reads:N   EC status behaviour (default never)
      --firmware-lock MS        the firmware owns the global lock for MS ms
      --open-fails              HWIO_Open returns 0
      --missing-export NAME     the installed HwIO stand-in lacks NAME
      --firmware-drives         the firmware drives the LEDs at power-on (0x13060041 = 0)
      --temperature TENTHS      CPU temperature item pinned to TENTHS of a degree
  show [--json]           LED colour, items, EC, lock word, PM1, register window,
                          counters, the bridge's knobs and last calls
  items [--json]          the firmware items with their values and control words
  calls [--json] [--last N]   the bridge's call log, oldest first
  trace [--json] [--last N]   the port writes and register changes, oldest first
  monitor [--rate HZ] [--frames N]  live swatch of the LED colour (default 60 Hz)
  set KNOB VALUE...       busy never|always|reads:N; open-fails on|off;
                          firmware-lock MS; lock-word VALUE; register BANK REG VALUE;
                          reset-counters; clear-trace; clear-calls;
                          temperature TENTHS|host; item ID VALUE;
                          bridge online|offline; unknown-method NAME|none;
                          shorten LENGTH|off; fail-group GROUP|none;
                          malformed ID count|length|nul|none; delay MS
  bridge                  serve the ACPI bridge: on D-Bus ($LUMIVANE_BUS: system or
                          session), or as the automation server on Windows
      --register [--linger MS]  Windows: make this board's vboard the ProgID's server;
                                started by COM it ends MS ms after its last client
                                (default 2000)
      --unregister              Windows: remove that registration
  env                     shell lines that point programs at this board
)";

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

void parseBusy(const std::string& text, BusyMode& mode, std::uint32_t& reads) {
    if (text == "never") {
        mode = BusyMode::Never;
    } else if (text == "always") {
        mode = BusyMode::Always;
    } else if (text.rfind("reads:", 0) == 0) {
        mode = BusyMode::ForReads;
        reads = std::uint32_t(number(text.substr(6), 0xFFFFFFFF, "busy reads"));
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

int create(const std::filesystem::path& image, Arguments args, std::ostream& out,
           std::ostream& err) {
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
        options.smbiosTableAddress = std::uint32_t(number(*v, 0xFFFFFFFF, "--table-address"));
    if (auto v = args.option("--entry-point-offset"))
        options.entryPointOffset = std::uint32_t(number(*v, 0xFFFF, "--entry-point-offset"));
    options.rsdp = !args.flag("--no-rsdp");
    options.tableService = !args.flag("--no-table-service");
    if (auto v = args.option("--busy"))
        parseBusy(*v, options.busyMode, options.busyReads);
    if (auto v = args.option("--firmware-lock"))
        options.firmwareLockMs = std::uint32_t(number(*v, 0xFFFFFFFF, "--firmware-lock"));
    options.openFails = args.flag("--open-fails");
    options.firmwareDrivesLeds = args.flag("--firmware-drives");
    if (auto v = args.option("--temperature")) {
        options.temperature = std::uint32_t(number(*v, 0xFFFFFFFF, "--temperature"));
        options.hostTemperature = false;
    }
    if (auto v = args.option("--missing-export"))
        options.missingExport = *v;
    std::filesystem::path firmwareDir = Board::defaultFirmwareDirectory(image);
    if (auto v = args.option("--firmware-dir"))
        firmwareDir = *v;
    std::filesystem::path hwioDir = Board::defaultLibraryDirectory(image);
    if (auto v = args.option("--hwio-dir"))
        hwioDir = *v;
    args.done();

    virtualboard::validate(options); // before anything is written
    std::unique_ptr<Board> board = Board::create(image, options, firmwareDir);

    std::filesystem::path toolDir = os::fileBesideExecutable("").parent_path();
    try {
        virtualboard::installHwio(toolDir, hwioDir, options.missingExport);
    } catch (const BoardError& error) {
        if (!options.missingExport.empty())
            throw;
        // The board itself is fine; only this copy of the library is not installed.
        err << "vboard: " << error.what() << "; LUMIVANE_HWIO_DIR not prepared\n";
        hwioDir.clear();
    }
    printEnvironment(*board, hwioDir, false, out);
    return 0;
}

int setFault(Board& board, const std::string& knob, const std::vector<std::string>& rest);

int set(Board& board, Arguments args) {
    std::vector<std::string> rest = args.rest();
    if (rest.empty())
        throw UsageError("set needs a knob");
    const std::string knob = rest[0];
    auto expect = [&](std::size_t count) {
        if (rest.size() != count + 1)
            throw UsageError("set " + knob + " takes " + std::to_string(count) + " value(s)");
    };
    if (knob == "busy") {
        expect(1);
        BusyMode mode = BusyMode::Never;
        std::uint32_t reads = 0;
        parseBusy(rest[1], mode, reads);
        board.knobs().setBusyMode(mode, reads);
    } else if (knob == "open-fails") {
        expect(1);
        if (rest[1] != "on" && rest[1] != "off")
            throw UsageError("open-fails is on or off");
        board.knobs().setOpenFails(rest[1] == "on");
    } else if (knob == "firmware-lock") {
        expect(1);
        board.firmwareLock().take(std::uint32_t(number(rest[1], 0xFFFFFFFF, "firmware-lock")));
    } else if (knob == "lock-word") {
        expect(1);
        board.knobs().setGlobalLockWord(std::uint32_t(number(rest[1], 0xFFFFFFFF, "lock-word")));
    } else if (knob == "register") {
        expect(3);
        board.knobs().setEcRegister(std::uint8_t(number(rest[1], 0xFF, "bank")),
                                    std::uint8_t(number(rest[2], 0xFF, "register")),
                                    std::uint8_t(number(rest[3], 0xFF, "value")));
    } else if (knob == "reset-counters") {
        expect(0);
        board.knobs().resetCounters();
    } else if (knob == "clear-trace") {
        expect(0);
        board.knobs().clearTrace();
    } else if (knob == "clear-calls") {
        expect(0);
        board.bridge().clearCalls();
    } else if (knob == "temperature") {
        expect(1);
        if (rest[1] == "host")
            board.items().setTemperature(std::nullopt);
        else
            board.items().setTemperature(std::uint32_t(number(rest[1], 0xFFFFFFFF, "temperature")));
    } else if (knob == "item") {
        expect(2);
        const auto id = std::uint32_t(number(rest[1], 0xFFFFFFFF, "item"));
        if (!board.items().set(id, std::uint32_t(number(rest[2], 0xFFFFFFFF, "value"))))
            throw UsageError("the board has no item " + hex(id, 8));
    } else {
        return setFault(board, knob, rest);
    }
    return 0;
}

int setFault(Board& board, const std::string& knob, const std::vector<std::string>& rest) {
    auto expect = [&](std::size_t count) {
        if (rest.size() != count + 1)
            throw UsageError("set " + knob + " takes " + std::to_string(count) + " value(s)");
    };
    virtualboard::BridgeFaults faults = board.bridge().faults();
    if (knob == "bridge") {
        expect(1);
        if (rest[1] != "online" && rest[1] != "offline")
            throw UsageError("bridge is online or offline");
        faults.offline = rest[1] == "offline";
    } else if (knob == "unknown-method") {
        expect(1);
        if (rest[1] == "none") {
            std::memset(faults.unknownMethod, 0, sizeof faults.unknownMethod);
        } else {
            if (!virtualboard::bridgeMethodByName(rest[1]))
                throw UsageError("'" + rest[1] + "' is not a bridge method (iAcpiInit, ...)");
            std::memset(faults.unknownMethod, 0, sizeof faults.unknownMethod);
            std::memcpy(faults.unknownMethod, rest[1].data(), rest[1].size());
        }
    } else if (knob == "shorten") {
        expect(1);
        faults.shorten = rest[1] != "off";
        faults.shortenTo =
            faults.shorten ? std::uint32_t(number(rest[1], 0xFFFFFFFF, "shorten")) : 0;
    } else if (knob == "fail-group") {
        expect(1);
        faults.failGroupSet = rest[1] != "none";
        faults.failGroup =
            faults.failGroupSet ? std::uint32_t(number(rest[1], 0xFF, "fail-group")) : 0;
    } else if (knob == "malformed") {
        expect(2);
        static const std::map<std::string, virtualboard::MalformedKind> kinds = {
            {"none", virtualboard::MalformedKind::None},
            {"count", virtualboard::MalformedKind::ElementCount},
            {"length", virtualboard::MalformedKind::ElementLength},
            {"nul", virtualboard::MalformedKind::StringNul}};
        const auto kind = kinds.find(rest[2]);
        if (kind == kinds.end())
            throw UsageError("malformed takes count, length, nul or none");
        const auto id = std::uint32_t(number(rest[1], 0xFFFFFFFF, "item"));
        if (kind->second != virtualboard::MalformedKind::None && !board.items().find(id))
            throw UsageError("the board has no item " + hex(id, 8));
        faults.malformedItem = kind->second == virtualboard::MalformedKind::None ? 0 : id;
        faults.malformedKind = std::uint32_t(kind->second);
    } else if (knob == "delay") {
        expect(1);
        faults.delayMs = std::uint32_t(number(rest[1], 600000, "delay"));
    } else {
        throw UsageError("unknown knob '" + knob + "'");
    }
    board.bridge().setFaults(faults);
    return 0;
}

std::atomic<bool> stopBridge{false};

extern "C" void onStopBridge(int) {
    stopBridge = true;
}

int bridge(const std::filesystem::path& image, Arguments rest, std::ostream& out,
           std::ostream& err) {
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
        out << "vboard: the ACPI bridge is no longer registered\n";
        return 0;
    }
    if (registering) {
        const std::optional<std::filesystem::path> program = os::executablePath();
        if (!program)
            throw std::runtime_error("cannot tell where this program is");
        // The board goes into the command line: COM starts the server with an
        // environment of its own choosing.
        const std::filesystem::path board = std::filesystem::absolute(image);
        virtualboard::registerBridgeServer(*program, "--image \"" + board.string() +
                                                         "\" bridge --linger " +
                                                         std::to_string(lingering.count()));
        out << "vboard: the ACPI bridge serves " << board.string() << '\n';
        return 0;
    }
    virtualboard::BridgeServing serving;
    if (startedByCom)
        serving.linger = lingering;
    stopBridge = false;
    auto previousTerm = std::signal(SIGTERM, onStopBridge);
    auto previousInt = std::signal(SIGINT, onStopBridge);
    const int status = virtualboard::serveBridge(image, serving, stopBridge, err);
    std::signal(SIGTERM, previousTerm);
    std::signal(SIGINT, previousInt);
    return status;
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
        if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
            (args.empty() ? err : out) << kUsage;
            return args.empty() ? 2 : 0;
        }
        const std::string command = args[0];
        Arguments rest(std::vector<std::string>(args.begin() + 1, args.end()));
        if (command == "create")
            return create(image, std::move(rest), out, err);
        if (command == "bridge")
            return bridge(image, std::move(rest), out, err);

        std::unique_ptr<Board> board = Board::open(image);
        // Whoever looks at the board also lets the firmware's time pass.
        board->firmwareLock().service();
        if (command == "show") {
            bool json = rest.flag("--json");
            rest.done();
            showBoard(*board, json, out);
        } else if (command == "trace") {
            bool json = rest.flag("--json");
            std::size_t last = 0;
            if (auto v = rest.option("--last"))
                last = std::size_t(number(*v, 0xFFFFFFFF, "--last"));
            rest.done();
            showTrace(*board, json, last, out);
        } else if (command == "monitor") {
            unsigned rate = 60;
            unsigned long frames = 0;
            if (auto v = rest.option("--rate"))
                rate = unsigned(number(*v, 1000, "--rate"));
            if (auto v = rest.option("--frames"))
                frames = (unsigned long)number(*v, 0xFFFFFFFF, "--frames");
            rest.done();
            if (rate == 0)
                throw UsageError("--rate is at least 1");
            monitorBoard(*board, rate, frames, out);
        } else if (command == "items") {
            bool json = rest.flag("--json");
            rest.done();
            showItems(*board, json, out);
        } else if (command == "calls") {
            bool json = rest.flag("--json");
            std::size_t last = 0;
            if (auto v = rest.option("--last"))
                last = std::size_t(number(*v, 0xFFFFFFFF, "--last"));
            rest.done();
            showCalls(*board, json, last, out);
        } else if (command == "set") {
            return set(*board, std::move(rest));
        } else if (command == "env") {
            rest.done();
            std::filesystem::path hwioDir = Board::defaultLibraryDirectory(image);
            std::error_code ec;
            if (!std::filesystem::exists(hwioDir / virtualboard::hwioSystemName(), ec))
                hwioDir.clear();
            printEnvironment(*board, hwioDir, true, out);
        } else {
            throw UsageError("unknown command '" + command + "'");
        }
        return 0;
    } catch (const UsageError& error) {
        err << "vboard: " << error.what() << "\n(vboard help lists the commands)\n";
        return 2;
    } catch (const std::exception& error) {
        err << "vboard: " << error.what() << '\n';
        return 1;
    }
}

} // namespace vboard
