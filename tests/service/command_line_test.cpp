#include "os/diagnostics.h"
#include "service/command_line.h"

#include <gtest/gtest.h>

namespace service {
namespace {

// The service and the local server COM starts have nobody to close a box: from the
// first line on, a message is an event. A person runs the switches and gets boxes.
TEST(CommandLine, OnlyTheRegistrationSwitchesShowBoxes) {
    using Kind = os::Diagnostic::Kind;
    const struct {
        Switch chosen;
        Kind expected;
    } cases[] = {{Switch::None, Kind::Event},
                 {Switch::Service, Kind::Message},
                 {Switch::RegServer, Kind::Message},
                 {Switch::UnregServer, Kind::Message},
                 {Switch::RegServerPerUser, Kind::Message}};
    for (const auto& c : cases) {
        os::CapturedDiagnostics captured;
        routeMessagesFor(c.chosen, "Vantor LED Control Service");
        os::showMessage("ERROR", "get_default_device failed!");
        ASSERT_EQ(captured.all().size(), 1u);
        EXPECT_EQ(captured.all()[0].kind, c.expected) << int(c.chosen);
    }
    os::routeMessagesToEventLog({});
}

TEST(CommandLine, EachSwitchWithEitherCharacterInAnyCase) {
    EXPECT_EQ(findSwitch(R"("C:\Lumivane\Lumivane.exe" /RegServer)"), Switch::RegServer);
    EXPECT_EQ(findSwitch(R"("C:\Lumivane\Lumivane.exe" -unregserver)"), Switch::UnregServer);
    EXPECT_EQ(findSwitch("Lumivane.exe /REGSERVERPERUSER"), Switch::RegServerPerUser);
    EXPECT_EQ(findSwitch("Lumivane.exe\t-UnregServerPerUser\t"), Switch::UnregServerPerUser);
    EXPECT_EQ(findSwitch("Lumivane.exe -sErViCe"), Switch::Service);
    EXPECT_EQ(findSwitch("Lumivane.exe /Service"), Switch::Service);
}

TEST(CommandLine, WordsMustEndAtWhiteSpace) {
    EXPECT_EQ(findSwitch("Lumivane.exe -ServiceX"), Switch::None);
    EXPECT_EQ(findSwitch("Lumivane.exe /RegServers"), Switch::None);
    // A quote is not white space, and a path's dashes are not switches that match.
    EXPECT_EQ(findSwitch(R"("C:\my-RegServer" x)"), Switch::None);
    EXPECT_EQ(findSwitch(R"("C:\dir\-RegServer")"), Switch::None);
    EXPECT_EQ(findSwitch("Lumivane.exe -Embedding"), Switch::None);
    EXPECT_EQ(findSwitch(""), Switch::None);
    EXPECT_EQ(findSwitch("Lumivane.exe -"), Switch::None);
    // A doubled switch character still introduces the word after it.
    EXPECT_EQ(findSwitch("Lumivane.exe --RegServer"), Switch::RegServer);
}

TEST(CommandLine, RegistrationWinsOverServiceAndTheFirstRegistrationDecides) {
    EXPECT_EQ(findSwitch("Lumivane.exe -Service /RegServer"), Switch::RegServer);
    EXPECT_EQ(findSwitch("Lumivane.exe /RegServer -Service"), Switch::RegServer);
    EXPECT_EQ(findSwitch("Lumivane.exe /UnregServer /RegServer"), Switch::UnregServer);
    EXPECT_EQ(findSwitch("Lumivane.exe /RegServerPerUser /UnregServer"), Switch::RegServerPerUser);
    // The program's own path is searched too.
    EXPECT_EQ(findSwitch("/opt/x/-RegServer /Service"), Switch::RegServer);
}

} // namespace
} // namespace service
