#include "os/diagnostics.h"

#include <memory>

namespace os {
namespace {

std::mutex sinkMutex;
DiagnosticSink currentSink;

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

} // namespace

void showMessage(std::string_view caption, std::string_view text) {
    if (!deliver(Diagnostic::Kind::Message, caption, text))
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
