#include "settings/atomic_file.h"
#include "settings_files.h"
#include "test_environment.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using settings::replaceFile;
using namespace settings_testing;

namespace {

bool writeText(std::FILE* stream, const char* text) {
    return std::fputs(text, stream) >= 0;
}

class ReplaceFileTest : public ::testing::Test {
protected:
    std::filesystem::path file() const { return directory_.path() / "file.xml"; }
    testing_support::TemporaryDirectory directory_;
};

TEST_F(ReplaceFileTest, ReplacesWholeWithThePlatformsLineEnds) {
    EXPECT_TRUE(replaceFile(file(), [](std::FILE* s) { return writeText(s, "first\nline\n"); }));
    EXPECT_EQ(readBytes(file()), std::string("first") + kNewLine + "line" + kNewLine);
    EXPECT_TRUE(replaceFile(file(), [](std::FILE* s) { return writeText(s, "x"); }));
    EXPECT_EQ(readBytes(file()), "x") << "nothing of the longer old content remains";
    EXPECT_EQ(fileNames(directory_.path()), std::vector<std::string>{"file.xml"});
}

TEST_F(ReplaceFileTest, FailedWriteLeavesTheOldFileOrNone) {
    auto halfWritten = [](std::FILE* s) {
        writeText(s, "<root><Mo");
        return false;
    };
    EXPECT_FALSE(replaceFile(file(), halfWritten));
    EXPECT_FALSE(std::filesystem::exists(file()));

    writeBytes(file(), "old content");
    EXPECT_FALSE(replaceFile(file(), halfWritten));
    EXPECT_EQ(readBytes(file()), "old content");

    settings::detail::setSaveInterruption([](std::FILE*) { return false; });
    EXPECT_FALSE(replaceFile(file(), [](std::FILE* s) { return writeText(s, "new"); }));
    settings::detail::setSaveInterruption(nullptr);
    EXPECT_EQ(readBytes(file()), "old content");
    EXPECT_EQ(fileNames(directory_.path()), std::vector<std::string>{"file.xml"});

    EXPECT_FALSE(replaceFile(directory_.path() / "missing" / "file.xml",
                             [](std::FILE* s) { return writeText(s, "new"); }));
}

TEST_F(ReplaceFileTest, ReadOnlyFileIsNotReplaced) {
#ifndef _WIN32
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write any file";
#endif
    writeBytes(file(), "pinned");
    std::filesystem::permissions(file(),
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_FALSE(replaceFile(file(), [](std::FILE* s) { return writeText(s, "new"); }));
    EXPECT_EQ(readBytes(file()), "pinned");
    EXPECT_EQ(fileNames(directory_.path()), std::vector<std::string>{"file.xml"});
    std::filesystem::permissions(file(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
}

#ifndef _WIN32
// Permissions bind only an unprivileged process: as root, the save runs in a child
// that has become "nobody", and the test sees its result from outside.
bool savedAsUnprivileged(const std::filesystem::path& file, const char* text) {
    if (::geteuid() != 0)
        return replaceFile(file, [&](std::FILE* s) { return writeText(s, text); });
    const pid_t child = ::fork();
    if (child == 0) {
        const bool saved = ::setgid(65534) == 0 && ::setuid(65534) == 0 &&
                           replaceFile(file, [&](std::FILE* s) { return writeText(s, text); });
        ::_exit(saved ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST_F(ReplaceFileTest, AFolderThatTakesNoNewFileHasItsWritableFileRewrittenInPlace) {
    writeBytes(file(), "old content, longer than the new");
    const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
    ASSERT_EQ(::chown(file().c_str(), owner, ::getegid() == 0 ? 65534 : ::getegid()), 0);
    ASSERT_EQ(::chmod(file().c_str(), 0620), 0);
    ASSERT_EQ(::chmod(directory_.path().c_str(), 0555), 0);
    EXPECT_TRUE(savedAsUnprivileged(file(), "new"));
    ASSERT_EQ(::chmod(directory_.path().c_str(), 0755), 0);
    EXPECT_EQ(readBytes(file()), "new");
    struct stat info {};
    ASSERT_EQ(::stat(file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0620u);
    EXPECT_EQ(info.st_uid, owner);
    EXPECT_EQ(fileNames(directory_.path()), std::vector<std::string>{"file.xml"});

    // A file that may not be written stays as it is, whatever the folder allows.
    ASSERT_EQ(::chmod(file().c_str(), 0444), 0);
    EXPECT_FALSE(savedAsUnprivileged(file(), "newer"));
    EXPECT_EQ(readBytes(file()), "new");
}

TEST_F(ReplaceFileTest, ReplacementKeepsTheOwner) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can hand a file to another owner";
    struct stat info {};
    auto statFile = [&] {
        return ::stat(file().c_str(), &info) == 0;
    };
    // The service (root) rewriting a file an administrator gave to someone else.
    writeBytes(file(), "old");
    ASSERT_EQ(::chown(file().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(file().c_str(), 0640), 0);
    EXPECT_TRUE(replaceFile(file(), [](std::FILE* s) { return writeText(s, "new"); }));
    ASSERT_TRUE(statFile());
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_gid, 65534u);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(readBytes(file()), "new");

    // A writer that may not hand the new file to the owner rewrites the old one in
    // place: same file, same owner.
    ASSERT_EQ(::chmod(file().c_str(), 0660), 0);
    ASSERT_EQ(::chmod(directory_.path().c_str(), 0777), 0);
    ASSERT_TRUE(statFile());
    const ino_t inode = info.st_ino;
    const pid_t child = ::fork();
    if (child == 0) {
        const bool saved = ::setgid(65534) == 0 && ::setuid(4321) == 0 &&
                           replaceFile(file(), [](std::FILE* s) { return writeText(s, "newer"); });
        ::_exit(saved ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(::chmod(directory_.path().c_str(), 0755), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readBytes(file()), "newer");
    ASSERT_TRUE(statFile());
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(info.st_ino, inode);
    EXPECT_EQ(fileNames(directory_.path()), std::vector<std::string>{"file.xml"});
}

TEST_F(ReplaceFileTest, ReplacementKeepsPermissionsAndLinks) {
    writeBytes(file(), "old");
    ASSERT_EQ(::chmod(file().c_str(), 0640), 0);
    EXPECT_TRUE(replaceFile(file(), [](std::FILE* s) { return writeText(s, "new"); }));
    struct stat info {};
    ASSERT_EQ(::stat(file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // A new file gets what the umask allows, as fopen would give it.
    const auto created = directory_.path() / "created.xml";
    const auto reference = directory_.path() / "reference.xml";
    EXPECT_TRUE(replaceFile(created, [](std::FILE* s) { return writeText(s, "x"); }));
    std::fclose(std::fopen(reference.c_str(), "w"));
    struct stat createdInfo {
    }, referenceInfo{};
    ASSERT_EQ(::stat(created.c_str(), &createdInfo), 0);
    ASSERT_EQ(::stat(reference.c_str(), &referenceInfo), 0);
    EXPECT_EQ(createdInfo.st_mode & 07777, referenceInfo.st_mode & 07777);

    // Through a link, the file it points to gets the content; the link stays.
    const auto link = directory_.path() / "link.xml";
    std::filesystem::create_symlink(file(), link);
    EXPECT_TRUE(replaceFile(link, [](std::FILE* s) { return writeText(s, "via link"); }));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readBytes(file()), "via link");
}
#endif

} // namespace
