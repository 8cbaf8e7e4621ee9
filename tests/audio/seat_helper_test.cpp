// The capture helper belongs to the seat user, who can stop it, and its output and
// descriptors are theirs to see: the service (root, as this test) must neither wait
// on it nor hand it anything but its channel. The helper here is the probe
// (capture_helper_probe.cpp), run as `nobody`, which reports how it was started and
// then stops itself deaf to SIGTERM.

#include "audio/capture_wire.h"
#include "audio/seat_capture_linux.h"
#include "eventually.h"
#include "fake_seat.h"
#include "led_controller_fixture.h"
#include "os/executable.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testing_support::eventually;

namespace {

struct ProbeReport {
    pid_t pid = 0, ppid = 0, pgid = 0;
    int deathSignal = 0;
    std::string groups, fds, fd0, fd1, fd2;
};

// seat0 with `nobody` at it, a runtime directory of theirs, and what the probe reports
// there.
class NobodyAtTheSeat {
public:
    NobodyAtTheSeat() {
        const passwd* nobody = ::getpwnam("nobody");
        char dirTemplate[] = "/tmp/lumivane-probe.XXXXXX";
        if (!nobody || !::mkdtemp(dirTemplate))
            return;
        account = {nobody->pw_uid, nobody->pw_gid, "nobody", dirTemplate};
        if (::chown(dirTemplate, nobody->pw_uid, nobody->pw_gid) != 0)
            return;
        login.emplace(account);
        if (login->running())
            login->logIn();
    }
    ~NobodyAtTheSeat() {
        if (!account.runtimePath.empty())
            std::filesystem::remove_all(account.runtimePath);
    }
    bool ready() const { return login && login->running(); }

    std::optional<ProbeReport> report(std::chrono::milliseconds limit = 10000ms) const {
        const auto path = std::filesystem::path(account.runtimePath) / "probe-report";
        if (!eventually([&] { return std::filesystem::exists(path); }, limit))
            return std::nullopt;
        std::ifstream in(path);
        ProbeReport r;
        std::string word;
        in >> word >> r.pid >> word >> r.ppid >> word >> r.pgid >> word >> r.deathSignal >> word >>
            r.groups >> word >> r.fds >> word >> r.fd0 >> word >> r.fd1 >> word >> r.fd2;
        return in ? std::optional(r) : std::nullopt;
    }

    static std::filesystem::path probe() {
        return os::fileBesideExecutable("capture_helper_probe");
    }

    service_testing::SeatAccount account;

private:
    std::optional<service_testing::SeatBus> login;
};

// The process's state letter (T: stopped), or none once it is gone (and reaped).
std::optional<char> processState(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size())
        return std::nullopt;
    return stat[close + 2];
}

class CapturedLines {
public:
    CapturedLines() {
        service::setCapturePrintSink([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~CapturedLines() { service::setCapturePrintSink({}); }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool has(const std::string& text) {
        for (const std::string& line : lines())
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

class StoppedHelper : public led_testing::ControllerTest {};

} // namespace

// Issue 30, High 1: a Mode change used to end the capture by waiting for the helper
// without a bound, on the bus thread and under the controller's lock.
TEST_F(StoppedHelper, NeitherHoldsUpAModeChangeNorOutlivesTheCapture) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the capture helper is started as another user: needs root";
    NobodyAtTheSeat seat;
    ASSERT_TRUE(seat.ready());
    auto controller = makeController(kPeriod, {}, [] {
        return std::make_unique<service::SeatCapture>(NobodyAtTheSeat::probe());
    });
    CapturedLines printed;
    controller->setMode(service::LedController::kModeMusic);
    const auto report = seat.report();
    ASSERT_TRUE(report);
    ASSERT_TRUE(eventually([&] { return processState(report->pid) == 'T'; }));

    auto change = std::async(std::launch::async, [&] { controller->setMode(0); });
    const bool answered = change.wait_for(1s) == std::future_status::ready;
    if (!answered)
        ::kill(report->pid, SIGKILL); // so that the test can end
    change.wait();
    EXPECT_TRUE(answered) << "the Mode change waited for the stopped helper";
    EXPECT_FALSE(controller->musicEffect().running());
    EXPECT_TRUE(eventually([&] { return !processState(report->pid); },
                           service::SeatCapture::kHelperEndLimit + 2000ms))
        << "the helper outlived its capture";
    EXPECT_TRUE(eventually([&] { return printed.has("did not end within"); }));
}

// Medium 8 and Low 9: its own process group, no descriptor of the service's but the
// channel, the service's pipe for its output, which is printed sanitised and bounded,
// and the parent-death signal set after the change of user (which clears it).
TEST(SeatHelper, GetsOnlyItsChannelAndAPipeAndItsOutputIsPrintedSanitised) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the capture helper is started as another user: needs root";
    NobodyAtTheSeat seat;
    ASSERT_TRUE(seat.ready());
    // A descriptor the service left inheritable.
    const int leaked = ::open("/dev/null", O_RDONLY);
    ASSERT_GT(leaked, 3);
    CapturedLines printed;
    service::SeatCapture capture(NobodyAtTheSeat::probe());
    capture.start();
    const auto report = seat.report();
    ::close(leaked);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->ppid, ::getpid());
    EXPECT_EQ(report->pgid, report->pid);
    EXPECT_EQ(report->deathSignal, SIGTERM);
    EXPECT_EQ(report->fds, "0,1,2,3");
    EXPECT_EQ(report->fd0, "/dev/null");
    EXPECT_EQ(report->fd1.rfind("pipe:", 0), 0u) << report->fd1;
    EXPECT_EQ(report->fd2, report->fd1);
    EXPECT_EQ(report->groups, std::to_string(seat.account.gid));

    EXPECT_TRUE(eventually([&] { return printed.has("line 30"); }));
    capture.stop();
    EXPECT_TRUE(eventually([&] { return !processState(report->pid); }, 3000ms));
    EXPECT_TRUE(printed.has("lumivane-capture: <3>on standard error\n"));
    EXPECT_TRUE(printed.has("lumivane-capture: <0>sink \\x1b[31mred\\x1b[0m\\x0d\\x5c from the "
                            "user's sound server\n"));
    int fromHelper = 0;
    for (const std::string& line : printed.lines()) {
        if (line.rfind("lumivane-capture: ", 0) != 0)
            continue;
        ++fromHelper;
        EXPECT_LE(line.size(),
                  std::string("lumivane-capture: ").size() + service::kHelperLineMax + 4);
        for (char c : line.substr(0, line.size() - 1))
            EXPECT_TRUE(c >= 0x20 && c < 0x7F) << line;
    }
    EXPECT_EQ(fromHelper, service::kHelperLinesPerRun + 1) << "the lines of a run are bounded";
    EXPECT_TRUE(printed.has("more lines than"));
}

// Low 10: a list that keeps failing left zero-filled entries, group 0 (root's), among
// the helper's groups.
TEST(SeatHelper, GroupsThatCannotBeListedGiveOnlyThePrimaryGroup) {
    static int calls = 0;
    calls = 0;
    auto growing = [](const char*, gid_t, gid_t* groups, int* count) {
        // The list grows past the room offered, every time.
        ++calls;
        groups[0] = 100;
        *count += 10;
        return -1;
    };
    EXPECT_EQ(service::loginGroups("someone", 100, growing), std::vector<gid_t>{100});
    EXPECT_GE(calls, 2);

    auto secondFits = [](const char*, gid_t gid, gid_t* groups, int* count) {
        if (*count < 100) {
            *count = 100;
            return -1;
        }
        for (int i = 0; i < 100; ++i)
            groups[i] = gid + gid_t(i);
        *count = 100;
        return 100;
    };
    const auto groups = service::loginGroups("someone", 1000, secondFits);
    ASSERT_EQ(groups.size(), 100u);
    EXPECT_EQ(groups.front(), 1000u);
    EXPECT_EQ(groups.back(), 1099u);
}
