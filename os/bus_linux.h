#pragma once

// Which D-Bus bus the product's endpoints use, clients and servers alike.
// LUMIVANE_BUS=system or session; unset, the bus that started this program by
// activation (DBUS_STARTER_BUS_TYPE), else the system bus, where the installed
// service lives.

#include <memory>
#include <sdbus-c++/IConnection.h>
#include <stdexcept>

namespace os {

enum class Bus { System, Session };

class BusChoiceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws BusChoiceError for a value that names no bus.
Bus chosenBus();

// A new connection to the chosen bus. Throws BusChoiceError, and sdbus::Error when
// the bus cannot be reached.
std::unique_ptr<sdbus::IConnection> connectToBus();

} // namespace os
