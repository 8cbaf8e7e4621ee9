#pragma once

// The program as the system's service: what /Service and a registered LocalService
// lead to.

#include <windows.h>

namespace service {

// Not yet: the process ends with HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED).
HRESULT runAsService();

} // namespace service
