#include "os/diagnostics.h"

#include <cstdlib>
#include <fstream>
#include <memory>

namespace os {
namespace {

std::mutex sinkMutex;
DiagnosticSink currentSink;
std::string messageEventSource;  // under sinkMutex; empty: messages are boxes
bool messagesToDebugger = false; // under sinkMutex; when there is no event source

// Copies the sink out under the lock, so a sink may itself report or be replaced.
bool deliver(Diagnostic::Kind kind, std::string_view caption, std::string_view text) {
    DiagnosticSink sink;
    {
        std::lock_guard lock(sinkMutex);
        sink = currentSink;
    }
    if (!sink)
        return false;
    sink(Diagnostic{kind, std::string(caption), std::string(text)});
    return true;
}

// Several processes may append to the same file: one write per line, opened for
// appending, keeps their lines whole. A file that cannot be written still means
// nobody is there to close a box.
bool appendToMessageFile(std::string_view caption, std::string_view text) {
    const char* file = std::getenv("LUMIVANE_MESSAGE_FILE");
    if (!file || !*file)
        return false;
    std::string line(caption);
    line.append(": ").append(text).append("\n");
    static std::mutex fileMutex;
    std::lock_guard lock(fileMutex);
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out.write(line.data(), std::streamsize(line.size()));
    return true;
}

} // namespace

void showMessage(std::string_view caption, std::string_view text) {
    std::string source;
    bool toDebugger = false;
    {
        std::lock_guard lock(sinkMutex);
        source = messageEventSource;
        toDebugger = messagesToDebugger;
    }
    if (!source.empty() || toDebugger) {
        std::string line(caption);
        line.append(": ").append(text);
        if (!source.empty())
            logEvent(source, line);
        else
            debugOutput(line.append("\n"));
        return;
    }
    if (deliver(Diagnostic::Kind::Message, caption, text))
        return;
    if (!appendToMessageFile(caption, text))
        detail::platformShowMessage(caption, text);
}

void debugOutput(std::string_view text) {
    if (!deliver(Diagnostic::Kind::Debug, {}, text))
        detail::platformDebugOutput(text);
}

void logEvent(std::string_view source, std::string_view text) {
    if (!deliver(Diagnostic::Kind::Event, source, text))
        detail::platformLogEvent(source, text);
}

void routeMessagesToEventLog(std::string source) {
    std::lock_guard lock(sinkMutex);
    messageEventSource = std::move(source);
    messagesToDebugger = false;
}

void routeMessagesToDebugger() {
    std::lock_guard lock(sinkMutex);
    messageEventSource.clear();
    messagesToDebugger = true;
}

DiagnosticSink setDiagnosticSink(DiagnosticSink sink) {
    std::lock_guard lock(sinkMutex);
    std::swap(currentSink, sink);
    return sink;
}

CapturedDiagnostics::CapturedDiagnostics() {
    previous_ = setDiagnosticSink([this](const Diagnostic& d) {
        std::lock_guard lock(mutex_);
        captured_.push_back(d);
    });
}

CapturedDiagnostics::~CapturedDiagnostics() {
    setDiagnosticSink(std::move(previous_));
}

std::vector<Diagnostic> CapturedDiagnostics::all() const {
    std::lock_guard lock(mutex_);
    return captured_;
}

std::vector<Diagnostic> CapturedDiagnostics::messages() const {
    std::lock_guard lock(mutex_);
    std::vector<Diagnostic> result;
    for (const Diagnostic& d : captured_)
        if (d.kind == Diagnostic::Kind::Message)
            result.push_back(d);
    return result;
}

void CapturedDiagnostics::clear() {
    std::lock_guard lock(mutex_);
    captured_.clear();
}

} // namespace os
