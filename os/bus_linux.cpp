#include "os/bus_linux.h"

#include <cstdlib>
#include <sdbus-c++/sdbus-c++.h>
#include <string>

namespace os {

Bus chosenBus() {
    const char* setting = std::getenv("LUMIVANE_BUS");
    std::string bus = setting ? setting : "";
    if (bus.empty()) {
        const char* starter = std::getenv("DBUS_STARTER_BUS_TYPE");
        return starter && std::string(starter) == "session" ? Bus::Session : Bus::System;
    }
    if (bus == "system")
        return Bus::System;
    if (bus == "session")
        return Bus::Session;
    throw BusChoiceError("LUMIVANE_BUS is system or session, not '" + bus + "'");
}

std::unique_ptr<sdbus::IConnection> connectToBus() {
    return chosenBus() == Bus::Session ? sdbus::createSessionBusConnection()
                                       : sdbus::createSystemBusConnection();
}

} // namespace os
