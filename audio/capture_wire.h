#pragma once

// The messages of the seat user's capture helper to the service, one per datagram
// of their private channel: a packet (three little-endian 32-bit words, frames,
// flags and channels, then the frames of 16-bit samples) or the end of the
// helper's capture run (one 32-bit word, the run's result).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace service {

struct WirePacket {
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;
    std::uint32_t channels = 0;
    std::span<const std::uint8_t> samples; // into the decoded message
};
struct WireRunEnded {
    std::int32_t result = 0;
};
// What is wrong with a message that is neither.
struct WireError {
    std::string reason;
};
using WireMessage = std::variant<WirePacket, WireRunEnded, WireError>;

// Bounds on what the service accepts from the other side, which is the seat user's:
// as many channels as PulseAudio allows (PA_CHANNELS_MAX), and as many frames as a
// packet of 10 ms (what the capture hands over) holds at its highest sample rate,
// 384000 Hz (PA_RATE_MAX). The analysis of a packet is bounded by its frames.
inline constexpr std::uint32_t kWireMaxChannels = 32;
inline constexpr std::uint32_t kWireMaxFrames = 3840;
inline constexpr std::size_t kWirePacketHeader = 12;
// 245 772 bytes: the largest packet.
inline constexpr std::size_t kWireMaxMessage =
    kWirePacketHeader + std::size_t(kWireMaxFrames) * kWireMaxChannels * 2;

// What the helper writes on its standard output and error comes from the user's side
// as well (its sound server's names for the sinks, say). The service prints each line
// of it as helperOutputLine gives it: after a prefix of its own ("lumivane-capture: "),
// so that no line can pass for one of the service's or choose its priority in the
// journal ("<0>..."), with printable ASCII as it is and any other byte as \xNN, cut
// at kHelperLineMax characters, newline added. kHelperLinesPerRun lines a run at most.
inline constexpr std::size_t kHelperLineMax = 400;
inline constexpr int kHelperLinesPerRun = 40;
std::string helperOutputLine(std::string_view line);

std::vector<std::uint8_t> encodePacket(const std::uint8_t* samples, std::uint32_t frames,
                                       std::uint32_t flags, std::uint32_t channels);
std::vector<std::uint8_t> encodeRunEnded(std::int32_t result);
WireMessage decodeWireMessage(std::span<const std::uint8_t> message);

} // namespace service
