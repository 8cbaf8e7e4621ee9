#include "audio/capture_wire.h"

namespace service {
namespace {

constexpr std::size_t kPacketHeader = kWirePacketHeader;

void putWord(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(std::uint8_t(value >> shift));
}

std::uint32_t word(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return std::uint32_t(bytes[offset]) | std::uint32_t(bytes[offset + 1]) << 8 |
           std::uint32_t(bytes[offset + 2]) << 16 | std::uint32_t(bytes[offset + 3]) << 24;
}

} // namespace

std::string helperOutputLine(std::string_view line) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "lumivane-capture: ";
    const std::size_t end = out.size() + kHelperLineMax;
    for (const char c : line) {
        const auto byte = std::uint8_t(c);
        const bool plain = byte >= 0x20 && byte < 0x7F && byte != '\\';
        if (out.size() + (plain ? 1 : 4) > end) {
            out += "...";
            break;
        }
        if (plain) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    out += '\n';
    return out;
}

std::vector<std::uint8_t> encodePacket(const std::uint8_t* samples, std::uint32_t frames,
                                       std::uint32_t flags, std::uint32_t channels) {
    std::vector<std::uint8_t> out;
    const std::size_t bytes = std::size_t(frames) * channels * 2;
    out.reserve(kPacketHeader + bytes);
    putWord(out, frames);
    putWord(out, flags);
    putWord(out, channels);
    out.insert(out.end(), samples, samples + bytes);
    return out;
}

std::vector<std::uint8_t> encodeRunEnded(std::int32_t result) {
    std::vector<std::uint8_t> out;
    putWord(out, std::uint32_t(result));
    return out;
}

WireMessage decodeWireMessage(std::span<const std::uint8_t> message) {
    if (message.size() == 4)
        return WireRunEnded{std::int32_t(word(message, 0))};
    if (message.size() < kPacketHeader)
        return WireError{"a message of " + std::to_string(message.size()) + " bytes"};
    WirePacket packet{word(message, 0), word(message, 4), word(message, 8), {}};
    if (packet.channels == 0 || packet.channels > kWireMaxChannels)
        return WireError{"a packet of " + std::to_string(packet.channels) + " channels"};
    // 64-bit: frames times channels cannot wrap around to the real size.
    const std::uint64_t expected = std::uint64_t(packet.frames) * packet.channels * 2;
    if (packet.frames == 0 || packet.frames > kWireMaxFrames ||
        expected != message.size() - kPacketHeader)
        return WireError{"a packet of " + std::to_string(packet.frames) + " frames in " +
                         std::to_string(message.size() - kPacketHeader) + " bytes"};
    packet.samples = message.subspan(kPacketHeader);
    return packet;
}

} // namespace service
