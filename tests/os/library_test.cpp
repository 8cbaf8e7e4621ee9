#include "os/executable.h"
#include "os/library.h"
#include "test_environment.h"

#include <gtest/gtest.h>

namespace {

std::filesystem::path testLibraryPath() {
    auto exe = os::executablePath();
    return exe ? exe->parent_path() / LUMIVANE_TESTLIB_FILE : std::filesystem::path();
}

using Answer = int (*)();

} // namespace

TEST(Library, LoadsByFullPathAndFindsExports) {
    os::Library library = os::Library::open(testLibraryPath().string());
    ASSERT_TRUE(library.isLoaded()) << testLibraryPath();
    auto answer = library.function<Answer>("lumivane_testlib_answer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(library.symbol("no_such_export"), nullptr);
}

TEST(Library, StaysLoadedWhenTheObjectGoes) {
    Answer answer = nullptr;
    {
        os::Library library = os::Library::open(testLibraryPath().string());
        answer = library.function<Answer>("lumivane_testlib_answer");
    }
    // Would fault if the code had been unmapped.
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);

    os::Library moved = os::Library::open(testLibraryPath().string());
    os::Library target = std::move(moved);
    EXPECT_FALSE(moved.isLoaded());
    EXPECT_TRUE(target.isLoaded());
    target.unload();
    EXPECT_FALSE(target.isLoaded());
    EXPECT_EQ(target.symbol("lumivane_testlib_answer"), nullptr);
}

TEST(Library, BareNamesUseTheSystemSearch) {
#ifdef _WIN32
    os::Library system = os::Library::open("kernel32.dll");
    const char* exportName = "GetTickCount";
#else
    os::Library system = os::Library::open("libm.so.6");
    const char* exportName = "cos";
#endif
    ASSERT_TRUE(system.isLoaded());
    EXPECT_NE(system.symbol(exportName), nullptr);

    os::Library missing = os::Library::open("lumivane-no-such-library");
    EXPECT_FALSE(missing.isLoaded());
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.symbol(exportName), nullptr);
}

TEST(Library, SystemLibraryDirectoryCanBeRedirected) {
    {
        testing_support::ScopedEnvironment unset("LUMIVANE_HWIO_DIR", std::nullopt);
        EXPECT_FALSE(os::systemLibraryDirectory().empty());
    }
    testing_support::TemporaryDirectory dir;
    testing_support::ScopedEnvironment redirect("LUMIVANE_HWIO_DIR", dir.path().string());
    EXPECT_EQ(os::systemLibraryDirectory(), dir.path());
}
