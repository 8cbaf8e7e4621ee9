#include "audio/seat_capture_linux.h"

#include "audio/capture_wire.h"
#include "dbus/logind_proxy.h"
#include "os/executable.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
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
    pid_t parent;
    int highestDescriptor; // for closing them one by one where close_range is missing
};

Launch prepareLaunch(const std::filesystem::path& helper, const SeatUser& user) {
    rlimit files{};
    const int highest = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                            ? int(std::min<rlim_t>(files.rlim_cur, 1 << 20))
                            : 1 << 20;
    Launch launch{helper.string(), {}, {}, uid_t(user.uid), gid_t(user.gid), ::getpid(), highest};
    std::string home = "/";
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(launch.uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
        home = entry.pw_dir;
        launch.groups = loginGroups(entry.pw_name, launch.gid);
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

// The helper as `user` in a process group of its own, with /dev/null as its standard
// input, `output` as its standard output and error, `channel` as its descriptor 3 and
// no other; -1 when it cannot start.
pid_t spawnHelper(const Launch& launch, int channel, int output) {
    std::vector<char*> environment;
    for (const std::string& entry : launch.environment)
        environment.push_back(const_cast<char*>(entry.c_str()));
    environment.push_back(nullptr);
    char* argv[] = {const_cast<char*>(launch.program.c_str()), nullptr};
    const bool switchUser = ::geteuid() != launch.uid;
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing < 0)
        return -1;

    const pid_t pid = ::fork();
    if (pid != 0) {
        ::close(nothing);
        // Here as well as in the child, so that the group exists whichever runs first.
        if (pid > 0)
            ::setpgid(pid, pid);
        return pid;
    }
    // A group of its own: the service's signals to the helper reach whatever it starts.
    ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // Above the descriptors it gets first, so that none is overwritten before it is
    // copied (the service may have been started with 0, 1 or 2 closed).
    const int from[] = {nothing, output, output, channel};
    int high[4];
    for (int i = 0; i < 4; ++i)
        if ((high[i] = ::fcntl(from[i], F_DUPFD_CLOEXEC, 10)) < 0)
            ::_exit(126);
    for (int i = 0; i < 4; ++i)
        if (::dup2(high[i], i) != i) // dup2 leaves the copy open across the exec
            ::_exit(126);
    if (::close_range(4, ~0U, 0) != 0)
        for (int fd = 4; fd < launch.highestDescriptor; ++fd)
            ::close(fd);
    // Groups first: once the user id is given up, they could not be changed.
    if (switchUser && (::setgroups(launch.groups.size(), launch.groups.data()) != 0 ||
                       ::setresgid(launch.gid, launch.gid, launch.gid) != 0 ||
                       ::setresuid(launch.uid, launch.uid, launch.uid) != 0))
        ::_exit(126);
    // The helper must not outlive the service it captures for. After the change of
    // user, which clears the setting; a service already gone has no one to tell.
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != launch.parent)
        ::_exit(126);
    ::execve(argv[0], argv, environment.data());
    ::_exit(127);
}

// SIGTERM or SIGKILL to the helper's group (to the helper alone should the group be
// missing).
void signalHelper(pid_t helper, int signal) {
    if (::kill(-helper, signal) != 0)
        ::kill(helper, signal);
}

int millisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
}

} // namespace

std::vector<gid_t> loginGroups(const char* name, gid_t gid, GroupLister list) {
    // The list may grow between two calls (an administrator adding groups): each try
    // makes the room the one before asked for.
    int room = 64;
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::vector<gid_t> groups(static_cast<std::size_t>(room));
        int count = room;
        if (list(name, gid, groups.data(), &count) >= 0 && count >= 0 && count <= room) {
            groups.resize(std::size_t(count));
            if (std::find(groups.begin(), groups.end(), gid) == groups.end())
                groups.push_back(gid);
            return groups;
        }
        room = std::min(std::max(count, room * 2), 65536);
    }
    capturePrint("the groups of %s are unknown: the capture helper gets only group %u\n", name,
                 unsigned(gid));
    return {gid};
}

// What the helper writes, read while it runs and until it ended, and printed as
// capture lines.
class SeatCapture::HelperOutput {
public:
    explicit HelperOutput(int fd) : fd_(fd) {}
    ~HelperOutput() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    HelperOutput(const HelperOutput&) = delete;
    HelperOutput& operator=(const HelperOutput&) = delete;

    // -1 once every writer has closed its end.
    int fd() const { return fd_; }

    // Reads what is there without waiting, 64 KiB at most: a helper that writes
    // without end must not keep its reader from a stop.
    void drain() {
        char buffer[4096];
        for (int reads = 0; fd_ >= 0 && reads < 16; ++reads) {
            const ssize_t got = ::read(fd_, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && errno == EAGAIN)
                return;
            if (got <= 0) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
            for (const char c : std::string_view(buffer, std::size_t(got))) {
                if (c == '\n') {
                    print();
                } else if (partial_.size() <= kHelperLineMax) {
                    partial_ += c; // the rest of a longer line is cut off anyway
                }
            }
        }
    }

    // What is left, an unfinished line included.
    void finish() {
        drain();
        if (!partial_.empty())
            print();
    }

private:
    void print() {
        if (++lines_ <= kHelperLinesPerRun)
            capturePrint("%s", helperOutputLine(partial_).c_str());
        else if (lines_ == kHelperLinesPerRun + 1)
            capturePrint("lumivane-capture: more lines than %d; the rest of this run's are not "
                         "shown\n",
                         kHelperLinesPerRun);
        partial_.clear();
    }

    int fd_;
    std::string partial_;
    int lines_ = 0;
};

// Ends the helpers of ended runs, one after the other, on a thread of its own.
class SeatCapture::Reaper {
public:
    struct Helper {
        pid_t pid;
        std::unique_ptr<HelperOutput> output;
        std::string program;
        std::string user;
    };

    ~Reaper() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    void end(Helper helper) {
        std::unique_lock lock(mutex_);
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { run(); });
            } catch (const std::system_error&) {
                // No thread: ended here, which takes kHelperEndLimit at most longer.
                lock.unlock();
                endNow(helper);
                return;
            }
        }
        helpers_.push_back(std::move(helper));
        lock.unlock();
        wake_.notify_all();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return closing_ || !helpers_.empty(); });
            if (helpers_.empty())
                return;
            Helper helper = std::move(helpers_.front());
            helpers_.pop_front();
            lock.unlock();
            endNow(helper);
            lock.lock();
        }
    }

    static void endNow(Helper& helper) {
        signalHelper(helper.pid, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + kHelperEndLimit;
        // Readable when the helper has ended; without pidfds, a look every 10 ms.
        const int ended = int(::syscall(SYS_pidfd_open, helper.pid, 0));
        int status = 0;
        bool killed = false;
        for (;;) {
            const pid_t got = ::waitpid(helper.pid, &status, WNOHANG);
            if (got == helper.pid || (got < 0 && errno != EINTR))
                break;
            const int left = millisecondsLeft(deadline);
            if (left == 0) {
                // Stopped, traced or deaf to SIGTERM: SIGKILL ends it whatever its user does.
                signalHelper(helper.pid, SIGKILL);
                killed = true;
                while (::waitpid(helper.pid, &status, 0) < 0 && errno == EINTR) {
                }
                break;
            }
            pollfd fds[2] = {{ended, POLLIN, 0}, {helper.output->fd(), POLLIN, 0}};
            ::poll(fds, 2, ended >= 0 ? left : std::min(left, 10));
            if (fds[1].revents)
                helper.output->drain();
        }
        if (ended >= 0)
            ::close(ended);
        // Whatever it started and left in its group.
        ::kill(-helper.pid, SIGKILL);
        helper.output->finish();
        if (killed)
            capturePrint("%s did not end within %lld ms of SIGTERM: killed\n",
                         helper.program.c_str(), static_cast<long long>(kHelperEndLimit.count()));
        else if (WIFEXITED(status) && WEXITSTATUS(status) >= 126)
            capturePrint("%s did not start as %s (exit status %d)\n", helper.program.c_str(),
                         helper.user.c_str(), WEXITSTATUS(status));
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Helper> helpers_;
    bool closing_ = false;
    std::thread thread_;
};

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
    : helper_(std::move(helper)), reaper_(std::make_unique<Reaper>()),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
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
    reaper_.reset(); // the last helpers ended
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
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0) {
        capturePrint("pipe2 failed: %s\n", std::strerror(errno));
        ::close(channel[0]);
        ::close(channel[1]);
        return kFail;
    }
    ::fcntl(output[0], F_SETFL, O_NONBLOCK);
    auto helperOutput = std::make_unique<HelperOutput>(output[0]);
    const Launch launch = prepareLaunch(helper_, *user);
    const pid_t helper = spawnHelper(launch, channel[1], output[1]);
    ::close(channel[1]);
    ::close(output[1]);
    if (helper < 0) {
        capturePrint("cannot start %s: %s\n", launch.program.c_str(), std::strerror(errno));
        ::close(channel[0]);
        return kFail;
    }
    const std::int32_t result = relay(channel[0], *helperOutput);
    ::close(channel[0]);
    // Ended apart: the helper is the user's, and a stop must not wait on it.
    reaper_->end({helper, std::move(helperOutput), launch.program, user->name});
    return result;
}

// Hands the helper's packets on until its run ends, the seat changes or the capture
// stops; returns the run's result.
std::int32_t SeatCapture::relay(int channel, HelperOutput& output) {
    std::vector<std::uint8_t> buffer(kWireMaxMessage);
    std::optional<std::int32_t> ended;
    for (;;) {
        pollfd fds[3] = {{channel, POLLIN, 0}, {wake_, POLLIN, 0}, {output.fd(), POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0)
            continue;
        if (stopRequested_)
            return 0;
        if (seatChanged_)
            return kCaptureDefaultChanged;
        if (fds[2].revents)
            output.drain();
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
