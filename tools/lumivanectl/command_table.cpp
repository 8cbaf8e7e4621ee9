#include "command_table.h"

#include "audio_commands.h"
#include "board_commands.h"
#include "item_commands.h"
#include "os/diagnostics.h"
#include "service_commands.h"

#include <algorithm>
#include <exception>

namespace lumivanectl {
namespace {

// The options a command takes.
constexpr unsigned kJson = 1;
constexpr unsigned kWrite = 2;
constexpr unsigned kFrames = 4;

struct Command {
    std::string_view group;
    std::string_view name; // empty when the group's word is the whole command
    std::string_view arguments;
    unsigned options;
    int (*handler)(const Invocation&);
    std::string_view help;          // its lines, '\n' between them
    std::string_view formerly = {}; // an older word for `name`: still accepted, never listed
};

const Command kCommands[] = {
    {"board", "name", "", kJson, boardName,
     "the baseboard's product name and whether it is the supported model"},
    {"board", "smbios", "", kJson, boardSmbios,
     "the SMBIOS structures: type, handle, length and strings"},
    {"board", "hsl", "HUE SATURATION LIGHTNESS [--write]", kJson | kWrite, boardHsl,
     "the register bytes of a colour (each value 0 to 1); --write also\n"
     "writes them to the LED registers (blue, green, red)"},
    {"board", "color", "RED GREEN BLUE", kJson | kWrite, boardColor,
     "writes the LED registers (each value 0 to 255, decimal or 0x..)"},
    {"board", "temperature-color", "CELSIUS [--write]", kJson | kWrite, boardTemperatureColor,
     "the bytes the CPU temperature effect shows for CELSIUS (whole degrees);\n"
     "--write also writes them (red, green, blue) under the global lock",
     "temperature-colour"},
    {"lock", "test", "[ATTEMPTS]", kJson, lockTest,
     "takes the firmware's ACPI global lock (1500 attempts 1 ms apart, or\n"
     "ATTEMPTS; 0 waits for ever), says whether it was obtained, gives it back"},
    {"item", "list", "GROUP", kJson, itemList,
     "the items of a firmware group (0 to 0xFF): id, kind, option count\n"
     "and, for numbers and strings, the text of each option"},
    {"item", "get", "ID", kJson, itemGet, "an item's value (ids and values decimal or 0x..)"},
    {"item", "set", "ID VALUE [CONTROL]", kJson, itemSet,
     "writes an item's value with a control word (default 1)"},
    {"audio", "analyse", "FILE.wav [--frames N]", kFrames | kJson, audioAnalyse,
     "the three band values of each packet (10 ms, or N frames)"},
    {"audio", "colors", "FILE.wav", kJson, audioColors,
     "the colour the music effect writes for each 10 ms cycle", "colours"},
    {"audio", "capture", "SECONDS", 0, audioCapture,
     "captures what the machine plays: frames and bands per packet"},
    {"mode", "", "[off|music|temperature|N]", kJson, serviceMode,
     "the lighting service's effect mode; with an argument, sets it first\n"
     "(the service keeps 0, 1 or 2: any other number becomes off)"},
    {"color", "", "[VALUE]", kJson, serviceColor,
     "the color the service keeps for its clients; with VALUE (32 bits,\n"
     "decimal or 0x..) stores it first: the LEDs do not change"},
    {"status", "", "", kJson, serviceStatus,
     "whether the lighting service answers, its mode and its color; the\n"
     "board's name, whether its lighting is on and who drives the LEDs"},
};

enum class Parsing {
    Shared, // --json, --write and --help anywhere on the line
    Audio,  // --frames N and a --help of its own; other words are the command's
};

enum class Listing {
    Main,    // in full in the tool's usage
    After,   // a block of its own, after the tool's usage in the help and in usage errors
    OwnHelp, // one line in the tool's usage, pointing at GROUP --help for its block
};

struct Group {
    std::string_view word;
    Parsing parsing;
    Listing listing;
};

constexpr Group kGroups[] = {
    {"board", Parsing::Shared, Listing::Main},  {"lock", Parsing::Shared, Listing::Main},
    {"item", Parsing::Shared, Listing::After},  {"audio", Parsing::Audio, Listing::OwnHelp},
    {"mode", Parsing::Shared, Listing::Main},   {"color", Parsing::Shared, Listing::Main},
    {"status", Parsing::Shared, Listing::Main},
};

const Group* findGroup(std::string_view word) {
    for (const Group& group : kGroups)
        if (group.word == word)
            return &group;
    return nullptr;
}

std::vector<const Command*> commandsOf(std::string_view group) {
    std::vector<const Command*> commands;
    for (const Command& command : kCommands)
        if (command.group == group)
            commands.push_back(&command);
    return commands;
}

std::vector<const Command*> commandsOf(Listing listing) {
    std::vector<const Command*> commands;
    for (const Group& group : kGroups)
        if (group.listing == listing)
            for (const Command* command : commandsOf(group.word))
                commands.push_back(command);
    return commands;
}

// "a", "a or b", "a, b or c".
std::string join(const std::vector<std::string>& words, std::string_view last) {
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i)
            text += i + 1 == words.size() ? last : ", ";
        text += words[i];
    }
    return text;
}

std::string label(const Command& command) {
    std::string text(command.group);
    if (!command.name.empty())
        text.append(" ").append(command.name);
    return text;
}

std::string synopsis(const Command& command) {
    std::string line = "lumivanectl ";
    if (command.options & kJson)
        line += "[--json] ";
    line += label(command);
    if (!command.arguments.empty())
        line.append(" ").append(command.arguments);
    return line;
}

// The line that stands for a group in the tool's usage.
std::string summary(const Group& group) {
    const std::vector<const Command*> commands = commandsOf(group.word);
    if (commands.size() == 1)
        return synopsis(*commands.front());
    std::vector<std::string> names;
    for (const Command* command : commands)
        names.emplace_back(command->name);
    std::string line = "lumivanectl ";
    line.append(group.word).append(" ");
    for (std::size_t i = 0; i < names.size(); ++i)
        line += (i ? "|" : "") + names[i];
    line += " ...";
    if (group.listing == Listing::OwnHelp)
        line.append(" (lumivanectl ").append(group.word).append(" --help)");
    return line;
}

// The synopses, then each command's help in one column; a label too long for the
// column has a line of its own.
void printBlock(std::ostream& out, const std::vector<std::string>& synopses,
                const std::vector<const Command*>& commands) {
    constexpr std::size_t kNarrowest = 12, kWidest = 16;
    for (std::size_t i = 0; i < synopses.size(); ++i)
        out << (i ? "       " : "usage: ") << synopses[i] << '\n';
    out << '\n';
    std::size_t width = kNarrowest;
    for (const Command* command : commands)
        if (label(*command).size() <= kWidest)
            width = std::max(width, label(*command).size());
    const std::string indent(width + 4, ' ');
    for (const Command* command : commands) {
        const std::string name = label(*command);
        out << "  " << name;
        if (name.size() > width)
            out << '\n' << indent;
        else
            out << std::string(width + 2 - name.size(), ' ');
        std::string_view help = command->help;
        for (std::size_t end; (end = help.find('\n')) != std::string_view::npos;
             help.remove_prefix(end + 1))
            out << help.substr(0, end) << '\n' << indent;
        out << help << '\n';
    }
}

void printGroupBlock(std::ostream& out, const Group& group) {
    const std::vector<const Command*> commands = commandsOf(group.word);
    std::vector<std::string> synopses;
    for (const Command* command : commands)
        synopses.push_back(synopsis(*command));
    printBlock(out, synopses, commands);
}

void printToolUsage(std::ostream& out) {
    const std::vector<const Command*> main = commandsOf(Listing::Main);
    std::vector<std::string> synopses;
    for (const Command* command : main)
        synopses.push_back(synopsis(*command));
    for (const Group& group : kGroups)
        if (group.listing == Listing::OwnHelp)
            synopses.push_back(summary(group));
    printBlock(out, synopses, main);
    for (const Group& group : kGroups)
        if (group.listing == Listing::After) {
            out << '\n';
            printGroupBlock(out, group);
        }
}

// Where the group is null, the usage error is the tool's.
template <typename Body>
int guarded(const Group* group, std::ostream& err, Body body) {
    try {
        return body();
    } catch (const UsageError& error) {
        err << "lumivanectl: " << error.text << '\n';
        if (group && group->listing != Listing::Main)
            printGroupBlock(err, *group);
        else
            printToolUsage(err);
        return kExitUsage;
    } catch (const Failure& failure) {
        err << "lumivanectl: " << failure.text << '\n';
        return kExitFailed;
    } catch (const std::exception& error) {
        err << "lumivanectl: " << error.what() << '\n';
        return kExitFailed;
    }
}

const Command& commandFor(const Group& group, const std::vector<std::string>& words) {
    const std::vector<const Command*> commands = commandsOf(group.word);
    if (commands.size() == 1 && commands.front()->name.empty())
        return *commands.front();
    std::vector<std::string> names;
    for (const Command* command : commands)
        names.emplace_back(command->name);
    if (words.size() < 2)
        throw UsageError(std::string(group.word) + " needs a command: " + join(names, " or "));
    for (const Command* command : commands)
        if (words[1] == command->name ||
            (!command->formerly.empty() && words[1] == command->formerly))
            return *command;
    throw UsageError(std::string("unknown ").append(group.word) + " command \"" + words[1] + "\"");
}

void requireTaken(const Command& command, unsigned option, bool given, const char* flag) {
    if (!given || (command.options & option))
        return;
    std::vector<std::string> takers;
    for (const Command& other : kCommands)
        if (other.options & option)
            takers.push_back(label(other));
    throw UsageError(std::string(flag) + " belongs to " + join(takers, " and "));
}

int runCommand(const Group& group, const Invocation& call) {
    const Command& command = commandFor(group, call.words);
    requireTaken(command, kJson, call.json, "--json");
    requireTaken(command, kWrite, call.write, "--write");
    requireTaken(command, kFrames, call.frames != 0, "--frames");
    return command.handler(call);
}

int runAudioLine(const Group& group, const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err) {
    return guarded(&group, err, [&] {
        Invocation call{.words = {}, .out = out, .err = err};
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--help" || args[i] == "-h") {
                printGroupBlock(out, group);
                return kExitOk;
            }
            if (args[i] == "--json") {
                call.json = true;
            } else if (args[i] == "--write") {
                call.write = true; // refused below: no audio command writes
            } else if (args[i] == "--frames") {
                if (i + 1 >= args.size())
                    throw UsageError("--frames needs a number");
                call.frames = parseCount(args[++i], "--frames");
            } else {
                call.words.push_back(args[i]);
            }
        }
        return runCommand(group, call);
    });
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

void printUsage(std::ostream& out, std::string_view group) {
    const Group* found = findGroup(group);
    if (found && found->listing != Listing::Main)
        printGroupBlock(out, *found);
    else
        printToolUsage(out);
}

int runGroup(std::string_view group, const Invocation& call) {
    const Group* found = findGroup(group);
    return guarded(found, call.err, [&] {
        if (!found)
            throw UsageError(std::string("unknown command \"").append(group) + "\"");
        return runCommand(*found, call);
    });
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        BoardAccess access) {
    MessagesTo messages(err);
    // Options may come before the group's word; the audio group reads the line itself.
    const auto first = std::find_if(args.begin(), args.end(),
                                    [](const std::string& arg) { return arg.rfind("--", 0) != 0; });
    if (const Group* group = first == args.end() ? nullptr : findGroup(*first)) {
        if (group->parsing == Parsing::Audio)
            return runAudioLine(*group, args, out, err);
    }

    Invocation call{.words = {}, .out = out, .err = err, .board = &access};
    bool help = false;
    for (const std::string& arg : args) {
        if (arg == "--json")
            call.json = true;
        else if (arg == "--write")
            call.write = true;
        else if (arg == "--help" || arg == "-h")
            help = true;
        else
            call.words.push_back(arg);
    }
    if (help) {
        printToolUsage(out);
        return kExitOk;
    }
    if (call.words.empty())
        return guarded(nullptr, err, []() -> int { throw UsageError("no command given"); });
    return runGroup(call.words.front(), call);
}

} // namespace lumivanectl
