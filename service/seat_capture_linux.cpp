#include "service/seat_capture_linux.h"

#include "dbus/logind_proxy.h"
#include "os/executable.h"
#include "service/capture_wire.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace service {
namespace {

constexpr const char* kLogin = "org.freedesktop.login1";
constexpr const char* kSeatPath = "/org/freedesktop/login1/seat/seat0";
constexpr std::int32_t kFail = std::int32_t(0x80004005); // E_FAIL, as a failed capture run

template <class Interface>
class Remote final : public sdbus::ProxyInterfaces<Interface> {
public:
    Remote(sdbus::IConnection& connection, const std::string& path)
        : sdbus::ProxyInterfaces<Interface>(connection, kLogin, path) {}
    ~Remote() { this->unregisterProxy(); }
};

// What the helper is started with, prepared before the fork: after it the child may
// only make async-signal-safe calls.
struct Launch {
    std::string program;
    std::vector<std::string> environment;
    std::vector<gid_t> groups;
    uid_t uid;
    gid_t gid;
};

Launch prepareLaunch(const std::filesystem::path& helper, const SeatUser& user) {
    Launch launch{helper.string(), {}, {}, uid_t(user.uid), gid_t(user.gid)};
    std::string home = "/";
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(launch.uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        home = entry.pw_dir;
        // The supplementary groups (the "audio" group, say) as a log-in would give them.
        int count = 64;
        launch.groups.resize(std::size_t(count));
        if (::getgrouplist(entry.pw_name, launch.gid, launch.groups.data(), &count) < 0) {
            launch.groups.resize(std::size_t(count));
            ::getgrouplist(entry.pw_name, launch.gid, launch.groups.data(), &count);
        }
        launch.groups.resize(std::size_t(count));
    }
    if (launch.groups.empty())
        launch.groups.push_back(launch.gid);
    launch.environment = {"XDG_RUNTIME_DIR=" + user.runtimeDirectory, "HOME=" + home,
                          "USER=" + user.name, "LOGNAME=" + user.name,
                          "PATH=/usr/local/bin:/usr/bin:/bin"};
    if (const char* debug = std::getenv("LUMIVANE_DEBUG"))
        launch.environment.push_back(std::string("LUMIVANE_DEBUG=") + debug);
    return launch;
}

// The helper as `user`, with `channel` as its descriptor 3; -1 when it cannot start.
pid_t spawnHelper(const Launch& launch, int channel) {
    std::vector<char*> environment;
    for (const std::string& entry : launch.environment)
        environment.push_back(const_cast<char*>(entry.c_str()));
    environment.push_back(nullptr);
    char* argv[] = {const_cast<char*>(launch.program.c_str()), nullptr};
    const bool switchUser = ::geteuid() != launch.uid;

    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // The helper must not outlive the service it captures for.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (channel == 3)
        ::fcntl(3, F_SETFD, 0);
    else if (::dup2(channel, 3) != 3)
        ::_exit(126);
    // Groups first: once the user id is given up, they could not be changed.
    if (switchUser && (::setgroups(launch.groups.size(), launch.groups.data()) != 0 ||
                       ::setresgid(launch.gid, launch.gid, launch.gid) != 0 ||
                       ::setresuid(launch.uid, launch.uid, launch.uid) != 0))
        ::_exit(126);
    ::execve(argv[0], argv, environment.data());
    ::_exit(127);
}

} // namespace

// The login manager: a connection with its own event loop that hears seat0's
// session changes, and one for the questions of a run (a run asks while the loop
// thread may be delivering a signal).
class SeatCapture::Login {
public:
    explicit Login(std::function<void()> seatChanged) {
        watch_ = sdbus::createSystemBusConnection();
        lookup_ = sdbus::createSystemBusConnection();
        seat_ = std::make_unique<SeatWatch>(*watch_, std::move(seatChanged));
        watch_->enterEventLoopAsync();
    }
    ~Login() {
        watch_->leaveEventLoop();
        seat_.reset();
    }

    std::optional<SeatUser> seatUser() {
        using namespace org::freedesktop::login1;
        const auto active = Remote<Seat_proxy>(*lookup_, kSeatPath).ActiveSession();
        const sdbus::ObjectPath& sessionPath = active.get<1>();
        if (active.get<0>().empty() || sessionPath.empty() || sessionPath == "/")
            return std::nullopt;
        Remote<Session_proxy> session(*lookup_, sessionPath);
        const auto owner = session.User();
        SeatUser user;
        user.uid = owner.get<0>();
        user.name = session.Name();
        Remote<User_proxy> account(*lookup_, owner.get<1>());
        user.gid = account.GID();
        user.runtimeDirectory = account.RuntimePath();
        if (user.runtimeDirectory.empty())
            user.runtimeDirectory = "/run/user/" + std::to_string(user.uid);
        return user;
    }

private:
    class SeatWatch final : public sdbus::ProxyInterfaces<org::freedesktop::login1::Seat_proxy,
                                                          sdbus::Properties_proxy> {
    public:
        SeatWatch(sdbus::IConnection& connection, std::function<void()> changed)
            : ProxyInterfaces(connection, kLogin, kSeatPath), changed_(std::move(changed)) {
            registerProxy();
        }
        ~SeatWatch() { unregisterProxy(); }

    private:
        void onPropertiesChanged(const std::string& interfaceName,
                                 const std::map<std::string, sdbus::Variant>& changed,
                                 const std::vector<std::string>& invalidated) override {
            if (interfaceName != Seat_proxy::INTERFACE_NAME)
                return;
            const std::string name = "ActiveSession";
            if (changed.count(name) ||
                std::find(invalidated.begin(), invalidated.end(), name) != invalidated.end())
                changed_();
        }
        std::function<void()> changed_;
    };

    std::unique_ptr<sdbus::IConnection> watch_;
    std::unique_ptr<sdbus::IConnection> lookup_;
    std::unique_ptr<SeatWatch> seat_;
};

SeatCapture::SeatCapture(std::filesystem::path helper)
    : helper_(std::move(helper)), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    try {
        login_ = std::make_unique<Login>([this] {
            seatChanged_ = true;
            wakeRun();
        });
    } catch (const sdbus::Error& error) {
        std::fprintf(stderr, "lumivane: no login manager, so nobody's music is followed (%s)\n",
                     error.getMessage().c_str());
    }
}

SeatCapture::~SeatCapture() {
    stop();
    login_.reset();
    if (wake_ >= 0)
        ::close(wake_);
}

std::filesystem::path SeatCapture::defaultHelper() {
    std::filesystem::path beside = os::fileBesideExecutable("lumivane-capture");
    std::error_code ec;
    if (std::filesystem::exists(beside, ec))
        return beside;
    return std::filesystem::path(LUMIVANE_LIBEXECDIR) / "lumivane-capture";
}

std::optional<SeatUser> SeatCapture::seatUser() {
    if (!login_)
        return std::nullopt;
    try {
        return login_->seatUser();
    } catch (const sdbus::Error& error) {
        capturePrint("seat0's user is unknown: %s\n", error.getMessage().c_str());
        return std::nullopt;
    }
}

void SeatCapture::start() {
    if (thread_.joinable())
        return;
    result_ = kCaptureUnexpected;
    frameCount_ = 0;
    stopRequested_ = false;
    seatChanged_ = false;
    setState(State::Starting);
    thread_ = std::thread([this] {
        result_ = runOnce();
        setState(State::Ended);
        if (runEnded_ && !stopRequested_)
            runEnded_(result_);
    });
}

void SeatCapture::stop() {
    if (!thread_.joinable())
        return;
    stopRequested_ = true;
    wakeRun();
    thread_.join();
    setState(State::Idle);
}

bool SeatCapture::waitStreaming(std::uint32_t milliseconds) const {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                      [this] { return state_ != State::Starting; });
    return state_ == State::Streaming;
}

void SeatCapture::setState(State state) {
    {
        std::lock_guard lock(mutex_);
        state_ = state;
    }
    changed_.notify_all();
}

void SeatCapture::wakeRun() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(wake_, &one, sizeof one);
}

std::int32_t SeatCapture::runOnce() {
    std::uint64_t drained = 0;
    [[maybe_unused]] ssize_t read = ::read(wake_, &drained, sizeof drained);
    const std::optional<SeatUser> user = seatUser();
    if (!user) {
        // Nobody at the seat: no packets, so the effect shows dark, until someone
        // logs in or the effect stops.
        pollfd fd{wake_, POLLIN, 0};
        while (!stopRequested_ && !seatChanged_)
            ::poll(&fd, 1, -1);
        return stopRequested_ ? 0 : kCaptureDefaultChanged;
    }
    int channel[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, channel) != 0) {
        capturePrint("socketpair failed: %s\n", std::strerror(errno));
        return kFail;
    }
    const Launch launch = prepareLaunch(helper_, *user);
    const pid_t helper = spawnHelper(launch, channel[1]);
    ::close(channel[1]);
    if (helper < 0) {
        capturePrint("cannot start %s: %s\n", launch.program.c_str(), std::strerror(errno));
        ::close(channel[0]);
        return kFail;
    }
    const std::int32_t result = relay(channel[0]);
    ::close(channel[0]);
    ::kill(helper, SIGTERM);
    int status = 0;
    ::waitpid(helper, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) >= 126)
        capturePrint("%s did not start as %s (exit status %d)\n", launch.program.c_str(),
                     user->name.c_str(), WEXITSTATUS(status));
    return result;
}

// Hands the helper's packets on until its run ends, the seat changes or the capture
// stops; returns the run's result.
std::int32_t SeatCapture::relay(int channel) {
    std::vector<std::uint8_t> buffer(kWireMaxMessage);
    std::optional<std::int32_t> ended;
    for (;;) {
        pollfd fds[2] = {{channel, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (stopRequested_)
            return 0;
        if (seatChanged_)
            return kCaptureDefaultChanged;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t size = ::recv(channel, buffer.data(), buffer.size(), MSG_TRUNC);
        if (size <= 0)
            return ended.value_or(kFail); // the helper has gone
        if (std::size_t(size) > buffer.size()) {
            capturePrint("capture helper: a message of %zd bytes, more than %zu\n", size,
                         buffer.size());
            return kFail;
        }
        const WireMessage message =
            decodeWireMessage(std::span<const std::uint8_t>(buffer.data(), std::size_t(size)));
        if (const auto* packet = std::get_if<WirePacket>(&message)) {
            frameCount_ += packet->frames;
            if (frameCount_ == packet->frames)
                setState(State::Streaming);
            if (callback_)
                callback_(packet->samples.data(), packet->frames, packet->flags, packet->channels);
        } else if (const auto* end = std::get_if<WireRunEnded>(&message)) {
            ended = end->result;
        } else {
            capturePrint("capture helper: %s\n", std::get<WireError>(message).reason.c_str());
            return kFail;
        }
    }
}

} // namespace service
