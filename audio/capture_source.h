#pragma once

// Where the music effect gets its packets. Usually the machine's own loopback
// capture in this process; the installed Linux service, running as root, gets the
// seat user's sound from a helper running as that user instead.

#include "audio/loopback_capture.h"

#include <cstdint>
#include <utility>

namespace service {

// The part of LoopbackCapture's behaviour the music effect relies on: packets to a
// callback on a thread of the source's own, a run that ends by itself reported
// through the run-ended callback, start and stop as no-ops in the state they would
// reach.
class CaptureSource {
public:
    virtual ~CaptureSource() = default;

    virtual void setCallback(PacketCallback callback) = 0;
    virtual void setRunEndedCallback(RunEndedCallback callback) = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool waitStreaming(std::uint32_t milliseconds) const = 0;
    virtual std::int32_t result() const = 0;
    virtual std::uint32_t frameCount() const = 0;
};

// The loopback capture of this process as a source.
class LocalCaptureSource final : public CaptureSource {
public:
    explicit LocalCaptureSource(CaptureEndpoint endpoint) : capture_(endpoint) {}

    void setCallback(PacketCallback callback) override {
        capture_.setCallback(std::move(callback));
    }
    void setRunEndedCallback(RunEndedCallback callback) override {
        capture_.setRunEndedCallback(std::move(callback));
    }
    void start() override { capture_.start(); }
    void stop() override { capture_.stop(); }
    bool waitStreaming(std::uint32_t milliseconds) const override {
        return capture_.waitStreaming(milliseconds);
    }
    std::int32_t result() const override { return capture_.result(); }
    std::uint32_t frameCount() const override { return capture_.frameCount(); }

private:
    LoopbackCapture capture_;
};

} // namespace service
