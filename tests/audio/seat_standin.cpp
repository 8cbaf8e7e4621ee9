// A stand-in login manager for trying the installed service by hand on a machine
// without one: on the system bus (DBUS_SYSTEM_BUS_ADDRESS), seat0's active session
// is USER's (uid, primary group and runtime directory from the arguments) until the
// program is stopped.
//
//     seat_standin UID GID NAME RUNTIME_DIRECTORY

#include "fake_seat.h"

#include <csignal>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: seat_standin UID GID NAME RUNTIME_DIRECTORY\n");
        return 2;
    }
    const service_testing::SeatAccount account{
        std::uint32_t(std::stoul(argv[1])), std::uint32_t(std::stoul(argv[2])), argv[3], argv[4]};
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    auto connection = sdbus::createSystemBusConnection("org.freedesktop.login1");
    const std::string userPath = "/org/freedesktop/login1/user/_" + std::to_string(account.uid);
    service_testing::FakeSeat seat(*connection);
    service_testing::FakeSession session(*connection, service_testing::SeatBus::kSession, account,
                                         userPath);
    service_testing::FakeUser user(*connection, userPath, account);
    connection->enterEventLoopAsync();
    seat.setActive("1", service_testing::SeatBus::kSession);
    std::printf("seat0: %s (uid %u) is at the seat\n", account.name.c_str(), account.uid);
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    connection->leaveEventLoop();
    return 0;
}
