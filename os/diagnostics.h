#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The three ways the system tells a person or a log something. Each goes to the
// platform's own place unless a sink is installed; tests install one, because a
// real message box under a headless Wine never returns.

namespace os {

struct Diagnostic {
    enum class Kind { Message, Debug, Event };
    Kind kind;
    std::string caption; // message caption, or event source; empty for debug output
    std::string text;

    bool operator==(const Diagnostic&) const = default;
};

// A message box with an OK button (Windows); standard error and the journal (Linux).
// Without a sink, when LUMIVANE_MESSAGE_FILE names a file, the message is appended to
// it as the line "caption: text" instead: installers and tests run unattended, and a
// box nobody can see would wait for ever.
void showMessage(std::string_view caption, std::string_view text);
// The debugger (Windows); the journal at debug priority when LUMIVANE_DEBUG is set (Linux).
void debugOutput(std::string_view text);
// An information entry in the event log (Windows); the journal (Linux).
void logEvent(std::string_view source, std::string_view text);

// Inside a running service nobody sits at a desktop to close a box: from this call
// on, showMessage writes an event of `source` instead ("caption: text"). An empty
// source gives the boxes back.
void routeMessagesToEventLog(std::string source);
// A program that COM starts for a client has no desktop of its own either, and no
// event source: from this call on, showMessage sends "caption: text" to the
// debugger output. routeMessagesToEventLog({}) gives the boxes back.
void routeMessagesToDebugger();

using DiagnosticSink = std::function<void(const Diagnostic&)>;
// Replaces where diagnostics go; an empty sink restores the platform's outputs.
// Returns the previous sink.
DiagnosticSink setDiagnosticSink(DiagnosticSink sink);

// Collects every diagnostic while it lives, from any thread.
class CapturedDiagnostics {
public:
    CapturedDiagnostics();
    ~CapturedDiagnostics();
    CapturedDiagnostics(const CapturedDiagnostics&) = delete;
    CapturedDiagnostics& operator=(const CapturedDiagnostics&) = delete;

    std::vector<Diagnostic> all() const;
    std::vector<Diagnostic> messages() const; // only the message boxes
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<Diagnostic> captured_;
    DiagnosticSink previous_;
};

namespace detail {
void platformShowMessage(std::string_view caption, std::string_view text);
void platformDebugOutput(std::string_view text);
void platformLogEvent(std::string_view source, std::string_view text);
} // namespace detail

} // namespace os
