#pragma once

// The program as a plain local server, started by COM for a client: it offers the
// class until the last object and lock are gone, then ends.

#include <windows.h>

namespace service {

// S_OK after an orderly end, or the failure that kept the class from being offered.
HRESULT runLocalServer();

} // namespace service
