#pragma once

// The messages of the seat user's capture helper to the service, one per datagram
// of their private channel: a packet (three little-endian 32-bit words, frames,
// flags and channels, then the frames of 16-bit samples) or the end of the
// helper's capture run (one 32-bit word, the run's result).

#include <cstdint>
#include <span>
#include <string>
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

// More channels than any sound server hands out; a bound on what the service
// accepts from the other side.
inline constexpr std::uint32_t kWireMaxChannels = 32;
// A second of 32 channels at 192 kHz would not fit; packets are 10 ms.
inline constexpr std::size_t kWireMaxMessage = 256 * 1024;

std::vector<std::uint8_t> encodePacket(const std::uint8_t* samples, std::uint32_t frames,
                                       std::uint32_t flags, std::uint32_t channels);
std::vector<std::uint8_t> encodeRunEnded(std::int32_t result);
WireMessage decodeWireMessage(std::span<const std::uint8_t> message);

} // namespace service
