#pragma once

// Runs the ACPI bridge stand-in as the platform's bridge, under the name the programs
// look for (board/acpi_bridge.h): on Linux a D-Bus service with the interface of
// data/dbus/tavlexCom.axdata.xml; on Windows an out-of-process automation server
// registered under the ProgID.

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

namespace virtualboard {

struct BridgeServing {
    // Windows, when COM started the server: it ends once no client has held an object
    // for this long. Unset, it serves until stopped. Clients create an object for every
    // operation, so a little lingering spares them a process start each time.
    std::optional<std::chrono::milliseconds> linger;
};

inline constexpr std::chrono::milliseconds kDefaultBridgeLinger{2000};

// Serves until `stop` is set or the bus goes away, on the bus os::chosenBus() names. While the
// board's offline knob is on the bridge gives its name up (Linux) or refuses to create objects
// (Windows), as a bridge that is not running would. Returns the exit status: 0 after `stop` or the
// end of lingering, 1 when the bus or COM could not be used.
int serveBridge(const std::filesystem::path& image, const BridgeServing& serving,
                const std::atomic<bool>& stop, std::ostream& err);

// Windows: records `program`, started with `arguments`, as the automation server of
// the ProgID (COM appends its own -Embedding). Throws std::runtime_error when the
// registry refuses, and on Linux, where bus activation files do this job.
void registerBridgeServer(const std::filesystem::path& program, const std::string& arguments);
// Removes that registration; nothing to do when there is none.
void unregisterBridgeServer();

} // namespace virtualboard
