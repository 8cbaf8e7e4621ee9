// lumivane-capture: the loopback capture of the seat user's sound for the service.
// The service runs as root, and no code of ours talks to a user's sound server as
// root: it starts this program as that user, with its end of a private datagram
// channel as descriptor 3. Every packet goes over the channel; after one capture run
// (the sound server went away, the default output changed) the run's result follows
// and the program ends. The service starts it again as it starts any ended run.

#include "audio/capture_wire.h"
#include "audio/loopback_capture.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <sys/socket.h>

namespace {

constexpr int kChannel = 3;

bool sendMessage(const std::vector<std::uint8_t>& message) {
    return ::send(kChannel, message.data(), message.size(), MSG_NOSIGNAL) ==
           ssize_t(message.size());
}

} // namespace

int main() {
    int type = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(kChannel, SOL_SOCKET, SO_TYPE, &type, &length) != 0 ||
        type != SOCK_SEQPACKET) {
        std::fprintf(stderr, "lumivane-capture: descriptor 3 is not the service's channel; "
                             "the lighting service starts this program itself\n");
        return 2;
    }

    std::mutex mutex;
    std::condition_variable wake;
    bool over = false;
    std::int32_t result = 0;
    auto finish = [&](std::int32_t value) {
        std::lock_guard lock(mutex);
        if (!over)
            result = value;
        over = true;
        wake.notify_all();
    };

    service::LoopbackCapture capture;
    capture.setCallback([&](const std::uint8_t* samples, std::uint32_t frames, std::uint32_t flags,
                            std::uint32_t channels) {
        // 10 ms never hold more than the service takes in one packet; should a packet
        // hold more, it goes in parts.
        for (std::uint32_t sent = 0; sent < frames;) {
            const std::uint32_t part = std::min(frames - sent, service::kWireMaxFrames);
            const std::uint8_t* from = samples + std::size_t(sent) * channels * 2;
            // The service has gone (or closed the channel): nobody to capture for.
            if (!sendMessage(service::encodePacket(from, part, sent ? 0 : flags, channels))) {
                finish(0);
                return;
            }
            sent += part;
        }
    });
    capture.setRunEndedCallback(finish);
    capture.start();
    if (!capture.active())
        finish(capture.result()); // no capture thread: the run is over before it began
    {
        std::unique_lock lock(mutex);
        wake.wait(lock, [&] { return over; });
    }
    capture.stop();
    sendMessage(service::encodeRunEnded(result));
    return 0;
}
