#pragma once

// A sound server that goes away in the middle of a conversation: it passes the
// client's connection through to the real one until the client sends a chosen
// command, and then drops both sides, as a server that crashed there would.

#include <arpa/inet.h>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace capture_testing {

class VanishingServer {
public:
    // The native protocol's command numbers of the two queries before a capture.
    static constexpr std::uint32_t kGetServerInfo = 20;
    static constexpr std::uint32_t kGetSinkInfo = 21;

    VanishingServer(const std::filesystem::path& socket, std::uint32_t vanishAt)
        : path_(socket), vanishAt_(vanishAt) {
        // Where a client would find the real one: named, or in the runtime directory.
        const char* named = std::getenv("PULSE_SERVER");
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (named && std::strncmp(named, "unix:", 5) == 0)
            real_ = named + 5;
        else if (!named && runtime)
            real_ = std::string(runtime) + "/pulse/native";
        listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = unixAddress(path_.string());
        if (listener_ < 0 || real_.empty() ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 1) != 0)
            return;
        thread_ = std::thread([this] { serveOne(); });
    }
    ~VanishingServer() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        if (thread_.joinable())
            thread_.join();
    }

    bool listening() const { return thread_.joinable(); }
    bool vanished() const { return vanished_.load(); }
    std::string address() const { return "unix:" + path_.string(); }

private:
    static sockaddr_un unixAddress(const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        return address;
    }

    void serveOne() {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = unixAddress(real_);
        if (server >= 0 &&
            ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            relay(client, server);
        ::close(server);
        ::close(client);
    }

    // Frames are a 20-byte descriptor (length first, big-endian) and a payload whose
    // first tag holds the command.
    void relay(int client, int server) {
        std::vector<std::uint8_t> pending;
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        std::uint8_t buffer[65536];
        while (::poll(fds, 2, 5000) > 0) {
            if (fds[1].revents & (POLLIN | POLLHUP)) {
                const ssize_t n = ::read(server, buffer, sizeof buffer);
                if (n <= 0 || ::write(client, buffer, std::size_t(n)) != n)
                    return;
            }
            if (fds[0].revents & (POLLIN | POLLHUP)) {
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0)
                    return;
                pending.insert(pending.end(), buffer, buffer + n);
                // Passed on frame by frame, so the chosen one never reaches the server.
                while (pending.size() >= 20) {
                    std::uint32_t length = 0;
                    std::memcpy(&length, pending.data(), 4);
                    const std::size_t frame = 20 + ntohl(length);
                    if (pending.size() < frame)
                        break;
                    std::uint32_t command = 0;
                    if (frame >= 25 && pending[20] == 'L')
                        std::memcpy(&command, pending.data() + 21, 4);
                    if (ntohl(command) == vanishAt_) {
                        vanished_ = true;
                        return;
                    }
                    if (::write(server, pending.data(), frame) != ssize_t(frame))
                        return;
                    pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(frame));
                }
            }
        }
    }

    std::filesystem::path path_;
    std::uint32_t vanishAt_;
    std::string real_;
    int listener_ = -1;
    std::thread thread_;
    std::atomic<bool> vanished_{false};
};

} // namespace capture_testing
