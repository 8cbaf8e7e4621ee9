#pragma once

// Linux only: the bus the bridge lives on. LUMIVANE_BUS=system (the default) or
// session; any other value reaches no bus (null).

#include <memory>
#include <sdbus-c++/IConnection.h>

namespace board {

// Throws sdbus::Error when the bus cannot be reached.
std::unique_ptr<sdbus::IConnection> connectToBridgeBus();

} // namespace board
