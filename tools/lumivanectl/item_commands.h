#pragma once

// lumivanectl item list GROUP | get ID | set ID VALUE [CONTROL]: the firmware items as
// the programs see them, through the BIOS item registry and the ACPI bridge.

#include <ostream>
#include <string>
#include <vector>

namespace board {
class BiosItemRegistry;
}

namespace lumivanectl {

inline constexpr const char* kItemUsage =
    "usage: lumivanectl [--json] item list GROUP\n"
    "       lumivanectl [--json] item get ID\n"
    "       lumivanectl [--json] item set ID VALUE [CONTROL]\n"
    "\n"
    "  item list     the items of a firmware group (0 to 0xFF): id, kind, option count\n"
    "                and, for numbers and strings, the text of each option\n"
    "  item get      an item's value (ids and values decimal or 0x..)\n"
    "  item set      writes an item's value with a control word (default 1)\n";

// `words` starts with "item". Results on out, failures on err; returns the exit status.
int runItemCommand(const std::vector<std::string>& words, bool json, std::ostream& out,
                   std::ostream& err, board::BiosItemRegistry& registry);

} // namespace lumivanectl
