#pragma once

// lumivanectl board ... and lock test: the board's tables, LED registers and global lock
// through the I/O library.

namespace lumivanectl {

struct Invocation;

int boardName(const Invocation& invocation);
int boardSmbios(const Invocation& invocation);
int boardHsl(const Invocation& invocation);
int boardColor(const Invocation& invocation);
int boardTemperatureColor(const Invocation& invocation);
int lockTest(const Invocation& invocation);

} // namespace lumivanectl
