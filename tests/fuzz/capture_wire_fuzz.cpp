// The capture helper's messages, which come from the seat user's side: whatever the
// bytes, the decoder offers only packets that lie inside the message, within the
// wire's bounds, and that encode back to the same bytes; the analysis of any packet
// it lets through gives finite bands (libFuzzer's slow-input report catches a length
// that costs too much). The same bytes as a line of the helper's output come out
// printable, prefixed and bounded.

#include "audio/band_analysis.h"
#include "audio/capture_wire.h"
#include "fuzz_input.h"

#include <cmath>
#include <string>
#include <string_view>
#include <variant>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace service;
    const std::span<const std::uint8_t> message(data, size);
    const WireMessage decoded = decodeWireMessage(message);
    if (const auto* packet = std::get_if<WirePacket>(&decoded)) {
        FUZZ_CHECK(packet->channels >= 1 && packet->channels <= kWireMaxChannels);
        FUZZ_CHECK(packet->frames >= 1 && packet->frames <= kWireMaxFrames);
        FUZZ_CHECK(size <= kWireMaxMessage);
        FUZZ_CHECK(packet->samples.data() == data + kWirePacketHeader);
        FUZZ_CHECK(packet->samples.size() == std::size_t(packet->frames) * packet->channels * 2);
        const auto again =
            encodePacket(packet->samples.data(), packet->frames, packet->flags, packet->channels);
        FUZZ_CHECK(std::equal(again.begin(), again.end(), data, data + size));

        // One analyser for every input, as the capture thread keeps one.
        static BandAnalyzer analyzer;
        for (const float band :
             analyzer.bands(packet->samples.data(), std::int32_t(packet->frames), packet->channels))
            FUZZ_CHECK(std::isfinite(band) && band >= 0.0f);
    } else if (const auto* ended = std::get_if<WireRunEnded>(&decoded)) {
        FUZZ_CHECK(size == 4);
        FUZZ_CHECK(encodeRunEnded(ended->result) == std::vector<std::uint8_t>(data, data + size));
    } else {
        FUZZ_CHECK(size != 4);
        FUZZ_CHECK(!std::get<WireError>(decoded).reason.empty());
    }

    const std::string prefix = "lumivane-capture: ";
    const std::string line =
        helperOutputLine(std::string_view(reinterpret_cast<const char*>(data), size));
    FUZZ_CHECK(line.compare(0, prefix.size(), prefix) == 0);
    FUZZ_CHECK(line.back() == '\n' && line.size() <= prefix.size() + kHelperLineMax + 4);
    for (std::size_t i = 0; i + 1 < line.size(); ++i)
        FUZZ_CHECK(line[i] >= 0x20 && line[i] < 0x7F);
    return 0;
}
