#pragma once

// The `vboard` tool: create a virtual board, look at it, change its test knobs.
// runVboard is the whole program, callable in-process by tests.

#include "virtualboard/board.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace vboard {

// args excludes the program name. Returns the exit status: 0 success, 1 failure,
// 2 usage error.
int runVboard(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// Parts of the program, for the commands file.
void showBoard(virtualboard::Board& board, bool json, std::ostream& out);
void showItems(virtualboard::Board& board, bool json, std::ostream& out);
void showCalls(const virtualboard::Board& board, bool json, std::size_t last, std::ostream& out);
void showTrace(const virtualboard::Board& board, bool json, std::size_t last, std::ostream& out);
// Draws the LED colour `frames` times (0: until interrupted) at `rate` frames a second.
void monitorBoard(virtualboard::Board& board, unsigned rate, unsigned long frames,
                  std::ostream& out);

std::string hex(std::uint64_t value, int digits);

} // namespace vboard
