#pragma once

// Runs the ACPI bridge stand-in as the platform's bridge: on Linux a D-Bus service
// with bus name, object "/axdata" and interface all "tavlexCom.axdata".

#include <atomic>
#include <filesystem>
#include <iosfwd>

namespace virtualboard {

inline constexpr const char* kBridgeBusName = "tavlexCom.axdata";
inline constexpr const char* kBridgeObjectPath = "/axdata";

// Serves until `stop` is set or the bus goes away. The bus is LUMIVANE_BUS (system,
// the default, or session); a bridge started by bus activation and given no
// LUMIVANE_BUS serves the bus that started it. While the board's offline knob is on
// the bridge gives its name up, as a bridge that is not running would. Returns the
// exit status: 0 after `stop`, 1 when the bus could not be used.
int serveBridge(const std::filesystem::path& image, const std::atomic<bool>& stop,
                std::ostream& err);

} // namespace virtualboard
