#pragma once

// Who the service is to the system: the name its installation, its event source and
// its message captions carry.

namespace service {

inline constexpr const char* kServiceName = "Vantor LED Control Service";
inline constexpr const char* kServiceDescription =
    "Provides LED Control Function for Vantorix Motherboard.";
// On Linux the service is the unit lumivane.service; its journal entries carry the
// same name, whatever the executable is called.
inline constexpr const char* kJournalIdentifier = "lumivane";

// The event texts the service writes while it runs.
inline constexpr const char* kEventStarted = "Service started/resumed";
inline constexpr const char* kEventStopped = "Service stopped";
inline constexpr const char* kEventNoHandler = "Handler not installed";
inline constexpr const char* kEventBadRequest = "Bad service request";

} // namespace service
