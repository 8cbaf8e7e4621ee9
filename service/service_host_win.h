#pragma once

// The program as the system's service: what a registered LocalService leads to.

#include <windows.h>

namespace service {

// Hands the process to the service control dispatcher until the service has
// stopped. When the dispatcher cannot be started (the program was started by hand),
// the result is its error code itself, as the process's exit code.
HRESULT runAsService();

// What the service does with a control from the manager. The manager calls it on
// the dispatcher's thread; tests call it directly.
void handleServiceControl(DWORD control);

} // namespace service
