#include "os/diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <syslog.h>

namespace os::detail {
namespace {

void journal(int priority, std::string_view prefix, std::string_view text) {
    std::string line(prefix);
    line.append(text);
    syslog(priority, "%s", line.c_str());
}

// Under systemd standard error may itself be a journal stream (JOURNAL_STREAM names
// its device and inode): the line written there and the syslog entry would then be
// the same line twice. Looked at on each call: a test or a program may redirect it.
bool stderrIsTheJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat status {};
    if (!stream || ::fstat(2, &status) != 0)
        return false;
    unsigned long long device = 0, inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2)
        return false;
    return device == static_cast<unsigned long long>(status.st_dev) &&
           inode == static_cast<unsigned long long>(status.st_ino);
}

void toStderr(std::string_view line) {
    if (!stderrIsTheJournal())
        std::fprintf(stderr, "%.*s", int(line.size()), line.data());
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
    const std::string prefix = std::string(caption) + ": ";
    toStderr(prefix + std::string(text) + "\n");
    journal(LOG_WARNING, prefix, text);
}

void platformDebugOutput(std::string_view text) {
    // Called for every colour the music effect shows: nothing at all unless asked.
    if (!debugWanted())
        return;
    toStderr(text);
    journal(LOG_DEBUG, {}, text);
}

void platformLogEvent(std::string_view source, std::string_view text) {
    journal(LOG_INFO, std::string(source) + ": ", text);
}

} // namespace os::detail
