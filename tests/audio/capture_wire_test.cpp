#include "audio/capture_wire.h"
#include "audio/loopback_capture.h"

#include <gtest/gtest.h>

using namespace service;

TEST(CaptureWire, PacketsAndRunEndsRoundTrip) {
    const std::uint8_t samples[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const auto bytes = encodePacket(samples, 2, kPacketDiscontinuity, 2);
    const WireMessage decoded = decodeWireMessage(bytes);
    const auto* packet = std::get_if<WirePacket>(&decoded);
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet->frames, 2u);
    EXPECT_EQ(packet->flags, kPacketDiscontinuity);
    EXPECT_EQ(packet->channels, 2u);
    EXPECT_EQ(std::vector<std::uint8_t>(packet->samples.begin(), packet->samples.end()),
              std::vector<std::uint8_t>(samples, samples + 8));

    const auto ended = decodeWireMessage(encodeRunEnded(kCaptureUnexpected));
    ASSERT_TRUE(std::holds_alternative<WireRunEnded>(ended));
    EXPECT_EQ(std::get<WireRunEnded>(ended).result, kCaptureUnexpected);
}

// The helper runs as another user: whatever it sends, the service takes only what
// is consistent, and says what is wrong with the rest.
TEST(CaptureWire, InconsistentMessagesAreRefused) {
    const std::uint8_t samples[8] = {};
    std::vector<std::vector<std::uint8_t>> bad = {
        {},
        {1, 2, 3, 4, 5, 6, 7, 8},                         // shorter than a packet header
        encodePacket(samples, 0, 0, 2),                   // no frames
        encodePacket(samples, 2, 0, 0),                   // no channels
        encodePacket(samples, 1, 0, kWireMaxChannels + 1) // more channels than allowed
    };
    auto truncated = encodePacket(samples, 2, 0, 2);
    truncated.pop_back();
    bad.push_back(truncated);
    // frames * channels * 2 wraps to the message's size in 32 bits
    auto wrapping = encodePacket(samples, 2, 0, 2);
    wrapping[0] = 0x02, wrapping[1] = 0x00, wrapping[2] = 0x00, wrapping[3] = 0x80;
    bad.push_back(wrapping);
    for (const auto& message : bad) {
        const WireMessage decoded = decodeWireMessage(message);
        ASSERT_TRUE(std::holds_alternative<WireError>(decoded)) << message.size() << " bytes";
        EXPECT_FALSE(std::get<WireError>(decoded).reason.empty());
    }
}

// The largest packet a sound server can give (10 ms at 384000 Hz in 32 channels)
// passes; longer ones, which would only make the analysis costlier, are refused,
// whatever their channels (a forged 131063-frame packet cost 34 s to analyse).
TEST(CaptureWire, PacketsLongerThanTenMillisecondsAtTheHighestRateAreRefused) {
    const std::vector<std::uint8_t> samples(kWireMaxMessage);
    const auto largest = encodePacket(samples.data(), kWireMaxFrames, 0, kWireMaxChannels);
    EXPECT_EQ(largest.size(), kWireMaxMessage);
    EXPECT_EQ(kWireMaxFrames, 384000u / 100);
    EXPECT_TRUE(std::holds_alternative<WirePacket>(decodeWireMessage(largest)));
    for (std::uint32_t frames : {kWireMaxFrames + 1, 131063u}) {
        const auto longer = encodePacket(samples.data(), frames, 0, 1);
        const WireMessage decoded = decodeWireMessage(longer);
        ASSERT_TRUE(std::holds_alternative<WireError>(decoded)) << frames;
        EXPECT_NE(std::get<WireError>(decoded).reason.find(std::to_string(frames)),
                  std::string::npos);
    }
}
