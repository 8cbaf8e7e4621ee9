// The seat user's music: the service (root, as this test) follows the login
// manager's seat0 and captures, through its helper running as that user, the sound
// of a PulseAudio daemon run by `nobody`, through that daemon's restart, a log-out and
// a log-in.

#include "audio/seat_capture_linux.h"
#include "audio_signals.h"
#include "eventually.h"
#include "fake_seat.h"

#include <atomic>
#include <csignal>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using testing_support::eventually;

namespace {

// A program run as `account` in its runtime directory; killed with the object.
class AsUser {
public:
    AsUser(const service_testing::SeatAccount& account, std::vector<std::string> argv) {
        pid_ = ::fork();
        if (pid_ != 0)
            return;
        const gid_t gid = account.gid;
        if (::setgroups(1, &gid) != 0 || ::setresgid(gid, gid, gid) != 0 ||
            ::setresuid(account.uid, account.uid, account.uid) != 0)
            ::_exit(126);
        // The user's own session has no bus of the test's: the sound server would
        // only wait for answers from the stand-in login manager's bus.
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        ::setenv("XDG_RUNTIME_DIR", account.runtimePath.c_str(), 1);
        ::setenv("HOME", account.runtimePath.c_str(), 1);
        std::vector<char*> args;
        for (std::string& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ~AsUser() { kill(SIGTERM); }
    void kill(int signal) {
        if (pid_ <= 0)
            return;
        ::kill(pid_, signal);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

std::unique_ptr<AsUser> startSoundServer(const service_testing::SeatAccount& account) {
    const std::filesystem::path socket =
        std::filesystem::path(account.runtimePath) / "pulse/native";
    std::filesystem::remove(socket);
    auto server = std::make_unique<AsUser>(
        account,
        std::vector<std::string>{"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                 "--log-level=error", "--load=module-native-protocol-unix",
                                 "--load=module-null-sink sink_name=lumivane "
                                 "rate=48000 channels=2"});
    EXPECT_TRUE(eventually([&] { return std::filesystem::exists(socket); }, 5000ms))
        << "the sound server did not start as " << account.name;
    return server;
}

// Endless tone into the user's default sink, at low latency.
std::unique_ptr<AsUser> startTone(const service_testing::SeatAccount& account) {
    const std::string raw = account.runtimePath + "/tone.raw";
    if (!std::filesystem::exists(raw)) {
        const auto second = audio_signals::packet(
            48000, 2, [](int i, int) { return audio_signals::cosine(i, 48000, 440, 16000); });
        std::ofstream out(raw, std::ios::binary);
        for (int i = 0; i < 30; ++i)
            out.write(reinterpret_cast<const char*>(second.data()), std::streamsize(second.size()));
        out.close();
        ::chown(raw.c_str(), account.uid, account.gid);
    }
    return std::make_unique<AsUser>(
        account, std::vector<std::string>{"pacat", "--playback", "--latency-msec=20", "--raw",
                                          "--rate=48000", "--channels=2", "--format=s16le", raw});
}

} // namespace

TEST(SeatCapture, FollowsTheSeatUsersSoundThroughRestartsLogOutAndLogIn) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the capture helper is started as another user: needs root";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    char dirTemplate[] = "/tmp/lumivane-seat.XXXXXX";
    ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    ASSERT_EQ(::chown(dir.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    const service_testing::SeatAccount account{nobody->pw_uid, nobody->pw_gid, "nobody", dir};

    service_testing::SeatBus login(account);
    ASSERT_TRUE(login.running());
    auto server = startSoundServer(account);
    auto tone = startTone(account);

    service::SeatCapture capture(service::SeatCapture::defaultHelper());
    std::atomic<int> loudPackets{0};
    std::atomic<int> runsEnded{0};
    std::atomic<std::int32_t> lastResult{0};
    capture.setCallback([&](const std::uint8_t* samples, std::uint32_t frames, std::uint32_t,
                            std::uint32_t channels) {
        const auto* values = reinterpret_cast<const std::int16_t*>(samples);
        for (std::uint32_t i = 0; i < frames * channels; ++i)
            if (values[i] > 4000 || values[i] < -4000) {
                ++loudPackets;
                return;
            }
    });
    capture.setRunEndedCallback([&](std::int32_t result) {
        lastResult = result;
        ++runsEnded;
    });
    auto restart = [&] {
        capture.stop();
        loudPackets = 0;
        capture.start();
    };

    // Nobody at the seat: nothing is captured, and the run waits for someone.
    capture.start();
    EXPECT_FALSE(capture.waitStreaming(500));
    EXPECT_EQ(capture.frameCount(), 0u);
    EXPECT_EQ(runsEnded, 0);

    // A log-in ends the waiting run at once so that the next follows the new user.
    login.logIn();
    ASSERT_TRUE(eventually([&] { return runsEnded == 1; }, 5000ms));
    EXPECT_EQ(lastResult, service::kCaptureDefaultChanged);
    ASSERT_TRUE(capture.seatUser().has_value());
    EXPECT_EQ(capture.seatUser()->uid, nobody->pw_uid);
    restart();
    ASSERT_TRUE(capture.waitStreaming(5000));
    EXPECT_TRUE(eventually([&] { return loudPackets > 5; }, 5000ms)) << "no tone from nobody";

    // The user's sound server goes away: the run ends as a failure; once it is back,
    // the next run captures again.
    tone.reset();
    server->kill(SIGKILL);
    ASSERT_TRUE(eventually([&] { return runsEnded == 2; }, 5000ms));
    EXPECT_NE(lastResult, 0);
    EXPECT_NE(lastResult, service::kCaptureDefaultChanged);
    server = startSoundServer(account);
    tone = startTone(account);
    restart();
    ASSERT_TRUE(capture.waitStreaming(5000));
    EXPECT_TRUE(eventually([&] { return loudPackets > 5; }, 5000ms)) << "nothing after restart";

    // Log-out: the run ends, and the next one delivers nothing though music still plays.
    login.logOut();
    ASSERT_TRUE(eventually([&] { return runsEnded == 3; }, 5000ms));
    EXPECT_EQ(lastResult, service::kCaptureDefaultChanged);
    restart();
    EXPECT_FALSE(capture.waitStreaming(1000));
    EXPECT_EQ(loudPackets, 0);
    capture.stop();

    tone.reset();
    server.reset();
    std::filesystem::remove_all(dir);
}
