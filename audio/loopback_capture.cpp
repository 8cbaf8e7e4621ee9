#include "audio/loopback_capture.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace service {
namespace {

std::mutex printMutex;
CapturePrintSink printSink;

} // namespace

void capturePrint(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);

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
    callback_ = std::move(callback);
}

void LoopbackCapture::setRunEndedCallback(RunEndedCallback callback) {
    runEnded_ = std::move(callback);
}

} // namespace service
