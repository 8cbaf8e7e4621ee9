#include "os/diagnostics.h"
#include "test_environment.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>
#include <vector>

using os::Diagnostic;

TEST(Diagnostics, SinkReceivesEachKindAndIsRestored) {
    std::vector<Diagnostic> outer;
    os::DiagnosticSink previous =
        os::setDiagnosticSink([&](const Diagnostic& d) { outer.push_back(d); });
    {
        os::CapturedDiagnostics captured;
        os::showMessage("DmiHelp", "Can not find SMBIOS Header");
        os::debugOutput("[LED] Red: 1, Green: 2, Blue: 3,  \n");
        os::logEvent("Vantor LED Control Service", "started");

        std::vector<Diagnostic> expected{
            {Diagnostic::Kind::Message, "DmiHelp", "Can not find SMBIOS Header"},
            {Diagnostic::Kind::Debug, "", "[LED] Red: 1, Green: 2, Blue: 3,  \n"},
            {Diagnostic::Kind::Event, "Vantor LED Control Service", "started"},
        };
        EXPECT_EQ(captured.all(), expected);
        EXPECT_EQ(captured.messages(), std::vector<Diagnostic>{expected[0]});
        captured.clear();
        EXPECT_TRUE(captured.all().empty());
    }
    // The capture handed the outputs back to the sink that was there before it.
    os::showMessage("BiosItem", "after");
    os::setDiagnosticSink(std::move(previous));
    ASSERT_EQ(outer.size(), 1u);
    EXPECT_EQ(outer[0].caption, "BiosItem");
}

TEST(Diagnostics, ReportsFromManyThreadsAreAllKept) {
    os::CapturedDiagnostics captured;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 250; ++i)
                os::debugOutput("line");
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(captured.all().size(), 1000u);
}

TEST(Diagnostics, MessagesGoToTheMessageFileWhenOneIsNamed) {
    testing_support::TemporaryDirectory dir;
    const std::filesystem::path file = dir.path() / "messages.txt";
    {
        testing_support::ScopedEnvironment named("LUMIVANE_MESSAGE_FILE", file.string());
        os::showMessage("Vantor LED Control Service", "Could not open service");
        os::showMessage("BiosItem", "second");
        // A sink still comes first.
        os::CapturedDiagnostics captured;
        os::showMessage("Captured", "not in the file");
        EXPECT_EQ(captured.messages().size(), 1u);
    }
    std::ifstream in(file, std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(content, "Vantor LED Control Service: Could not open service\nBiosItem: second\n");
}

TEST(Diagnostics, MessagesBecomeDebugOutputWhileRoutedToTheDebugger) {
    os::CapturedDiagnostics captured;
    os::routeMessagesToDebugger();
    os::showMessage("ERROR", "get_default_device failed!");
    os::routeMessagesToEventLog({});
    os::showMessage("BiosItem", "a box again");
    const std::vector<Diagnostic> expected{
        {Diagnostic::Kind::Debug, "", "ERROR: get_default_device failed!\n"},
        {Diagnostic::Kind::Message, "BiosItem", "a box again"},
    };
    EXPECT_EQ(captured.all(), expected);
}

TEST(Diagnostics, MessagesBecomeEventsWhileRoutedToTheEventLog) {
    os::CapturedDiagnostics captured;
    os::routeMessagesToEventLog("Vantor LED Control Service");
    os::showMessage("ERROR", "get_default_device failed!");
    os::debugOutput("still debug output");
    os::routeMessagesToEventLog({});
    os::showMessage("BiosItem", "a box again");

    const std::vector<Diagnostic> expected{
        {Diagnostic::Kind::Event, "Vantor LED Control Service",
         "ERROR: get_default_device failed!"},
        {Diagnostic::Kind::Debug, "", "still debug output"},
        {Diagnostic::Kind::Message, "BiosItem", "a box again"},
    };
    EXPECT_EQ(captured.all(), expected);
}

#ifndef _WIN32
#include <sys/stat.h>

// Under systemd, standard error may be the journal itself: the message then goes
// there once, through the journal entry, not a second time as a stderr line.
TEST(Diagnostics, NoStderrLineWhenStderrIsTheJournal) {
    testing::internal::CaptureStderr();
    struct stat status {};
    ASSERT_EQ(::fstat(2, &status), 0);
    const std::string same = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    {
        testing_support::ScopedEnvironment journal("JOURNAL_STREAM", same);
        os::detail::platformShowMessage("DmiHelp", "to the journal only");
    }
    {
        testing_support::ScopedEnvironment other("JOURNAL_STREAM", same + "1");
        os::detail::platformShowMessage("DmiHelp", "on stderr too");
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "DmiHelp: on stderr too\n");
}
#endif
