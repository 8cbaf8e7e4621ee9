#pragma once

// lumivanectl effect off|music|temperature [SECONDS]: the service's lighting controller
// run in this process on the board it finds, with the effect stored and applied as a
// client's request would; until SECONDS have passed or the process is interrupted.

#include <ostream>
#include <string>
#include <vector>

namespace lumivanectl {

inline constexpr const char* kEffectUsage =
    "usage: lumivanectl effect off|music|temperature [SECONDS]\n"
    "\n"
    "  effect        runs the lighting controller with that software effect (the music\n"
    "                playing, or the CPU temperature from green to red) until SECONDS have\n"
    "                passed or Ctrl-C; the effect is stored as the service stores it\n";

// `words` starts with "effect". Returns the exit status.
int runEffectCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);

} // namespace lumivanectl
