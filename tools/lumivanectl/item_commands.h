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

struct Invocation;

int itemList(const Invocation& call);
int itemGet(const Invocation& call);
int itemSet(const Invocation& call);

// The item commands over `registry`: `words` starts with "item". Results on out,
// failures and the item usage on err; returns the exit status.
int runItemCommand(const std::vector<std::string>& words, bool json, std::ostream& out,
                   std::ostream& err, board::BiosItemRegistry& registry);

} // namespace lumivanectl
