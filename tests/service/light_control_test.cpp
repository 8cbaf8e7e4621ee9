// The lighting service's automation interface on a private bus: the daemon as the bus
// starts it, called through the generated proxy, plain sdbus-c++ and the shell tools.

#include "board/ec_led_port.h"
#include "child_program.h"
#include "dbus/light_control_proxy.h"
#include "eventually.h"
#include "fake_logind.h"
#include "panel/service_client.h"
#include "service_bus_fixture.h"
#include "virtualboard/firmware.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <gmock/gmock.h>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <tinyxml.h>
#include <vector>

namespace {

using namespace service_testing;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;

class LightControl final : public sdbus::ProxyInterfaces<Lumivane::ILightControl_proxy> {
public:
    explicit LightControl(sdbus::IConnection& connection)
        : ProxyInterfaces(connection, kName, kPath) {
        registerProxy();
    }
    ~LightControl() { unregisterProxy(); }
};

struct Shell {
    int status = -1;
    std::string output;
};

// A command line with its standard error joined to its output.
Shell shell(const std::string& command) {
    Shell result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return result;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe))
        result.output += buffer;
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The members of the service's interface in an introspection document: kind, name,
// type and access of each, so two documents compare whatever their layout.
std::set<std::string> membersOf(const std::string& xml) {
    TiXmlDocument document;
    document.Parse(xml.c_str());
    std::set<std::string> members;
    const TiXmlElement* node = document.FirstChildElement("node");
    for (const TiXmlElement* interface = node ? node->FirstChildElement("interface") : nullptr;
         interface; interface = interface->NextSiblingElement("interface")) {
        if (interface->Attribute("name") != std::string(kInterface))
            continue;
        for (const TiXmlElement* member = interface->FirstChildElement(); member;
             member = member->NextSiblingElement()) {
            std::string entry = member->ValueStr();
            for (const char* attribute : {"name", "type", "access"})
                if (const char* value = member->Attribute(attribute))
                    entry += std::string(" ") + value;
            for (const TiXmlElement* arg = member->FirstChildElement("arg"); arg;
                 arg = arg->NextSiblingElement("arg"))
                entry +=
                    std::string(" arg ") + (arg->Attribute("type") ? arg->Attribute("type") : "");
            members.insert(entry);
        }
    }
    return members;
}

using LightControlTest = ServiceBusTest;

TEST_F(LightControlTest, TheFirstCallStartsTheServiceThroughItsActivationFile) {
    auto connection = sdbus::createSessionBusConnection();
    EXPECT_FALSE(nameHasOwner(*connection));
    LightControl service(*connection);
    EXPECT_EQ(service.Mode(), 0);
    EXPECT_TRUE(nameHasOwner(*connection));
}

TEST_F(LightControlTest, ModeKeepsOnlyTheEffectsAndStoresWhatItKeeps) {
    auto connection = sdbus::createSessionBusConnection();
    LightControl service(*connection);
    service.Mode(1);
    for (std::int16_t unknown : {3, -1, 256}) {
        service.Mode(unknown);
        EXPECT_EQ(service.Mode(), 0) << unknown;
        EXPECT_EQ(storedMode(), 0) << unknown;
        service.Mode(1);
    }
    EXPECT_EQ(service.Mode(), 1);
    EXPECT_EQ(storedMode(), 1);
}

TEST_F(LightControlTest, ColorIsKeptForEveryClientAndLeavesTheLedsAlone) {
    const virtualboard::LedColor leds = board->readout().ledColor();
    auto writer = sdbus::createSessionBusConnection();
    LightControl(*writer).Color(0x80FF4010u);
    auto reader = sdbus::createSessionBusConnection();
    EXPECT_EQ(LightControl(*reader).Color(), 0x80FF4010u);
    EXPECT_EQ(board->readout().ledColor(), leds);
    EXPECT_EQ(LightControl(*reader).Mode(), 0);
}

TEST_F(LightControlTest, StartStopAndCheckedSucceedAndChangeNothing) {
    auto connection = sdbus::createSessionBusConnection();
    LightControl service(*connection);
    service.Mode(1);
    service.Color(7);
    service.Stop();
    service.Checked(1);
    service.Start();
    EXPECT_EQ(service.Checked(), 0);
    EXPECT_EQ(service.Mode(), 1);
    EXPECT_EQ(service.Color(), 7u);
    EXPECT_EQ(storedMode(), 1);
}

TEST_F(LightControlTest, ModeAndColorAnnounceTheirChangesOnly) {
    auto connection = sdbus::createSessionBusConnection();
    LightControl service(*connection);
    service.Color(0); // started, so that its unique name can be watched

    std::string owner;
    auto bus = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bus->callMethod("GetNameOwner")
        .onInterface("org.freedesktop.DBus")
        .withArguments(std::string(kName))
        .storeResultsTo(owner);

    std::mutex mutex;
    std::vector<std::map<std::string, sdbus::Variant>> changes;
    auto watching = sdbus::createSessionBusConnection();
    auto watcher = sdbus::createProxy(*watching, owner, kPath);
    watcher->uponSignal("PropertiesChanged")
        .onInterface("org.freedesktop.DBus.Properties")
        .call([&](const std::string& interface,
                  const std::map<std::string, sdbus::Variant>& changed,
                  const std::vector<std::string>&) {
            if (interface == kInterface) {
                std::lock_guard lock(mutex);
                changes.push_back(changed);
            }
        });
    watcher->finishRegistration();
    watching->enterEventLoopAsync();

    service.Mode(1);
    service.Mode(1); // no change: no signal
    service.Checked(1);
    service.Color(0x123456);
    ASSERT_TRUE(testing_support::eventually([&] {
        std::lock_guard lock(mutex);
        return changes.size() >= 2;
    }));
    watching->leaveEventLoop();
    std::lock_guard lock(mutex);
    ASSERT_EQ(changes.size(), 2u);
    ASSERT_EQ(changes[0].count("Mode"), 1u);
    EXPECT_EQ(changes[0].at("Mode").get<std::int16_t>(), 1);
    ASSERT_EQ(changes[1].count("Color"), 1u);
    EXPECT_EQ(changes[1].at("Color").get<std::uint32_t>(), 0x123456u);
}

TEST_F(LightControlTest, TheShellToolsReadAndWriteMode) {
    const std::string object = std::string(kName) + " " + kPath + " " + kInterface;
    const Shell set = shell("busctl --user set-property " + object + " Mode n 1");
    ASSERT_EQ(set.status, 0) << set.output;
    EXPECT_EQ(shell("busctl --user get-property " + object + " Mode").output, "n 1\n");

    const std::string call = std::string("gdbus call --session --dest ") + kName +
                             " --object-path " + kPath +
                             " --method org.freedesktop.DBus.Properties.";
    const Shell read = shell(call + "Get " + kInterface + " Mode");
    EXPECT_EQ(read.output, "(<int16 1>,)\n");
    const Shell written = shell(call + "Set " + kInterface + " Mode '<int16 2>'");
    ASSERT_EQ(written.status, 0) << written.output;

    const Shell sent =
        shell(std::string("dbus-send --session --print-reply --dest=") + kName + " " + kPath +
              " org.freedesktop.DBus.Properties.Get string:" + kInterface + " string:Mode");
    EXPECT_THAT(sent.output, ContainsRegex("variant +int16 2"));
    EXPECT_EQ(storedMode(), 2);
}

TEST_F(LightControlTest, TheServiceDescribesItselfAsItsInterfaceFileDoes) {
    const Shell introspected = shell(std::string("gdbus introspect --session --xml --dest ") +
                                     kName + " --object-path " + kPath);
    ASSERT_EQ(introspected.status, 0) << introspected.output;
    std::ifstream file(LUMIVANE_INTERFACE_XML);
    const std::string defined{std::istreambuf_iterator<char>(file), {}};
    const std::set<std::string> members = membersOf(defined);
    EXPECT_EQ(members.size(), 5u);
    EXPECT_EQ(membersOf(introspected.output), members);
}

TEST_F(LightControlTest, TheClientAnswersForAServiceOutOfReach) {
    // A bus with no activation file for the service: nothing can answer.
    testing_support::PrivateBus empty;
    ASSERT_TRUE(empty.running());
    const panel::ServiceClient client;
    EXPECT_EQ(client.getServiceMode(), 0);
    EXPECT_EQ(client.mode(), std::nullopt);
    EXPECT_EQ(client.color(), std::nullopt);
    EXPECT_FALSE(client.setColor(1));
    client.setServiceMode(1);
}

TEST_F(LightControlTest, TheClientReachesTheServiceAndItsMode) {
    const panel::ServiceClient client;
    client.setServiceMode(2);
    EXPECT_EQ(client.getServiceMode(), 2);
    EXPECT_TRUE(client.setColor(0xFFFFFFFFu));
    EXPECT_EQ(client.color(), 0xFFFFFFFFu);
    // Only the low 16 bits travel: 0x10001 arrives as 1.
    client.setServiceMode(0x10001);
    EXPECT_EQ(client.mode(), 1);
}

TEST_F(LightControlTest, AServiceStartedByHandOwnsTheNameAloneAndStopsOnSigterm) {
    const std::filesystem::path daemon = vbtest::binaryDirectory() / LUMIVANE_DAEMON;
    vbtest::Child first(daemon, {});
    auto connection = sdbus::createSessionBusConnection();
    ASSERT_TRUE(testing_support::eventually([&] { return nameHasOwner(*connection); }));

    // The second one leaves before it touches the board: the temperature effect it
    // would find stored takes the LEDs for the software first, and then writes them.
    settings::LightingSettings(settingsFile()).setMode(2);
    ASSERT_TRUE(board->items().set(virtualboard::kLightingControlItem, 0));
    const std::uint64_t transactions = board->readout().counters().ecTransactions;
    const Shell second = shell(daemon.string());
    EXPECT_EQ(second.status, 1);
    EXPECT_THAT(second.output, HasSubstr("cannot own the bus name Lumivane.LightControl"));
    EXPECT_EQ(board->items().find(virtualboard::kLightingControlItem)->value, 0u);
    EXPECT_EQ(board->readout().counters().ecTransactions, transactions);

    EXPECT_EQ(LightControl(*connection).Mode(), 0); // the first one still serves
    EXPECT_EQ(first.stop(), 0);
}

TEST_F(LightControlTest, SigtermWhileAColourIsWrittenLeavesTheFirmwareLockFree) {
    // A busy EC: every byte waits for it, so a colour takes tens of milliseconds under
    // the firmware's global lock, once per thermal period.
    board->knobs().setBusyMode(virtualboard::BusyMode::Always);
    settings::LightingSettings(settingsFile()).setMode(2);
    vbtest::Child service(vbtest::binaryDirectory() / LUMIVANE_DAEMON, {});
    constexpr std::uint32_t kOwned = 2, kPending = 1;
    ASSERT_TRUE(testing_support::eventually(
        [&] { return (board->readout().globalLockWord() & kOwned) != 0; },
        std::chrono::seconds(10)))
        << "the service never took the lock";
    const auto signalled = std::chrono::steady_clock::now();
    EXPECT_EQ(service.stop(SIGTERM), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(3));
    EXPECT_EQ(board->readout().globalLockWord() & (kOwned | kPending), 0u)
        << "the service ended holding the lock";
    EXPECT_EQ(board->readout().ec().phase, virtualboard::layout::EcPhase::Idle)
        << "the service ended halfway through an EC write";
}

TEST_F(LightControlTest, AServiceKilledAndStartedAgainBringsBackItsMode) {
    auto connection = sdbus::createSessionBusConnection();
    LightControl(*connection).Mode(2);
    std::uint32_t pid = 0;
    auto bus = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
    bus->callMethod("GetConnectionUnixProcessID")
        .onInterface("org.freedesktop.DBus")
        .withArguments(std::string(kName))
        .storeResultsTo(pid);
    ASSERT_GT(pid, 0u);
    ASSERT_EQ(::kill(pid_t(pid), SIGKILL), 0);
    ASSERT_TRUE(testing_support::eventually([&] { return !nameHasOwner(*connection); }));
    // Meanwhile the firmware took the LEDs back.
    ASSERT_TRUE(board->items().set(virtualboard::kLightingControlItem, 0));
    // The next call starts it again, and it starts the stored effect by itself.
    EXPECT_EQ(LightControl(*connection).Mode(), 2);
    EXPECT_TRUE(testing_support::eventually(
        [&] { return board->items().find(virtualboard::kLightingControlItem)->value == 1u; }));
}

// The service on a machine whose login manager is the test's stand-in.
class SleepingService : public ServiceBusTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(logind.running());
        ServiceBusTest::SetUp();
    }
    // Before the session bus: the service it starts inherits the system bus address.
    LogindBus logind;
};

TEST_F(SleepingService, TheEffectStopsForSleepAndComesBackAfterResume) {
    auto connection = sdbus::createSessionBusConnection();
    LightControl service(*connection);
    service.Mode(2);
    FakeLogind& manager = *logind.logind;
    ASSERT_TRUE(testing_support::eventually([&] { return manager.locksTaken() == 1; }));

    manager.announceSleep(true);
    ASSERT_TRUE(testing_support::eventually([&] { return !manager.held(0); }));
    // What changes while the machine sleeps shows only once the effect is back.
    board->items().setTemperature(850);
    manager.announceSleep(false);

    const board::LedColor hot = board::EcLedPort::temperatureColor(85);
    EXPECT_TRUE(testing_support::eventually([&] {
        return board->readout().ledColor() == virtualboard::LedColor{hot.red, hot.green, hot.blue};
    }));
    EXPECT_EQ(storedMode(), 2);
    EXPECT_TRUE(testing_support::eventually([&] { return manager.locksTaken() == 2; }));
    EXPECT_EQ(service.Mode(), 2);
}

} // namespace
