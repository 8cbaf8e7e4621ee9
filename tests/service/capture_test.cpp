// The capture against a real audio server: the private PulseAudio daemon that
// with-pulseaudio starts (natively), or Wine's audio driver over that same daemon.

#include "eventually.h"
#include "os/diagnostics.h"
#ifdef _WIN32
#include "os/com_apartment.h"
#endif
#include "service/loopback_capture.h"
#include "test_environment.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include "audio_signals.h"
#include "service/music_effect.h"
#include "tone_player.h"
#include "vanishing_server.h"
#endif

using namespace std::chrono_literals;
using service::LoopbackCapture;

namespace {

struct PrintedLines {
    std::mutex mutex;
    std::vector<std::string> lines;
    service::CapturePrintSink previous =
        service::setCapturePrintSink([this](const std::string& line) {
            std::lock_guard lock(mutex);
            lines.push_back(line);
        });
    ~PrintedLines() { service::setCapturePrintSink(previous); }
    std::string last() {
        std::lock_guard lock(mutex);
        return lines.empty() ? std::string() : lines.back();
    }
};

struct Packets {
    std::atomic<std::uint64_t> count{0}, frames{0};
    std::atomic<std::uint32_t> channels{0};
    std::atomic<int> loudest{0};

    service::PacketCallback callback() {
        return [this](const std::uint8_t* samples, std::uint32_t n, std::uint32_t,
                      std::uint32_t ch) {
            for (std::uint32_t i = 0; i < n * ch; ++i) {
                const int s = std::abs(int(std::int16_t(samples[2 * i] | samples[2 * i + 1] << 8)));
                if (s > loudest)
                    loudest = s;
            }
            channels = ch;
            frames += n;
            ++count;
        };
    }
};

using testing_support::eventually;

} // namespace

#ifdef _WIN32

// The service's callers of start() have COM; so do these tests.
struct WindowsCapture : ::testing::Test {
    os::ComApartment com{os::ComApartment::Kind::MultiThreaded};
};

// Wine has no loopback; its default capture endpoint is the null sink's monitor, so
// the seam runs the rest of the Windows capture path: format, timer, drain, stop.
TEST_F(WindowsCapture, DefaultCaptureEndpointDeliversPacketsToTheCallback) {
    os::CapturedDiagnostics diagnostics;
    PrintedLines printed;
    Packets packets;
    LoopbackCapture capture(service::CaptureEndpoint::DefaultCapture);
    capture.setCallback(packets.callback());
    capture.start();
    ASSERT_TRUE(capture.active()) << printed.last();
    ASSERT_TRUE(capture.waitStreaming(10000)) << printed.last();
    EXPECT_TRUE(eventually([&] { return packets.count >= 5; }, 10000ms)) << printed.last();
    capture.stop();
    EXPECT_FALSE(capture.active());
    EXPECT_EQ(capture.result(), 0) << printed.last();
    EXPECT_EQ(capture.frameCount(), packets.frames.load());
    EXPECT_EQ(packets.channels, 2u);
    EXPECT_EQ(printed.last().rfind("Received stop event after ", 0), 0u) << printed.last();
    EXPECT_TRUE(diagnostics.messages().empty());
}

TEST_F(WindowsCapture, AFailedLoopbackRunIsReportedByStop) {
    os::CapturedDiagnostics diagnostics;
    PrintedLines printed;
    LoopbackCapture capture; // render loopback, which Wine refuses after Initialize
    capture.start();
    const bool ran = capture.active();
    capture.waitStreaming(10000);
    capture.stop();
    if (ran && capture.result() != 0) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "Thread HRESULT is 0x%08x\n",
                      unsigned(capture.result()));
        EXPECT_EQ(printed.last(), expected);
    }
    // Whatever happened, a second start is a fresh attempt and stops cleanly.
    capture.start();
    capture.stop();
    EXPECT_FALSE(capture.active());
}

#else

TEST(PulseCapture, DeliversWhatThePlaybackDevicePlays) {
    PrintedLines printed;
    Packets packets;
    LoopbackCapture capture;
    capture.setCallback(packets.callback());
    capture.start();
    ASSERT_TRUE(capture.waitStreaming(5000)) << printed.last();
    play(1000, 200ms);
    EXPECT_TRUE(eventually([&] { return packets.loudest > 8000; })) << packets.loudest;
    capture.stop();

    EXPECT_EQ(capture.result(), 0);
    EXPECT_EQ(packets.channels, 2u);
    EXPECT_EQ(capture.frameCount(), packets.frames.load());
    // 10 ms fragments: about 100 packets a second, not a few large ones.
    EXPECT_GE(packets.count * 960, packets.frames.load());
    EXPECT_EQ(printed.last().rfind("Received stop event after ", 0), 0u) << printed.last();
}

TEST(PulseCapture, WithoutAServerTheRunFailsAndALaterStartTriesAgain) {
    PrintedLines printed;
    os::CapturedDiagnostics diagnostics;
    LoopbackCapture capture;
    Packets packets;
    capture.setCallback(packets.callback());
    {
        testing_support::ScopedEnvironment nowhere("PULSE_SERVER", "unix:/nonexistent/pulse");
        capture.start();
        EXPECT_FALSE(capture.waitStreaming(5000));
        capture.stop();
    }
    EXPECT_NE(capture.result(), 0);
    EXPECT_EQ(printed.last().rfind("Thread HRESULT is 0x", 0), 0u) << printed.last();

    capture.start();
    EXPECT_TRUE(capture.waitStreaming(5000)) << printed.last();
    EXPECT_TRUE(eventually([&] { return packets.count > 0; }));
    capture.stop();
    EXPECT_EQ(capture.result(), 0);
}

TEST(PulseCapture, StopEndsTheRunPromptlyEvenBeforeItStreams) {
    PrintedLines printed;
    LoopbackCapture capture;
    for (int i = 0; i < 10; ++i) {
        capture.start();
        capture.stop();
        EXPECT_FALSE(capture.active());
        EXPECT_EQ(capture.result(), 0) << printed.last();
        EXPECT_EQ(printed.last().rfind("Received stop event after ", 0), 0u) << printed.last();
        // A real caller does not reconnect in a tight loop; a flood of connections
        // can make a loaded daemon refuse some, which is not what this is about.
        std::this_thread::sleep_for(20ms);
    }
}

// The effect end to end, short of the registers: a tone's band decides the hue.
TEST(PulseCapture, TheEffectsBandsFollowTheTone) {
    PrintedLines printed;
    struct NoOutput : service::ColorOutput {
        void write(const service::Rgb&) override {}
    };
    std::atomic<int> guarded{0};
    service::MusicEffect effect(service::CaptureEndpoint::RenderLoopback,
                                std::make_unique<NoOutput>(),
                                [&](const std::function<void()>& work) {
                                    ++guarded;
                                    work();
                                });
    effect.start();
    ASSERT_TRUE(effect.capture().waitStreaming(5000)) << printed.last();

    auto dominant = [&] {
        const service::BandValues b = effect.effect().bands();
        return service::dominantBand(b.low, b.mid, b.high);
    };
    std::thread player([] { play(1000, 300ms); });
    EXPECT_TRUE(eventually([&] { return dominant() == service::DominantBand::Mid; }));
    player.join();
    player = std::thread([] { play(6000, 300ms); });
    EXPECT_TRUE(eventually([&] { return dominant() == service::DominantBand::High; }));
    player.join();
    effect.stop();
    EXPECT_GT(guarded, 0); // every analysis went through the guard
}

// Last: it changes the daemon's sinks.
TEST(PulseCapture, AServerThatDiesDuringAQueryEndsTheRunAsAFailure) {
    PrintedLines printed;
    testing_support::TemporaryDirectory dir;
    // The client's own memory sharing would travel beside the socket's bytes.
    std::ofstream(dir.path() / "client.conf") << "enable-shm = no\nenable-memfd = no\n";
    testing_support::ScopedEnvironment config("PULSE_CLIENTCONFIG",
                                              (dir.path() / "client.conf").string());
    using capture_testing::VanishingServer;
    for (std::uint32_t query : {VanishingServer::kGetServerInfo, VanishingServer::kGetSinkInfo}) {
        VanishingServer server(dir.path() / ("server-" + std::to_string(query)), query);
        ASSERT_TRUE(server.listening());
        testing_support::ScopedEnvironment through("PULSE_SERVER", server.address());
        LoopbackCapture capture;
        capture.start();
        // The run ends by itself: no stop is needed to leave the query.
        EXPECT_FALSE(capture.waitStreaming(10000)) << query;
        EXPECT_TRUE(server.vanished()) << query;
        capture.stop();
        EXPECT_NE(capture.result(), 0) << query << ": " << printed.last();
    }
}

TEST(PulseCapture, WithoutADefaultSinkTheUserIsToldAndALaterStartFindsTheNewOne) {
    PrintedLines printed;
    os::CapturedDiagnostics diagnostics;
    Packets packets;
    LoopbackCapture capture;
    capture.setCallback(packets.callback());
    ASSERT_EQ(std::system("pactl unload-module module-null-sink"), 0);
    capture.start();
    EXPECT_FALSE(capture.waitStreaming(5000));
    capture.stop();
    EXPECT_NE(capture.result(), 0);
    ASSERT_EQ(diagnostics.messages().size(), 1u);
    EXPECT_EQ(diagnostics.messages()[0].caption, "ERROR");
    EXPECT_EQ(diagnostics.messages()[0].text, "get_default_device failed!");

    ASSERT_EQ(std::system("pactl load-module module-null-sink sink_name=second rate=44100 "
                          "channels=1 >/dev/null"),
              0);
    capture.start();
    ASSERT_TRUE(capture.waitStreaming(5000)) << printed.last();
    EXPECT_TRUE(eventually([&] { return packets.count > 0; }));
    capture.stop();
    EXPECT_EQ(capture.result(), 0);
    EXPECT_EQ(packets.channels, 1u); // the device's own layout, not an assumed stereo
}

#endif
