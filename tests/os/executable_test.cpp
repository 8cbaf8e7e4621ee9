#include "os/executable.h"

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
