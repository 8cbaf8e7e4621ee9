#pragma once

// Windows only: the automation side of the bridge transport, open for tests that stand
// an IDispatch of their own in for the bridge.

#include "board/acpi_bridge.h"

#include <oaidl.h>
#include <span>

namespace board {

// Calls `name` on `dispatch` with `arguments` given in the method's parameter order.
// E_FAIL for a null dispatch; GetIDsOfNames's failure as it came; else Invoke's result.
HRESULT invokeByName(WORD flags, VARIANT* result, IDispatch* dispatch, const wchar_t* name,
                     std::span<const VARIANT> arguments);

// A bridge session over an already created object; takes over the reference.
std::unique_ptr<BridgeSession> makeComBridgeSession(IDispatch* dispatch);

} // namespace board
