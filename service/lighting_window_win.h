#pragma once

// The thread the lighting controller is made on, with the hidden window through
// which the system tells the program of suspend and resume.

namespace service {

// The window's class and title, by which other programs find it.
inline constexpr const wchar_t* kLightingWindowName = L"Vantor LED Service";

// Starts the thread and returns; it lives until the process ends.
void startLightingThread();

// Waits at most limitMs for the thread to have made the controller. A process that
// ends sooner (a registration switch is quick) could cut the controller's first save
// of Lighting.xml short and leave its temporary file behind.
void waitForLightingController(unsigned long limitMs);

} // namespace service
