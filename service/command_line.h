#pragma once

// The registration switches of the service program. A switch is "-" or "/" followed by
// its word, anywhere in the line the system reports (the program's own path too); the
// word is compared without regard to case and must end at white space or at the end.
// Installers and COM both build such lines, so the rules stay exactly these.

#include <string>
#include <string_view>

namespace service {

enum class Switch { None, UnregServer, RegServer, UnregServerPerUser, RegServerPerUser, Service };

// The switch that decides this run. The first pass looks only for the four
// registration words, and the first that occurs wins; only a line without any of them
// is searched for "Service". Anything else (such as COM's "-Embedding") is ignored.
Switch findSwitch(std::string_view commandLine);

// Who reads this run's messages. A person runs the registration switches and sees
// their boxes. Any other run is the service or a local server COM started, with
// nobody at a desktop to close a box that would block it: its messages go to the
// event log of `source` from the start, before the controller can raise one.
void routeMessagesFor(Switch chosen, std::string source);

} // namespace service
