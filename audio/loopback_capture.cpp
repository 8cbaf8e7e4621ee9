#include "audio/loopback_capture.h"

#include "os/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace service {
namespace {

std::mutex printMutex;
CapturePrintSink printSink;
thread_local OutageReports* currentReports = nullptr;

bool firstTimeHere(const std::string& report) {
    return !currentReports || currentReports->firstTime(report);
}

} // namespace

bool OutageReports::firstTime(const std::string& report) {
    std::lock_guard lock(mutex_);
    anyTold_ = true;
    return told_.insert(report).second;
}

void OutageReports::delivered() {
    if (!anyTold_.load(std::memory_order_relaxed))
        return; // the common case, once per packet: nothing to forget
    std::lock_guard lock(mutex_);
    told_.clear();
    anyTold_ = false;
}

OutageReports::Scope::Scope(OutageReports& reports) : previous_(currentReports) {
    currentReports = &reports;
}

OutageReports::Scope::~Scope() {
    currentReports = previous_;
}

void captureMessage(std::string_view caption, std::string_view text) {
    std::string report(caption);
    report.append(": ").append(text);
    if (firstTimeHere(report))
        os::showMessage(caption, text);
}

void capturePrint(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (!firstTimeHere(line))
        return;

    CapturePrintSink sink;
    {
        std::lock_guard lock(printMutex);
        sink = printSink;
    }
    if (sink) {
        sink(line);
        return;
    }
    std::fputs(line, stdout);
    std::fflush(stdout);
}

CapturePrintSink setCapturePrintSink(CapturePrintSink sink) {
    std::lock_guard lock(printMutex);
    std::swap(printSink, sink);
    return sink;
}

void LoopbackCapture::setCallback(PacketCallback callback) {
    // Every packet ends an outage, whichever platform's run delivered it.
    callback_ = [this, callback = std::move(callback)](const std::uint8_t* samples,
                                                       std::uint32_t frames, std::uint32_t flags,
                                                       std::uint32_t channels) {
        reports_.delivered();
        if (callback)
            callback(samples, frames, flags, channels);
    };
}

void LoopbackCapture::setRunEndedCallback(RunEndedCallback callback) {
    runEnded_ = std::move(callback);
}

} // namespace service
