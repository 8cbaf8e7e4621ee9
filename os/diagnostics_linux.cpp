#include "os/diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <syslog.h>

namespace os::detail {
namespace {

void journal(int priority, std::string_view prefix, std::string_view text) {
    std::string line(prefix);
    line.append(text);
    syslog(priority, "%s", line.c_str());
}

bool debugWanted() {
    static const bool wanted = [] {
        const char* value = std::getenv("LUMIVANE_DEBUG");
        return value && *value && std::string_view(value) != "0";
    }();
    return wanted;
}

} // namespace

void platformShowMessage(std::string_view caption, std::string_view text) {
    std::fprintf(stderr, "%.*s: %.*s\n", int(caption.size()), caption.data(), int(text.size()),
                 text.data());
    journal(LOG_WARNING, std::string(caption) + ": ", text);
}

void platformDebugOutput(std::string_view text) {
    // Called for every colour the music effect shows: nothing at all unless asked.
    if (!debugWanted())
        return;
    std::fprintf(stderr, "%.*s", int(text.size()), text.data());
    journal(LOG_DEBUG, {}, text);
}

void platformLogEvent(std::string_view source, std::string_view text) {
    journal(LOG_INFO, std::string(source) + ": ", text);
}

} // namespace os::detail
