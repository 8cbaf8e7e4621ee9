#pragma once

// lumivanectl effect off|music|temperature [SECONDS]: the service's lighting controller
// run in this process on the board it finds, with the effect stored and applied as a
// client's request would; until SECONDS have passed or the process is interrupted.

#include <ostream>
#include <string>
#include <vector>

namespace lumivanectl {

// `words` starts with "effect". Returns the exit status.
int runEffectCommand(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);

} // namespace lumivanectl
