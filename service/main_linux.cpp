// The lighting service on Linux: the automation interface on D-Bus
// (service::LightControlObject), the stored effect, sleep and resume.

#include "audio/seat_capture_linux.h"
#include "os/bus_linux.h"
#include "os/diagnostics.h"
#include "service/led_controller.h"
#include "service/light_control.h"
#include "service/light_control_object_linux.h"
#include "service/service_identity.h"
#include "service/sleep_watch_linux.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <syslog.h>
#include <unistd.h>

namespace {

constexpr const char* kBusName = "Lumivane.LightControl";

bool busGone(const sdbus::Error& error) {
    return error.getName() == "org.freedesktop.DBus.Error.Disconnected" ||
           error.getName() == "org.freedesktop.DBus.Error.NoReply";
}

// Sleep and resume come from the login manager on the system bus, whichever bus the
// clients use; a machine without one (a container, a test) simply never sleeps here.
struct SleepFollowing {
    std::unique_ptr<sdbus::IConnection> systemBus;
    std::unique_ptr<service::SleepWatch> watch;

    explicit SleepFollowing(service::LedController& controller) {
        try {
            systemBus = sdbus::createSystemBusConnection();
            watch = std::make_unique<service::SleepWatch>(
                *systemBus,
                [&controller](std::uint32_t event) { controller.handlePowerBroadcast(event); });
            systemBus->enterEventLoopAsync();
        } catch (const sdbus::Error& error) {
            std::cerr << "lumivane: sleep and resume are not followed (" << error.getMessage()
                      << ")\n";
            watch.reset();
            systemBus.reset();
        }
    }
    ~SleepFollowing() {
        if (systemBus)
            systemBus->leaveEventLoop();
        watch.reset(); // before its connection
    }
};

// Serves until SIGTERM or SIGINT arrives on `signals` or the bus goes away.
int serve(sdbus::IConnection& connection, int signals) {
    for (;;) {
        while (connection.processPendingRequest()) {
        }
        const sdbus::IConnection::PollData data = connection.getEventLoopPollData();
        pollfd fds[2] = {{data.fd, data.events, 0}, {signals, POLLIN, 0}};
        if (::poll(fds, 2, data.getPollTimeout()) < 0)
            continue; // EINTR: look again
        if (fds[1].revents & POLLIN)
            return 0;
        // A hang-up that processing did not report as an error still ends the service.
        if ((fds[0].revents & (POLLHUP | POLLERR)) && !connection.processPendingRequest())
            return 0;
    }
}

int run() {
    // Blocked before any thread exists, so that every thread the controller starts
    // inherits the mask and the signals reach only the descriptor.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGTERM);
    sigaddset(&stopping, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    const int signals = signalfd(-1, &stopping, SFD_CLOEXEC);
    if (signals < 0) {
        std::perror("lumivane: signalfd");
        return 1;
    }

    // The installed service runs as root on the system bus, while the music it follows
    // is the seat user's: a helper running as that user captures it. Elsewhere (the
    // build tree, a session bus) the service captures its own user's sound itself.
    bool systemService = false;
    try {
        systemService = ::geteuid() == 0 && os::chosenBus() == os::Bus::System;
    } catch (const os::BusChoiceError&) {
        // Reported below, where the bus is connected.
    }
    if (systemService) {
        service::setProductCaptureSource([] {
            return std::make_unique<service::SeatCapture>(service::SeatCapture::defaultHelper());
        });
    }

    std::unique_ptr<sdbus::IConnection> connection;
    try {
        connection = os::connectToBus();
    } catch (const os::BusChoiceError& error) {
        std::cerr << "lumivane: " << error.what() << '\n';
        return 1;
    } catch (const sdbus::Error& error) {
        std::cerr << "lumivane: cannot connect to the "
                  << (os::chosenBus() == os::Bus::Session ? "session" : "system")
                  << " bus: " << error.getMessage() << '\n';
        return 1;
    }
    // The name before anything else: a second instance leaves here, before it has
    // touched the board or started an effect beside the first one's. Calls that
    // arrive from now on wait in the connection until serve() takes them.
    try {
        connection->requestName(kBusName);
    } catch (const sdbus::Error& error) {
        std::cerr << "lumivane: cannot own the bus name " << kBusName << " (" << error.getMessage()
                  << "); is another instance running?\n";
        return 1;
    }

    // Then, as on Windows: the stored effect starts with the service, not with the
    // first client.
    service::LedController& controller = service::LedController::instance();
    const SleepFollowing sleep(controller);

    bool served = false;
    int status = 1;
    try {
        service::LightControlObject object(*connection, service::LightControl(controller));
        served = true;
        os::logEvent(service::kServiceName, service::kEventStarted);
        status = serve(*connection, signals);
    } catch (const sdbus::Error& error) {
        status = busGone(error) ? 0 : 1;
        if (status != 0)
            std::cerr << "lumivane: " << error.getName() << ": " << error.getMessage() << '\n';
    }
    // The effect threads may hold the firmware's global lock or be halfway through an
    // EC write: they end before the process does, and before another instance can own
    // the name and start its own.
    if (!controller.shutDown())
        std::cerr << "lumivane: the effects did not stop within "
                  << service::LedController::kShutdownLimit.count() << " ms; ending anyway\n";
    try {
        connection->releaseName(kBusName);
    } catch (const sdbus::Error&) {
        // The bus is gone, and the name with it.
    }
    if (served)
        os::logEvent(service::kServiceName, service::kEventStopped);
    return status;
}

} // namespace

int main() {
    openlog(service::kJournalIdentifier, LOG_PID, LOG_DAEMON);
    const int status = run();
    // The controller is never destroyed, and a thread stuck in a call may outlive the
    // wait for it: leave without running static destructors under its feet.
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(status);
}
