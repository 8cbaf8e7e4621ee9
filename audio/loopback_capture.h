#pragma once

// Captures what the default playback device plays, as 16-bit packets handed to a
// callback on a capture thread of its own. On Windows: the audio engine's
// shared-mode loopback of the default render endpoint. On Linux: the default
// sink's monitor, at the sink's rate and channel count, in 10 ms fragments.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

namespace service {

// A packet: interleaved frames of `channels` 16-bit signed little-endian samples,
// valid only during the call. flags: the audio engine's buffer flags, unexamined.
using PacketCallback = std::function<void(const std::uint8_t* samples, std::uint32_t frames,
                                          std::uint32_t flags, std::uint32_t channels)>;

// Buffer flag for a gap in the captured stream.
inline constexpr std::uint32_t kPacketDiscontinuity = 0x1;

// Result of a capture run that has not ended, or did not start (E_UNEXPECTED).
inline constexpr std::int32_t kCaptureUnexpected = std::int32_t(0x8000FFFF);
// Result of a run that ended because another output became the default: a success,
// and the next run captures the new one.
inline constexpr std::int32_t kCaptureDefaultChanged = 1;

// Called on the capture thread when a run ends without a stop (the sound server went
// away, the device vanished, the default output changed), with the run's result.
using RunEndedCallback = std::function<void(std::int32_t result)>;

// Which endpoint the capture opens. The product always captures the render mix;
// the default capture endpoint exists for Wine, which has no loopback: there the
// default capture endpoint is the monitor of what is played, so the rest of the
// capture path can still be exercised.
enum class CaptureEndpoint { RenderLoopback, DefaultCapture };

// A failure that the restart loop meets on every retry (no output device, no sound
// server) is told once per outage: from the first failed run until a run delivers
// packets again. Lines and messages are told through it while a Scope lives on the
// telling thread.
class OutageReports {
public:
    // True the first time this outage meets `report`.
    bool firstTime(const std::string& report);
    // Packets arrived: the next failure is news again.
    void delivered();

    class Scope {
    public:
        explicit Scope(OutageReports& reports);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        OutageReports* previous_;
    };

private:
    std::mutex mutex_;
    std::set<std::string> told_;
    std::atomic<bool> anyTold_{false};
};

// A message for a person ("get_default_device failed!"), once per outage.
void captureMessage(std::string_view caption, std::string_view text);

class LoopbackCapture {
public:
    explicit LoopbackCapture(CaptureEndpoint endpoint = CaptureEndpoint::RenderLoopback);
    // Stops a capture still running.
    ~LoopbackCapture();
    LoopbackCapture(const LoopbackCapture&) = delete;
    LoopbackCapture& operator=(const LoopbackCapture&) = delete;

    // Set before the first start.
    void setCallback(PacketCallback callback);
    void setRunEndedCallback(RunEndedCallback callback);

    // Starts a capture thread; failures are printed, and leave the capture idle so
    // that a later start tries again. Does nothing while a capture thread exists.
    void start();
    // Ends the capture thread, waits for it and reports a failed run. Does nothing
    // when no capture thread exists.
    void stop();

    // True from a start that made a capture thread until the stop that ends it.
    bool active() const;
    // Waits until the stream of the current run delivers (true) or the run has
    // ended or the time is up (false).
    bool waitStreaming(std::uint32_t milliseconds) const;

    // The last run's outcome (an HRESULT; 0 success) and its frame count; read them
    // after stop().
    std::int32_t result() const { return result_; }
    std::uint32_t frameCount() const { return frameCount_; }

    struct Platform;

private:
    friend struct Platform;

    CaptureEndpoint endpoint_;
    PacketCallback callback_;
    RunEndedCallback runEnded_;
    std::int32_t result_ = kCaptureUnexpected;
    std::uint32_t frameCount_ = 0;
    OutageReports reports_;
    std::unique_ptr<Platform> platform_;
};

// The capture's diagnostic trail: one printf-formatted line per failure and one at
// each stop, on standard output (nobody watches it in the service; developers
// running it by hand do). Tests redirect it.
void capturePrint(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
using CapturePrintSink = std::function<void(const std::string& line)>;
// Replaces where the lines go (empty: standard output); returns the previous sink.
CapturePrintSink setCapturePrintSink(CapturePrintSink sink);

} // namespace service
