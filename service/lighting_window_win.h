#pragma once

// The thread the lighting controller is made on, with the hidden window through
// which the system tells the program of suspend and resume.

namespace service {

// The window's class and title, by which other programs find it.
inline constexpr const wchar_t* kLightingWindowName = L"Vantor LED Service";

// Starts the thread and returns; it lives until the process ends.
void startLightingThread();

} // namespace service
