// The capture against a real audio server: the private PulseAudio daemon that
// with-pulseaudio starts (natively), or Wine's audio driver over that same daemon.

#include "eventually.h"
#include "os/diagnostics.h"
#ifdef _WIN32
#include "audio/loopback_capture_win.h"
#include "os/com_apartment.h"
#include "service/music_effect.h"
#endif
#include "audio/loopback_capture.h"
#include "test_environment.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include "audio_signals.h"
#include "dbus/realtime_kit_adaptor.h"
#include "private_bus.h"
#include "service/music_effect.h"
#include "tone_player.h"
#include "vanishing_server.h"

#include <filesystem>
#include <unistd.h>
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
    std::atomic<std::uint32_t> channels{0}, shortest{~0u};
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
            if (n < shortest)
                shortest = n;
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

// The system's enumerator behind a stand-in that can refuse to answer (no device,
// or the audio service not up at boot) and that hands the test the watch the
// capture registers, so that it can announce a new default.
class StandInEnumerator final : public IMMDeviceEnumerator {
public:
    std::atomic<int> refusals{0}; // lookups still to refuse
    std::atomic<int> lookups{0};
    std::mutex mutex;
    IMMNotificationClient* watch = nullptr;
    int registered = 0, unregistered = 0;

    explicit StandInEnumerator(IMMDeviceEnumerator* system) : system_(system) {}
    ~StandInEnumerator() { system_->Release(); }

    // Tells the watch, as the audio service would; false when none is registered.
    bool announce(EDataFlow flow, ERole role) {
        std::lock_guard lock(mutex);
        if (!watch)
            return false;
        watch->OnDefaultDeviceChanged(flow, role, L"{stand-in}");
        return true;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return 2; } // the test owns it
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole role,
                                                      IMMDevice** device) override {
        ++lookups;
        if (refusals > 0) {
            --refusals;
            *device = nullptr;
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        }
        return system_->GetDefaultAudioEndpoint(flow, role, device);
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE
    RegisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        std::lock_guard lock(mutex);
        client->AddRef();
        watch = client;
        ++registered;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    UnregisterEndpointNotificationCallback(IMMNotificationClient* client) override {
        std::lock_guard lock(mutex);
        if (client != watch)
            return E_INVALIDARG;
        watch->Release();
        watch = nullptr;
        ++unregistered;
        return S_OK;
    }

private:
    IMMDeviceEnumerator* system_;
};

// The music effect over the default capture endpoint (Wine's monitor of what is
// played), its enumerator the stand-in.
struct EffectOverStandIn : WindowsCapture {
    struct NoOutput : service::ColorOutput {
        void write(const service::Rgb&) override {}
    };
    os::CapturedDiagnostics diagnostics;
    PrintedLines printed;
    StandInEnumerator enumerator{[] {
        IMMDeviceEnumerator* system = nullptr;
        CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                         __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&system));
        return system;
    }()};
    std::atomic<int> factoryRefusals{0}; // the audio service not running yet
    service::DeviceEnumeratorFactory previous =
        service::setDeviceEnumeratorFactory([this](IMMDeviceEnumerator** out) {
            if (factoryRefusals > 0) {
                --factoryRefusals;
                *out = nullptr;
                return HRESULT(0x80070422); // the service cannot be started
            }
            *out = &enumerator;
            return S_OK;
        });
    std::atomic<int> packets{0};
    service::MusicEffect effect{service::CaptureEndpoint::DefaultCapture,
                                std::make_unique<NoOutput>(),
                                [this](const std::function<void()>& work) {
                                    ++packets;
                                    work();
                                }};

    ~EffectOverStandIn() override {
        effect.stop();
        service::setDeviceEnumeratorFactory(previous);
    }
};

TEST_F(EffectOverStandIn, ANewDefaultEndsTheRunAndTheNextRunOpensIt) {
    effect.start();
    ASSERT_TRUE(eventually([&] { return packets > 0; }, 10000ms)) << printed.last();
    ASSERT_EQ(enumerator.lookups, 1);

    // Another flow or role is not ours to follow.
    ASSERT_TRUE(enumerator.announce(eRender, eConsole));
    ASSERT_TRUE(enumerator.announce(eCapture, eMultimedia));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(enumerator.lookups, 1) << printed.last();

    ASSERT_TRUE(enumerator.announce(eCapture, eConsole));
    EXPECT_TRUE(eventually([&] { return enumerator.lookups == 2; })) << printed.last();
    const int before = packets;
    EXPECT_TRUE(eventually([&] { return packets > before; }, 10000ms)) << printed.last();
    {
        std::lock_guard lock(enumerator.mutex);
        // The ended run's watch went before its enumerator; the new run watches.
        EXPECT_EQ(enumerator.registered, 2);
        EXPECT_EQ(enumerator.unregistered, 1);
        EXPECT_NE(enumerator.watch, nullptr);
    }
    effect.stop();
    std::lock_guard lock(enumerator.mutex);
    EXPECT_EQ(enumerator.watch, nullptr);
    EXPECT_TRUE(diagnostics.messages().empty());
}

TEST_F(EffectOverStandIn, AFailedLookupAtStartIsRetriedUntilTheDeviceAnswers) {
    factoryRefusals = 2;     // the audio service starts late
    enumerator.refusals = 2; // and then has no device for a moment
    effect.start();
    EXPECT_TRUE(eventually([&] { return packets > 0; }, 20000ms)) << printed.last();
    EXPECT_EQ(enumerator.lookups, 3);
    EXPECT_EQ(factoryRefusals, 0);
    // Told once for the outage, however many retries it took.
    ASSERT_EQ(diagnostics.messages().size(), 1u);
    EXPECT_EQ(diagnostics.messages()[0].text, "get_default_device failed!");
}

#else

// The latency the default sink runs at ("configured N usec" of pactl).
long sinkLatencyUsec() {
    FILE* pipe = popen("pactl list sinks", "r");
    if (!pipe)
        return -1;
    std::string text;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        text.append(buffer, n);
    pclose(pipe);
    const auto at = text.find("configured ");
    return at == std::string::npos ? -1 : std::atol(text.c_str() + at + 11);
}

// The pulse server of PipeWire rather than PulseAudio itself (with-pipewire).
bool onPipeWire() {
    FILE* pipe = popen("pactl info", "r");
    if (!pipe)
        return false;
    std::string text;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        text.append(buffer, n);
    pclose(pipe);
    return text.find("on PipeWire") != std::string::npos;
}

TEST(PulseCapture, DeliversWhatThePlaybackDevicePlays) {
    PrintedLines printed;
    Packets packets;
    LoopbackCapture capture;
    capture.setCallback(packets.callback());
    capture.start();
    ASSERT_TRUE(capture.waitStreaming(5000)) << printed.last();
    // The capture asks the monitor, and so the sink, for its fragment's latency:
    // whatever the players ask, the sink renders in blocks small enough to follow.
    // (PipeWire's pulse server reports no configured latency: 0.)
    if (!onPipeWire()) {
        const long latency = sinkLatencyUsec();
        EXPECT_GT(latency, 0);
        EXPECT_LE(latency, 20000);
    }
    play(1000, 200ms);
    EXPECT_TRUE(eventually([&] { return packets.loudest > 8000; })) << packets.loudest;
    capture.stop();

    EXPECT_EQ(capture.result(), 0);
    EXPECT_EQ(packets.channels, 2u);
    EXPECT_EQ(capture.frameCount(), packets.frames.load());
    // Packets of 10 ms, every one: not a few large ones, and not the player's 5 ms
    // blocks either.
    EXPECT_GE(packets.shortest, 480u);
    EXPECT_EQ(packets.count * 480, packets.frames.load());
    EXPECT_EQ(printed.last().rfind("Received stop event after ", 0), 0u) << printed.last();
}

// A real-time broker of the test's own on a private bus standing in for the system
// bus; it records what it was asked and grants it (without changing anything).
class FakeRealtimeKit final
    : public sdbus::AdaptorInterfaces<org::freedesktop::RealtimeKit1_adaptor> {
public:
    explicit FakeRealtimeKit(sdbus::IConnection& connection)
        : AdaptorInterfaces(connection, "/org/freedesktop/RealtimeKit1") {
        registerAdaptor();
    }
    ~FakeRealtimeKit() { unregisterAdaptor(); }

    std::mutex mutex;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> requests;

private:
    void MakeThreadRealtime(const std::uint64_t& thread, const std::uint32_t& priority) override {
        std::lock_guard lock(mutex);
        requests.emplace_back(thread, priority);
    }
};

TEST(PulseCapture, TheCaptureThreadAsksTheRealtimeBrokerForItself) {
    testing_support::PrivateBus bus;
    ASSERT_TRUE(bus.running());
    testing_support::ScopedEnvironment system("DBUS_SYSTEM_BUS_ADDRESS", bus.address());
    auto connection = sdbus::createSystemBusConnection("org.freedesktop.RealtimeKit1");
    FakeRealtimeKit kit(*connection);
    connection->enterEventLoopAsync();

    PrintedLines printed;
    LoopbackCapture capture;
    capture.start();
    ASSERT_TRUE(capture.waitStreaming(5000)) << printed.last();
    std::vector<std::pair<std::uint64_t, std::uint32_t>> requests;
    {
        std::lock_guard lock(kit.mutex);
        requests = kit.requests;
    }
    // Its own thread id (a thread of this process, not the one that started it),
    // at a low real-time priority; and, granted, nothing is printed about priority.
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].first, std::uint64_t(getpid()));
    EXPECT_TRUE(std::filesystem::exists("/proc/self/task/" + std::to_string(requests[0].first)));
    EXPECT_EQ(requests[0].second, 5u);
    capture.stop();
    for (const auto& line : printed.lines)
        EXPECT_EQ(line.find("priority"), std::string::npos) << line;
    connection->leaveEventLoop();
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

// The colours follow the music as it is heard whatever the player buffers: a tone
// from a player at the server's default latency lights the LEDs for nearly all of
// its length, not in one late burst that the colour thread mostly skips.
TEST(PulseCapture, AToneLightsTheLedsForItsLengthWhateverThePlayersLatency) {
    PrintedLines printed;
    struct LitTime : service::ColorOutput {
        std::mutex mutex;
        std::chrono::steady_clock::time_point last{};
        std::chrono::nanoseconds lit{0};
        void write(const service::Rgb& c) override {
            const auto now = std::chrono::steady_clock::now();
            std::lock_guard lock(mutex);
            if (std::max({c.red, c.green, c.blue}) > 64 && last != decltype(last){})
                lit += now - last;
            last = now;
        }
    };
    auto owned = std::make_unique<LitTime>();
    LitTime& output = *owned;
    service::MusicEffect effect(service::CaptureEndpoint::RenderLoopback, std::move(owned),
                                [](const std::function<void()>& work) { work(); });
    effect.start();
    ASSERT_TRUE(effect.capture().waitStreaming(5000)) << printed.last();
    for (PlayerLatency latency : {PlayerLatency::ServerDefault, PlayerLatency::Low}) {
        {
            std::lock_guard lock(output.mutex);
            output.lit = {};
        }
        play(1000, 2000ms, latency);
        std::this_thread::sleep_for(200ms); // the fade after the last packet
        std::lock_guard lock(output.mutex);
        EXPECT_GT(output.lit, 1700ms) << "player latency " << int(latency) << ": lit for "
                                      << output.lit.count() / 1000000 << " ms of 2000";
    }

    // A sink suspended under a tune delivers nothing more: dark all the same.
    auto silent = [&] {
        const service::BandValues b = effect.effect().bands();
        return b.low == 0 && b.mid == 0 && b.high == 0;
    };
    std::thread player([] { playUntilGone(1000, 2000ms); });
    EXPECT_TRUE(eventually([&] { return !silent(); }));
    ASSERT_EQ(std::system("pactl suspend-sink lumivane 1"), 0);
    EXPECT_TRUE(eventually(silent));
    EXPECT_EQ(std::system("pactl suspend-sink lumivane 0"), 0);
    player.join();
    effect.stop();
}

// Last: it changes the daemon's sinks.
// What a command prints, without its last line end.
std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            text += buffer;
        pclose(pipe);
    }
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// The effect over the real server, its colours going nowhere.
struct QuietEffect {
    struct NoOutput : service::ColorOutput {
        void write(const service::Rgb&) override {}
    };
    bool silent() const {
        const service::BandValues b = effect.effect().bands();
        return b.low == 0 && b.mid == 0 && b.high == 0;
    }
    // Which source the capture records from now, as the server sees it.
    static std::string capturedSource() {
        std::istringstream outputs(output("pactl list short source-outputs"));
        std::string index, source;
        if (!(outputs >> index >> source))
            return {};
        std::istringstream sources(output("pactl list short sources"));
        for (std::string line; std::getline(sources, line);) {
            std::istringstream fields(line);
            std::string id, name;
            if (fields >> id >> name && id == source)
                return name;
        }
        return {};
    }

    mutable service::MusicEffect effect{service::CaptureEndpoint::RenderLoopback,
                                        std::make_unique<NoOutput>(),
                                        [](const std::function<void()>& work) {
                                            work();
                                        }};
};

TEST(PulseCapture, AfterTheServerRestartsTheEffectCapturesAgainAndFadedMeanwhile) {
    PrintedLines printed;
    QuietEffect quiet;
    quiet.effect.start();
    ASSERT_TRUE(quiet.effect.capture().waitStreaming(5000)) << printed.last();
    std::thread player([] { playUntilGone(1000, 5000ms); });
    ASSERT_TRUE(eventually([&] { return !quiet.silent(); }));
    // Killed while the tone plays: its last packet is a loud one.
    ASSERT_EQ(std::system("kill -9 $(cat \"$XDG_RUNTIME_DIR/pulse/pid\")"), 0);
    player.join();
    EXPECT_TRUE(eventually([&] { return quiet.silent(); }));

    ASSERT_EQ(std::system("rm -f \"$XDG_RUNTIME_DIR/pulse/pid\" && \"$PULSE_DAEMON_START\""), 0);
    EXPECT_TRUE(eventually([&] { return quiet.effect.capture().waitStreaming(0); }, 15000ms))
        << printed.last();
    player = std::thread([] { playUntilGone(1000, 300ms); });
    EXPECT_TRUE(eventually([&] { return !quiet.silent(); }));
    player.join();
    quiet.effect.stop();
}

TEST(PulseCapture, TheEffectFollowsTheDefaultOutputAndNeverAMicrophone) {
    PrintedLines printed;
    const std::string second = output("pactl load-module module-null-sink sink_name=second");
    // PipeWire's pulse server has no null source; its null sink makes one when asked.
    const std::string microphone =
        onPipeWire() ? output("pactl load-module module-null-sink sink_name=microphone "
                              "media.class=Audio/Source/Virtual")
                     : output("pactl load-module module-null-source source_name=microphone");
    ASSERT_FALSE(second.empty());
    // (A new sink may become the default by itself, as under PipeWire.)
    ASSERT_EQ(std::system("pactl set-default-sink lumivane"), 0);
    ASSERT_EQ(std::system("pactl set-default-source microphone"), 0);
    QuietEffect quiet;
    quiet.effect.start();
    ASSERT_TRUE(quiet.effect.capture().waitStreaming(5000)) << printed.last();
    EXPECT_EQ(QuietEffect::capturedSource(), "lumivane.monitor");

    ASSERT_EQ(std::system("pactl set-default-sink second"), 0);
    EXPECT_TRUE(eventually([&] { return QuietEffect::capturedSource() == "second.monitor"; }))
        << QuietEffect::capturedSource();
    std::thread player([] { playUntilGone(1000, 300ms, "second"); });
    EXPECT_TRUE(eventually([&] { return !quiet.silent(); }));
    player.join();

    // Its sink gone, the stream ends rather than move to the microphone, and the next
    // run records the default output again.
    ASSERT_EQ(std::system(("pactl unload-module " + second).c_str()), 0);
    EXPECT_TRUE(
        eventually([&] { return QuietEffect::capturedSource() == "lumivane.monitor"; }, 10000ms))
        << QuietEffect::capturedSource();
    EXPECT_NE(QuietEffect::capturedSource(), "microphone");
    quiet.effect.stop();
    EXPECT_EQ(std::system(("pactl unload-module " + microphone).c_str()), 0);
}

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
    if (onPipeWire())
        GTEST_SKIP() << "PipeWire's session manager puts a dummy output (auto_null) in the "
                        "place of the last sink: a machine under it never has no sink";
    PrintedLines printed;
    os::CapturedDiagnostics diagnostics;
    Packets packets;
    LoopbackCapture capture;
    capture.setCallback(packets.callback());
    ASSERT_EQ(std::system("pactl unload-module module-null-sink"), 0);
    // As the restart loop retries: the outage is told once, not on every retry.
    auto linesNow = [&] {
        std::lock_guard lock(printed.mutex);
        return printed.lines.size();
    };
    for (int retry = 0; retry < 3; ++retry) {
        const std::size_t before = linesNow();
        capture.start();
        EXPECT_FALSE(capture.waitStreaming(5000));
        capture.stop();
        EXPECT_NE(capture.result(), 0);
        if (retry > 0) {
            EXPECT_EQ(linesNow(), before) << retry << ": " << printed.last();
        }
    }
    ASSERT_EQ(diagnostics.messages().size(), 1u);
    EXPECT_EQ(diagnostics.messages()[0].caption, "ERROR");
    EXPECT_EQ(diagnostics.messages()[0].text, "get_default_device failed!");

    const std::string second = output("pactl load-module module-null-sink sink_name=second "
                                      "rate=44100 channels=1");
    capture.start();
    ASSERT_TRUE(capture.waitStreaming(5000)) << printed.last();
    EXPECT_TRUE(eventually([&] { return packets.count > 0; }));
    capture.stop();
    EXPECT_EQ(capture.result(), 0);
    EXPECT_EQ(packets.channels, 1u); // the device's own layout, not an assumed stereo

    // A run that delivered ends the outage: the next one is news again.
    ASSERT_EQ(std::system(("pactl unload-module " + second).c_str()), 0);
    capture.start();
    EXPECT_FALSE(capture.waitStreaming(5000));
    capture.stop();
    EXPECT_EQ(diagnostics.messages().size(), 2u);
}

#endif
