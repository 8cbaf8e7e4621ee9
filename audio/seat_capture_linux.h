#pragma once

// The music effect's packets in the installed service, which runs as root: the sound
// of the user of the active session on seat0, as the login manager names them,
// captured by the helper program (lumivane-capture) running as that user and handed
// over a channel this process creates. A session switch or log-out ends the run, so
// that the next one follows the new user; the helper ends its run when that user's
// sound server goes away, and the music effect starts the next one as after any
// ended run. Nobody at the seat: a run that delivers nothing, and the LEDs are dark
// as with silence.

#include "audio/capture_source.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <grp.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace service {

struct SeatUser {
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    std::string name;
    std::string runtimeDirectory;
};

// The groups a log-in gives `name` (the "audio" group, say), `gid` among them, as
// `list` (getgrouplist; tests bring their own) reports them; only `gid` when the list
// cannot be had.
using GroupLister = int (*)(const char* name, gid_t gid, gid_t* groups, int* count);
std::vector<gid_t> loginGroups(const char* name, gid_t gid, GroupLister list = ::getgrouplist);

// The helper runs as the seat user, who can stop it, trace it or make it ignore
// SIGTERM: nothing the service waits for depends on its cooperation. A stop ends the
// relay at once; the helper is ended apart, on a thread of the capture's own (SIGTERM
// to its process group, kHelperEndLimit for it to exit, then SIGKILL). Its standard
// output and error are the service's to read: what it writes is printed as capture
// lines, each after a prefix of its own with anything unprintable escaped, so many a
// run. It keeps no descriptor of the service's but its channel (descriptor 3), and
// receives SIGTERM should the service die.
class SeatCapture final : public CaptureSource {
public:
    static constexpr std::chrono::milliseconds kHelperEndLimit{500};

    // Follows the login manager on the system bus (DBUS_SYSTEM_BUS_ADDRESS when set).
    // Without one, nobody is ever at the seat; that is said once on standard error.
    explicit SeatCapture(std::filesystem::path helper);
    ~SeatCapture() override;
    SeatCapture(const SeatCapture&) = delete;
    SeatCapture& operator=(const SeatCapture&) = delete;

    void setCallback(PacketCallback callback) override { callback_ = std::move(callback); }
    void setRunEndedCallback(RunEndedCallback callback) override {
        runEnded_ = std::move(callback);
    }
    void start() override;
    void stop() override;
    bool waitStreaming(std::uint32_t milliseconds) const override;
    std::int32_t result() const override { return result_; }
    std::uint32_t frameCount() const override { return frameCount_; }

    // The user of seat0's active session, asked now; none when no session is active
    // or the login manager cannot be reached.
    std::optional<SeatUser> seatUser();

    // Where the helper program is: beside the service in the build tree, else where
    // the installation puts it.
    static std::filesystem::path defaultHelper();

private:
    class Login;
    class HelperOutput;
    class Reaper;
    enum class State { Idle, Starting, Streaming, Ended };

    std::int32_t runOnce();
    std::int32_t relay(int channel, HelperOutput& output);
    void setState(State state);
    void wakeRun();

    std::filesystem::path helper_;
    std::unique_ptr<Login> login_;
    std::unique_ptr<Reaper> reaper_;
    PacketCallback callback_;
    RunEndedCallback runEnded_;
    std::thread thread_;
    int wake_ = -1; // eventfd: a stop or a seat change for the running run
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> seatChanged_{false};
    std::atomic<std::int32_t> result_{kCaptureUnexpected};
    std::atomic<std::uint32_t> frameCount_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    State state_ = State::Idle;
};

} // namespace service
