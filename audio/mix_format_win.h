#pragma once

// The audio engine's mix format, turned into the 16-bit integer format the capture
// asks for in its place.

// windows.h first: the audio headers build on its types.
// clang-format off
#include <windows.h>
#include <mmreg.h>
// clang-format on

namespace service {

// Rewrites a float mix format (plain, or extensible with a float sub-format) in
// place as 16-bit PCM with the same channels, rate and channel mask. Any other
// format is refused with a printed line and E_UNEXPECTED, and left alone.
HRESULT coerceMixFormatToInt16(WAVEFORMATEX* format);

// The capture timer's period: half the device period (100-ns units, low 32 bits),
// in whole milliseconds.
LONG captureTimerPeriodMs(LONGLONG devicePeriod);

} // namespace service
