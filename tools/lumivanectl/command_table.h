#pragma once

// What the commands of the tool's table get and throw. The table itself, the dispatch
// and the usage text made from it are in command_table.cpp.

#include "commands.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace board {
class BiosItemRegistry;
}

namespace lumivanectl {

// The command line cannot be run: the message, then the usage of the command's group.
struct UsageError {
    explicit UsageError(std::string text) : text(std::move(text)) {}
    std::string text;
};

// The board, the firmware items or a file could not be reached or read.
struct Failure {
    explicit Failure(std::string text) : text(std::move(text)) {}
    std::string text;
};

struct Invocation {
    std::vector<std::string> words; // from the group's word on, without the options
    std::ostream& out;
    std::ostream& err;
    bool json = false;
    bool write = false;
    std::uint32_t frames = 0;                 // --frames, 0 when not given
    const BoardAccess* board = nullptr;       // for the board and lock commands
    board::BiosItemRegistry* items = nullptr; // the process's registry when null
};

// The firmware items the item commands work on. The bridge is an automation object,
// so this enters the thread into an apartment first.
board::BiosItemRegistry& registryOf(const Invocation& call);

// The usage of `group`: its own block, or the tool's for the groups listed in full there.
void printUsage(std::ostream& out, std::string_view group);

// Runs a command of `group` (words[1] names it); usage errors print that group's usage.
int runGroup(std::string_view group, const Invocation& invocation);

} // namespace lumivanectl
