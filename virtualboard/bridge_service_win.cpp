#include "virtualboard/bridge_service.h"

#include <ostream>

namespace virtualboard {

// On Windows the bridge is an automation server of its own, registered under the
// ProgID; `vboard bridge` does not serve it.
int serveBridge(const std::filesystem::path&, const std::atomic<bool>&, std::ostream& err) {
    err << "vboard: bridge: on Windows the ACPI bridge stand-in is not served by vboard\n";
    return 1;
}

} // namespace virtualboard
