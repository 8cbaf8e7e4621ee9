#pragma once

// What the registration switches write and remove: the class under its ProgIDs, the
// type library (which also lets COM marshal the interface), and the application's
// identity, with or without the service. Each function returns S_OK or the first
// failure as an HRESULT; a step runs only when the one before it succeeded.

#include <windows.h>

namespace service {

enum class RegistrationScope { Machine, User };

// /RegServer, /RegServerPerUser: the identity without a service (an installed
// service is stopped and deleted first), then the class, then the type library. The
// scope chooses where the class and the type library go; the identity is always the
// machine's.
HRESULT registerServer(RegistrationScope scope);
// /UnregServer, /UnregServerPerUser: the class, the type library, the service, and
// the machine's identity's LocalService value.
HRESULT unregisterServer(RegistrationScope scope);

// /Service: the identity as the service (an installed one is removed first, then
// the program is installed afresh to start with the system), then the class and the
// type library, for the whole machine.
HRESULT registerService();

// Stops and deletes the installed service of the program's name; a service that is
// not installed is no failure. Failures are told in a message box.
HRESULT removeService();

} // namespace service
