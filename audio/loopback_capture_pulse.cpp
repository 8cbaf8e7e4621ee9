// The capture on Linux: a record stream on the default sink's monitor, driven by a
// PulseAudio main loop that the capture thread owns. stop() interrupts the loop's
// poll, so a stop never waits for audio that may not come.

#include "audio/loopback_capture.h"
#include "audio/realtime_kit_linux.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <pulse/pulseaudio.h>
#include <sched.h>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace service {
namespace {

// The HRESULTs the run reports, as on Windows.
constexpr std::int32_t kOk = 0;
constexpr std::int32_t kFail = std::int32_t(0x80004005);     // E_FAIL
constexpr std::int32_t kNotFound = std::int32_t(0x80070490); // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
constexpr std::int32_t kOutOfMemory = std::int32_t(0x8007000E);

constexpr pa_usec_t kFragmentUsec = 10000;

// The round-robin priority the capture thread asks for: low among real-time threads,
// as audio clients take, so the sound server's own threads stay above it.
constexpr int kCapturePriority = 5;

// The capture thread runs ahead of ordinary work, as the audio engine's clients do:
// a packet held up behind a game's threads is a late colour. The desktop's broker
// grants it (an unprivileged helper has no other way); failing that, a process with
// the right (the service, as root) takes it itself; without either the thread runs
// at normal priority, and says so once per process.
void raiseCapturePriority() {
    std::string refused;
    if (requestRealtime(kCapturePriority, refused))
        return;
    sched_param param{};
    param.sched_priority = kCapturePriority;
    // Reset on fork: a child of this thread must not inherit the priority.
    if (sched_setscheduler(0, SCHED_RR | SCHED_RESET_ON_FORK, &param) == 0)
        return;
    static std::once_flag told;
    std::call_once(told, [&] {
        capturePrint("The capture thread runs at normal priority: no real-time broker (%s) "
                     "and no right to real-time scheduling\n",
                     refused.c_str());
    });
}

struct DeviceInfo {
    bool done = false;
    bool found = false;
    std::string name;
    pa_sample_spec sampleFormat{};
    pa_channel_map map{};
    std::string monitor;
};

// Sinks and sources answer the same query with different structures; what we keep of
// either is the same. For a sink the stream to record is its monitor, for a source
// the source itself.
template <typename Info>
void recordDevice(void* user, const Info* info, int eol, const char* monitor) {
    auto* found = static_cast<DeviceInfo*>(user);
    if (eol) {
        found->done = true;
    } else if (info) {
        found->found = true;
        found->sampleFormat = info->sample_spec;
        found->map = info->channel_map;
        found->monitor = monitor ? monitor : "";
    }
}

} // namespace

enum class RunState { Idle, Starting, Streaming, Ended };

struct LoopbackCapture::Platform {
    std::thread thread;
    std::atomic<bool> stopRequested{false};

    std::mutex mutex;
    std::condition_variable changed;
    RunState state = RunState::Idle;
    pa_mainloop* loop = nullptr; // while the capture thread has one; wakeups go here

    void setState(RunState next) {
        {
            std::lock_guard lock(mutex);
            state = next;
        }
        changed.notify_all();
    }
};

namespace {

class PulseRun {
public:
    PulseRun(LoopbackCapture::Platform& platform, CaptureEndpoint endpoint,
             const PacketCallback& callback, std::uint32_t& frameCount)
        : platform_(platform), endpoint_(endpoint), callback_(callback), frameCount_(frameCount) {}

    ~PulseRun() {
        if (stream_) {
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        if (context_) {
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
        if (loop_) {
            {
                std::lock_guard lock(platform_.mutex);
                platform_.loop = nullptr;
            }
            pa_mainloop_free(loop_);
        }
    }

    std::int32_t run() {
        loop_ = pa_mainloop_new();
        if (!loop_) {
            capturePrint("pa_mainloop_new failed\n");
            return kOutOfMemory;
        }
        {
            std::lock_guard lock(platform_.mutex);
            platform_.loop = loop_;
        }

        context_ = pa_context_new(pa_mainloop_get_api(loop_), "Lumivane");
        if (!context_) {
            capturePrint("pa_context_new failed\n");
            return kOutOfMemory;
        }
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            capturePrint("pa_context_connect failed: %s\n",
                         pa_strerror(pa_context_errno(context_)));
            return kFail;
        }
        if (!iterateUntil([this] { return contextSettled(); }))
            return stoppedOrFailed();
        if (pa_context_get_state(context_) != PA_CONTEXT_READY) {
            capturePrint("PulseAudio connection failed: %s\n",
                         pa_strerror(pa_context_errno(context_)));
            return kFail;
        }

        DeviceInfo device;
        if (std::int32_t hr = findDevice(device); hr != kOk || stopped())
            return hr != kOk ? hr : stoppedOrFailed();

        channels_ = device.sampleFormat.channels;
        frameBytes_ = std::size_t(channels_) * 2;
        pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, device.sampleFormat.rate,
                                    device.sampleFormat.channels};
        stream_ = pa_stream_new(context_, "Loopback capture", &sampleFormat, &device.map);
        if (!stream_) {
            capturePrint("pa_stream_new failed: %s\n", pa_strerror(pa_context_errno(context_)));
            return kFail;
        }
        // Fragments of 10 ms with the latency adjusted to them: the monitor then asks
        // its sink to render in blocks that small, whatever the players ask. Without
        // it a sink whose only player asks for the server's default (seconds, as many
        // players do) renders, and its monitor delivers, in bursts of up to 2 s, and
        // the colours miss most of the music. The price is the sound server's: it
        // wakes every few milliseconds while the effect runs (measured beside the
        // latency benchmark). The queue on the server holds a second at most: anything
        // older is stale.
        pa_buffer_attr attr;
        std::memset(&attr, 0xFF, sizeof attr); // server defaults for the rest
        attr.fragsize = std::uint32_t(pa_usec_to_bytes(kFragmentUsec, &sampleFormat));
        packetBytes_ = attr.fragsize;
        attr.maxlength = std::uint32_t(pa_usec_to_bytes(1000000, &sampleFormat));
        const char* source = device.monitor.c_str();
        // Never moved: when its sink goes, the server would move the stream to some
        // other source, a microphone perhaps. It ends instead, and the next run takes
        // whatever output is the default then.
        if (pa_stream_connect_record(
                stream_, source, &attr,
                pa_stream_flags_t(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY)) < 0) {
            capturePrint("pa_stream_connect_record(%s) failed: %s\n", source,
                         pa_strerror(pa_context_errno(context_)));
            return kFail;
        }
        if (!iterateUntil([this] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; }))
            return stoppedOrFailed();
        if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
            capturePrint("Capture stream on %s failed: %s\n", source,
                         pa_strerror(pa_context_errno(context_)));
            return kFail;
        }

        device_ = device.name;
        pa_context_set_subscribe_callback(
            context_,
            [](pa_context*, pa_subscription_event_type_t type, std::uint32_t, void* user) {
                if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER)
                    static_cast<PulseRun*>(user)->serverChanged_ = true;
            },
            this);
        if (pa_operation* op =
                pa_context_subscribe(context_, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr))
            pa_operation_unref(op);

        platform_.setState(RunState::Streaming);
        return streamLoop();
    }

private:
    bool stopped() const { return platform_.stopRequested.load(); }

    bool contextSettled() const {
        const pa_context_state_t state = pa_context_get_state(context_);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    }

    // Runs the loop until done() holds; false when a stop came first or the loop failed.
    template <typename Done>
    bool iterateUntil(Done done) {
        while (!done()) {
            if (stopped())
                return false;
            if (pa_mainloop_iterate(loop_, 1, nullptr) < 0) {
                loopFailed_ = true;
                return false;
            }
        }
        return true;
    }

    std::int32_t stoppedOrFailed() {
        if (loopFailed_) {
            capturePrint("pa_mainloop_iterate failed on pass %u after %u frames\n", pass_,
                         frameCount_);
            return kFail;
        }
        capturePrint("Received stop event after %u passes and %u frames\n", pass_, frameCount_);
        return kOk;
    }

    // The name of the default sink (or source, for the default-capture seam).
    bool defaultDevice(std::string& name) {
        struct ServerQuery {
            bool done = false;
            std::string sink, source;
        } server;
        pa_operation* op = pa_context_get_server_info(
            context_,
            [](pa_context*, const pa_server_info* info, void* user) {
                auto* query = static_cast<ServerQuery*>(user);
                if (info) {
                    query->sink = info->default_sink_name ? info->default_sink_name : "";
                    query->source = info->default_source_name ? info->default_source_name : "";
                }
                query->done = true;
            },
            &server);
        if (!finish(op, server.done))
            return false;
        name = endpoint_ == CaptureEndpoint::RenderLoopback ? server.sink : server.source;
        return true;
    }

    std::int32_t findDevice(DeviceInfo& device) {
        if (!defaultDevice(device.name))
            return stopped() ? kOk : queryFailed("pa_context_get_server_info");

        const bool loopback = endpoint_ == CaptureEndpoint::RenderLoopback;
        pa_operation* op = nullptr;
        if (device.name.empty())
            return noDevice();

        if (loopback) {
            op = pa_context_get_sink_info_by_name(
                context_, device.name.c_str(),
                [](pa_context*, const pa_sink_info* info, int eol, void* user) {
                    recordDevice(user, info, eol, info ? info->monitor_source_name : nullptr);
                },
                &device);
        } else {
            op = pa_context_get_source_info_by_name(
                context_, device.name.c_str(),
                [](pa_context*, const pa_source_info* info, int eol, void* user) {
                    recordDevice(user, info, eol, info ? info->name : nullptr);
                },
                &device);
        }
        if (!finish(op, device.done))
            return stopped() ? kOk : queryFailed("pa_context_get_device_info");
        if (!device.found || device.monitor.empty() || device.sampleFormat.channels == 0)
            return noDevice();
        return kOk;
    }

    // Waits for the query's answer. A server that goes away meanwhile never answers:
    // its connection fails and the operation is cancelled, which ends the wait too.
    bool finish(pa_operation* op, const bool& done) {
        if (!op)
            return false;
        iterateUntil([&] {
            return done || pa_operation_get_state(op) != PA_OPERATION_RUNNING ||
                   !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
        });
        if (!done)
            pa_operation_cancel(op);
        pa_operation_unref(op);
        return done;
    }

    std::int32_t queryFailed(const char* what) {
        capturePrint("%s failed: %s\n", what, pa_strerror(pa_context_errno(context_)));
        return kFail;
    }

    std::int32_t noDevice() {
        capturePrint("No default %s to capture from\n",
                     endpoint_ == CaptureEndpoint::RenderLoopback ? "sink" : "source");
        captureMessage("ERROR", "get_default_device failed!");
        return kNotFound;
    }

    std::int32_t streamLoop() {
        for (;;) {
            if (std::int32_t hr = drain(); hr != kOk)
                return hr;
            if (stopped()) {
                capturePrint("Received stop event after %u passes and %u frames\n", pass_,
                             frameCount_);
                return kOk;
            }
            if (pa_mainloop_iterate(loop_, 1, nullptr) < 0) {
                capturePrint("pa_mainloop_iterate failed on pass %u after %u frames\n", pass_,
                             frameCount_);
                return kFail;
            }
            ++pass_;
            if (serverChanged_) {
                serverChanged_ = false;
                std::string now;
                if (defaultDevice(now) && now != device_) {
                    capturePrint("The default output is now %s: the capture follows it after "
                                 "%u frames\n",
                                 now.c_str(), frameCount_);
                    return kCaptureDefaultChanged;
                }
            }
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
                capturePrint("Capture stream ended on pass %u after %u frames: %s\n", pass_,
                             frameCount_, pa_strerror(pa_context_errno(context_)));
                return kFail;
            }
        }
    }

    std::int32_t drain() {
        while (pa_stream_readable_size(stream_) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream_, &data, &bytes) < 0) {
                capturePrint("pa_stream_peek failed on pass %u after %u frames: %s\n", pass_,
                             frameCount_, pa_strerror(pa_context_errno(context_)));
                return kFail;
            }
            if (bytes == 0)
                break;
            if (data)
                deliver(static_cast<const std::uint8_t*>(data), bytes);
            else
                flags_ |= kPacketDiscontinuity; // a hole: samples the server lost
            pa_stream_drop(stream_);
        }
        return kOk;
    }

    void deliver(const std::uint8_t* data, std::size_t bytes) {
        // Packets of exactly 10 ms, whatever blocks the sink renders in (5 ms when a
        // player asks for little, a burst should the server not honour our latency):
        // the analysis
        // then runs once per colour cycle, always on the same length, whose
        // transform plan it keeps (441 frames at 44100 Hz, where 442, a product of
        // large primes, would cost several times as much). Whatever is left over,
        // partial frames included, waits for the next block.
        if (!partial_.empty()) {
            const std::size_t taken = std::min(bytes, packetBytes_ - partial_.size());
            partial_.insert(partial_.end(), data, data + taken);
            data += taken;
            bytes -= taken;
            if (partial_.size() < packetBytes_)
                return;
            hand(partial_.data(), packetBytes_);
            partial_.clear();
        }
        for (; bytes >= packetBytes_; data += packetBytes_, bytes -= packetBytes_)
            hand(data, packetBytes_);
        partial_.assign(data, data + bytes);
    }

    void hand(const std::uint8_t* data, std::size_t bytes) {
        const auto frames = std::uint32_t(bytes / frameBytes_);
        if (frames == 0)
            return;
        if (callback_)
            callback_(data, frames, flags_, channels_);
        flags_ = 0;
        frameCount_ += frames;
    }

    LoopbackCapture::Platform& platform_;
    CaptureEndpoint endpoint_;
    const PacketCallback& callback_;
    std::uint32_t& frameCount_;
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::uint32_t channels_ = 0;
    std::size_t frameBytes_ = 0;
    std::size_t packetBytes_ = 0; // 10 ms of frames: what every packet holds
    std::uint32_t pass_ = 0;
    std::uint32_t flags_ = 0;
    bool loopFailed_ = false;
    std::string device_;         // the sink (or source) of the running stream
    bool serverChanged_ = false; // the server announced a change, such as a new default
    std::vector<std::uint8_t> partial_;
};

} // namespace

LoopbackCapture::LoopbackCapture(CaptureEndpoint endpoint)
    : endpoint_(endpoint), platform_(std::make_unique<Platform>()) {}

LoopbackCapture::~LoopbackCapture() {
    stop();
}

void LoopbackCapture::start() {
    if (platform_->thread.joinable())
        return;
    OutageReports::Scope reports(reports_);
    result_ = kCaptureUnexpected;
    frameCount_ = 0;
    platform_->stopRequested = false;
    platform_->setState(RunState::Starting);
    try {
        platform_->thread = std::thread([this] {
            OutageReports::Scope reports(reports_);
            raiseCapturePriority();
            result_ = PulseRun(*platform_, endpoint_, callback_, frameCount_).run();
            platform_->setState(RunState::Ended);
            if (runEnded_ && !platform_->stopRequested)
                runEnded_(result_);
        });
    } catch (const std::system_error& error) {
        capturePrint("CreateThread failed: last error is %u\n", unsigned(error.code().value()));
        platform_->setState(RunState::Idle);
    }
}

void LoopbackCapture::stop() {
    if (!platform_->thread.joinable())
        return;
    OutageReports::Scope reports(reports_);
    platform_->stopRequested = true;
    {
        std::lock_guard lock(platform_->mutex);
        if (platform_->loop)
            pa_mainloop_wakeup(platform_->loop);
    }
    platform_->thread.join();
    platform_->setState(RunState::Idle);
    if (result_ != 0)
        capturePrint("Thread HRESULT is 0x%08x\n", unsigned(result_));
}

bool LoopbackCapture::active() const {
    return platform_->thread.joinable();
}

bool LoopbackCapture::waitStreaming(std::uint32_t milliseconds) const {
    std::unique_lock lock(platform_->mutex);
    platform_->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                [this] { return platform_->state != RunState::Starting; });
    return platform_->state == RunState::Streaming;
}

} // namespace service
