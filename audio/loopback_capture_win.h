#pragma once

// Where the Windows capture finds its devices: the system's device enumerator, or a
// stand-in that a test puts in its place to play a default device that changes, or
// an audio service that is not up yet.

// clang-format off
#include <windows.h>
#include <mmdeviceapi.h>
// clang-format on

#include <functional>

namespace service {

// Makes an enumerator for one capture run's start, as CoCreateInstance would.
using DeviceEnumeratorFactory = std::function<HRESULT(IMMDeviceEnumerator** enumerator)>;
// Empty: the system's enumerator. Returns the previous factory.
DeviceEnumeratorFactory setDeviceEnumeratorFactory(DeviceEnumeratorFactory factory);

} // namespace service
