#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace board {
class EcPortBinding;
class HwIOLibrary;
} // namespace board

namespace lumivanectl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1; // the board could not be reached or read
inline constexpr int kExitUsage = 2;

// The two I/O library bindings the commands work through.
struct BoardAccess {
    board::EcPortBinding& ledPorts;
    board::HwIOLibrary& hwio;
};
BoardAccess processBoardAccess();

// Runs one command line (without the program name); results on out, errors and
// the board code's own messages on err. Returns the exit status.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        BoardAccess access);

} // namespace lumivanectl
