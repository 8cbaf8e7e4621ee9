#include "os/executable.h"
#include "test_environment.h"

#include <gtest/gtest.h>

TEST(Executable, PathNamesThisTestProgram) {
    auto path = os::executablePath();
    ASSERT_TRUE(path.has_value());
    EXPECT_TRUE(path->is_absolute()) << *path;
    EXPECT_EQ(path->stem(), "os_tests");
    EXPECT_TRUE(std::filesystem::exists(*path));
    EXPECT_EQ(os::fileBesideExecutable("Lighting.xml"), path->parent_path() / "Lighting.xml");
}

TEST(Executable, UnknownPathFallsBackToTheBareName) {
    EXPECT_EQ(os::fileBeside(std::nullopt, "Lighting.xml"), std::filesystem::path("Lighting.xml"));
    EXPECT_EQ(os::fileBeside(std::filesystem::path("viruv"), "lightingControl.xml"),
              std::filesystem::path("lightingControl.xml"));
    EXPECT_EQ(os::fileBeside(std::filesystem::path("/opt/lumivane/lumivane"), "Lighting.xml"),
              std::filesystem::path("/opt/lumivane") / "Lighting.xml");
}

TEST(Executable, StateFileGoesToTheStateDirectoryWhenThereIsOne) {
    const std::filesystem::path exe = os::executablePath().value();
    const std::filesystem::path state = exe.parent_path() / "state";
    EXPECT_EQ(os::stateFile(state, exe, "Lighting.xml"), state / "Lighting.xml");
    EXPECT_EQ(os::stateFile(std::nullopt, exe, "Lighting.xml"), exe.parent_path() / "Lighting.xml");
    EXPECT_EQ(os::stateFile(std::filesystem::path(), std::nullopt, "Lighting.xml"),
              std::filesystem::path("Lighting.xml"));
#ifndef _WIN32
    // What systemd hands over: the first of a list is the service's own; a relative
    // or empty value is no state directory.
    {
        testing_support::ScopedEnvironment set("STATE_DIRECTORY", "/var/lib/lumivane:/var/lib/x");
        EXPECT_EQ(os::serviceStateFile("Lighting.xml"),
                  std::filesystem::path("/var/lib/lumivane/Lighting.xml"));
    }
    for (const char* ignored : {"", "relative/dir"}) {
        testing_support::ScopedEnvironment set("STATE_DIRECTORY", ignored);
        EXPECT_EQ(os::serviceStateFile("Lighting.xml"), exe.parent_path() / "Lighting.xml")
            << ignored;
    }
    testing_support::ScopedEnvironment unset("STATE_DIRECTORY", std::nullopt);
    EXPECT_EQ(os::serviceStateFile("Lighting.xml"), exe.parent_path() / "Lighting.xml");
#endif
}
