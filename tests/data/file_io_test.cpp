#include "data/errors.h"
#include "data/file_io.h"

#include <gtest/gtest.h>

#include <functional>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace dravo2 {
namespace {

namespace fs = std::filesystem;

class FileIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = fs::path(::testing::TempDir()) / ("dravo2_io_" + std::to_string(::getpid()));
        fs::remove_all(Dir);
        fs::create_directories(Dir);
    }
    void TearDown() override {
        fs::permissions(Dir, fs::perms::owner_all);
        fs::remove_all(Dir);
    }
    std::size_t Entries(const fs::path& folder) const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }
    static std::string Content(const fs::path& path) { return ReadWholeFile(path.string()); }
    static mode_t Mode(const fs::path& path) {
        struct stat status {};
        EXPECT_EQ(::stat(path.c_str(), &status), 0);
        return status.st_mode & 07777;
    }
    fs::path Dir;
};

// The message of the InputOutputError that `action` throws, or "" when it throws none.
// Runs `check` as the user nobody in a child process; true when it held there.
bool HoldsAsNobody(const passwd& nobody, const std::function<bool()>& check) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(nobody.pw_gid) != 0 || ::setuid(nobody.pw_uid) != 0) {
            ::_exit(2);
        }
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

template <typename Action> std::string FailureOf(Action action) {
    try {
        action();
    } catch (const InputOutputError& error) {
        return error.what();
    }
    return "";
}

TEST_F(FileIoTest, WritesAndReplacesThroughATemporaryFile) {
    const std::string path = (Dir / "result.dat").string();
    WriteFileSafely(path, "first");
    WriteFileSafely(path, "second\r\n");
    EXPECT_EQ(ReadWholeFile(path), "second\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);
}

// Neither the file nor its folder may be written: as the user nobody in a child process when the
// tests run as root, since root may write anywhere.
TEST_F(FileIoTest, AFailedWriteLeavesTheOldFileAlone) {
    const std::string path = (Dir / "result.dat").string();
    WriteFileSafely(path, "kept");
    const auto attempt = [&path] { return FailureOf([&] { WriteFileSafely(path, "lost"); }); };
    if (::geteuid() != 0) {
        fs::permissions(path, fs::perms::owner_read);
        fs::permissions(Dir, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_EQ(attempt(), "File access denied");
    } else {
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr) {
            GTEST_SKIP() << "running as root with no user nobody to run the write as";
        }
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
        ASSERT_EQ(::chmod(Dir.c_str(), 0555), 0);
        EXPECT_TRUE(HoldsAsNobody(*nobody, [&] { return attempt() == "File access denied"; }));
    }
    EXPECT_EQ(ReadWholeFile(path), "kept");
    EXPECT_EQ(Entries(Dir), 1u);
    ::chmod(Dir.c_str(), 0755);
}

// A write that fails half-way (here the file-size limit, as a full disk would) reports the error,
// leaves the earlier file as it was and no temporary file behind.
TEST_F(FileIoTest, AWriteFailingHalfWayKeepsTheEarlierFile) {
    const std::string path = (Dir / "result.dat").string();
    WriteFileSafely(path, "kept");
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message;
    try {
        WriteFileSafely(path, std::string(1000, 'x'));
    } catch (const InputOutputError& error) {
        message = error.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(message, "File too large");
    EXPECT_EQ(ReadWholeFile(path), "kept");
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);
}

TEST_F(FileIoTest, AFolderInTheWayIsNotReplaced) {
    const fs::path folder = Dir / "result.dat";
    fs::create_directories(folder / "inside");
    EXPECT_THROW(WriteFileSafely(folder.string(), "x"), InputOutputError);
    EXPECT_TRUE(fs::is_directory(folder / "inside"));
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);
}

TEST_F(FileIoTest, MissingFilesAndFoldersAreReportedByName) {
    try {
        ReadWholeFile((Dir / "missing.dat").string());
        FAIL() << "read";
    } catch (const InputOutputError& error) {
        EXPECT_STREQ(error.what(), "File not found");
    }
    EXPECT_THROW(WriteFileSafely((Dir / "no" / "such.dat").string(), "x"), InputOutputError);
    EXPECT_THROW(ReadWholeFile(Dir.string()), InputOutputError);
    EXPECT_EQ(InputOutputMessage(ENOSPC), "Disk full");
    EXPECT_EQ(InputOutputMessage(EIO), "Input/output error");
}

// Causes without a message of their own show the system's text, and a message quoting bytes shows
// them all: a NUL would end it, an escape sequence would reach the terminal.
TEST_F(FileIoTest, MessagesShowTheSystemsTextAndEveryByte) {
    fs::create_symlink("loop", Dir / "loop");
    EXPECT_EQ(FailureOf([&] { WriteFileSafely((Dir / "loop").string(), "x"); }), "Too many levels of symbolic links");
    EXPECT_EQ(InputOutputMessage(EFBIG), "File too large");
    EXPECT_EQ(InputOutputMessage(4095), "I/O error 4095");
    const ProgramError quoted("'" +
                              std::string("1\0"
                                          "2\x1b[2J\t3\r",
                                          10) +
                              "' is not a number");
    EXPECT_EQ(std::string(quoted.what()), "'1\\x002\\x1B[2J\t3\\x0D' is not a number");
}

TEST_F(FileIoTest, SymbolicLinksAreWrittenThroughToTheirTargets) {
    fs::create_directories(Dir / "data");
    const fs::path target = Dir / "data" / "result.dat";
    WriteFileSafely(target.string(), "old");
    fs::create_symlink("data/result.dat", Dir / "relative");
    fs::create_symlink(target, Dir / "absolute");
    fs::create_symlink("relative", Dir / "chain");
    fs::create_symlink("data/new.dat", Dir / "dangling");
    const std::pair<const char*, const char*> writes[] = {{"relative", "one"}, {"absolute", "two"}, {"chain", "three"}};
    for (const auto& [link, bytes] : writes) {
        WriteFileSafely((Dir / link).string(), bytes);
        EXPECT_EQ(Content(target), bytes) << link;
    }
    EXPECT_NO_THROW(CheckWritable((Dir / "dangling").string()));
    WriteFileSafely((Dir / "dangling").string(), "four");
    EXPECT_EQ(Content(Dir / "data" / "new.dat"), "four");
    for (const char* link : {"relative", "absolute", "chain", "dangling"}) {
        EXPECT_TRUE(fs::is_symlink(Dir / link)) << link;
    }
    EXPECT_EQ(Entries(Dir / "data"), 2u);
}

// A FIFO is written into, never replaced, and is refused for reading instead of waited on.
TEST_F(FileIoTest, AFifoIsWrittenDirectlyAndNeverRead) {
    const fs::path fifo = Dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(ReadWholeFile(fifo.string()), NotRegularFileError);
    EXPECT_THROW(ReadWholeFile(Dir.string()), NotRegularFileError);
    EXPECT_NO_THROW(CheckWritable(fifo.string())); // without opening it, which would wait for a reader
    std::string received;
    std::thread reader([&] {
        const int fd = ::open(fifo.c_str(), O_RDONLY);
        char buffer[256];
        ssize_t count = 0;
        while ((count = ::read(fd, buffer, sizeof buffer)) > 0) {
            received.append(buffer, static_cast<std::size_t>(count));
        }
        ::close(fd);
    });
    WriteFileSafely(fifo.string(), "rows\r\n");
    reader.join();
    EXPECT_EQ(received, "rows\r\n");
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(Entries(Dir), 1u);

    // The window refuses it rather than wait for a reader; after a stop nobody is waited for.
    EXPECT_THROW(WriteFileSafely(fifo.string(), "rows", SpecialFiles::Refuse), NotRegularFileError);
    SetStopCheck([] { return true; });
    const std::string stopped = FailureOf([&] { WriteFileSafely(fifo.string(), "rows"); });
    SetStopCheck(nullptr);
    EXPECT_EQ(stopped, "Interrupted: nothing reads '" + fifo.string() + "'; nothing is written");
}

// A descriptor's link in /proc names a pipe by a text such as "pipe:[1234]": the link is written
// through as it is (`-o /dev/stdout` with standard output a pipe).
TEST_F(FileIoTest, ADescriptorLinkToAPipeIsWrittenIntoThePipe) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    for (const std::string& path : {"/proc/self/fd/" + std::to_string(ends[1]), "/dev/fd/" + std::to_string(ends[1])}) {
        SCOPED_TRACE(path);
        EXPECT_NO_THROW(CheckWritable(path));
        EXPECT_EQ(FailureOf([&] { WriteFileSafely(path, "rows\r\n"); }), "");
        char buffer[16] = {};
        EXPECT_EQ(::read(ends[0], buffer, sizeof buffer), 6);
        EXPECT_EQ(std::string(buffer), "rows\r\n");
    }
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST_F(FileIoTest, SameFileSeesThroughLinksAndSpellings) {
    fs::create_directories(Dir / "data");
    const fs::path file = Dir / "data" / "meas.txt";
    WriteFileSafely(file.string(), "1 2\n");
    fs::create_symlink("data/meas.txt", Dir / "link");
    fs::create_hard_link(file, Dir / "hard");
    WriteFileSafely((Dir / "other.txt").string(), "1 2\n");
    const std::string dir = Dir.string();
    EXPECT_TRUE(SameFile(file.string(), dir + "/link"));
    EXPECT_TRUE(SameFile(file.string(), dir + "/hard"));
    EXPECT_TRUE(SameFile(dir + "/new.png", dir + "/data/../new.png")); // neither exists yet
    EXPECT_FALSE(SameFile(file.string(), dir + "/other.txt"));
    EXPECT_FALSE(SameFile(file.string(), dir + "/new.png"));
    EXPECT_FALSE(SameFile("", ""));
}

// A hard-linked file is replaced under the name written, so that a failure or a kill at any moment
// leaves the old content or the new one; its other names keep the old content.
TEST_F(FileIoTest, AHardLinkedFileIsReplacedUnderTheNameWrittenOnly) {
    const fs::path first = Dir / "a.dat";
    const fs::path second = Dir / "b.dat";
    WriteFileSafely(first.string(), "a longer old content");
    fs::create_hard_link(first, second);
    EXPECT_EQ(WriteFileSafely(second.string(), "new"), WriteNote::LinksBroken);
    EXPECT_EQ(Content(first), "a longer old content");
    EXPECT_EQ(Content(second), "new");
    EXPECT_EQ(fs::hard_link_count(first), 1u);
    EXPECT_EQ(Entries(Dir), 2u);
    EXPECT_EQ(WriteFileSafely(second.string(), "newer"), WriteNote::None);
    fs::create_hard_link(second, Dir / "c.dat");

    // The file-size limit is met before any old byte is overwritten.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string message = FailureOf([&] { WriteFileSafely(second.string(), std::string(1000, 'x')); });
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(message, "File too large");
    EXPECT_EQ(Content(second), "newer");
    EXPECT_EQ(fs::hard_link_count(second), 2u);
}

TEST_F(FileIoTest, AReplacedFileKeepsItsModeAndANewOneFollowsTheUmask) {
    for (const mode_t mode : {0600, 0755, 0640}) {
        const fs::path path = Dir / ("mode" + std::to_string(mode));
        WriteFileSafely(path.string(), "old");
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        WriteFileSafely(path.string(), "new");
        EXPECT_EQ(Mode(path), mode);
        EXPECT_EQ(Content(path), "new");
    }
    const mode_t mask = ::umask(027);
    WriteFileSafely((Dir / "fresh").string(), "x");
    ::umask(mask);
    EXPECT_EQ(Mode(Dir / "fresh"), 0640u);
}

TEST_F(FileIoTest, AReplacedFileKeepsItsOwner) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "giving a file to another owner needs root and the user nobody";
    }
    const fs::path path = Dir / "owned.dat";
    WriteFileSafely(path.string(), "old");
    ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    WriteFileSafely(path.string(), "new");
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, nobody->pw_uid);
    EXPECT_EQ(status.st_gid, nobody->pw_gid);
    EXPECT_EQ(Content(path), "new");
}

// As an unprivileged user (the user nobody in a child process when the tests run as root).
TEST_F(FileIoTest, AWritableFileInAFolderThatIsNotIsWrittenInPlace) {
    const fs::path folder = Dir / "locked";
    const fs::path path = folder / "result.dat";
    fs::create_directories(folder);
    WriteFileSafely(path.string(), "old");
    if (::geteuid() != 0) {
        ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
        WriteFileSafely(path.string(), "new");
    } else {
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr) {
            GTEST_SKIP() << "running as root with no user nobody to run the write as";
        }
        ASSERT_EQ(::chmod(Dir.c_str(), 0755), 0);
        ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
        EXPECT_TRUE(HoldsAsNobody(*nobody, [&] {
            return ::access(folder.c_str(), W_OK) != 0 &&
                   FailureOf([&] { WriteFileSafely(path.string(), "new"); }).empty();
        }));
    }
    EXPECT_EQ(Content(path), "new");
    EXPECT_EQ(Entries(folder), 1u);
    ::chmod(folder.c_str(), 0755);
}

// Another user's writable file in a sticky folder (which forbids replacing it) or in a folder
// anyone may write is written in place: it keeps its owner and group.
TEST_F(FileIoTest, AnotherUsersWritableFileKeepsItsOwner) {
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() != 0 || nobody == nullptr) {
        GTEST_SKIP() << "needs root to give the folder and file to their owners, and the user nobody";
    }
    ASSERT_EQ(::chmod(Dir.c_str(), 0755), 0);
    for (const mode_t folderMode : {01777, 0777}) {
        SCOPED_TRACE(folderMode);
        const fs::path folder = Dir / std::to_string(folderMode);
        const fs::path path = folder / "shared.dat";
        fs::create_directories(folder);
        ASSERT_EQ(::chmod(folder.c_str(), folderMode), 0);
        WriteFileSafely(path.string(), "a longer old content");
        ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
        EXPECT_TRUE(
            HoldsAsNobody(*nobody, [&] { return FailureOf([&] { WriteFileSafely(path.string(), "new"); }).empty(); }));
        struct stat status {};
        ASSERT_EQ(::stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_uid, 0u);
        EXPECT_EQ(status.st_gid, 0u);
        EXPECT_EQ(Content(path), "new");
        EXPECT_EQ(Entries(folder), 1u);
    }
}

TEST_F(FileIoTest, ANameOf255CharactersIsWrittenAndReplaced) {
    const fs::path path = Dir / std::string(255, 'n');
    EXPECT_NO_THROW(CheckWritable(path.string()));
    WriteFileSafely(path.string(), "first");
    WriteFileSafely(path.string(), "second");
    EXPECT_EQ(Content(path), "second");
    EXPECT_EQ(Entries(Dir), 1u);
    EXPECT_EQ(FailureOf([&] { CheckWritable((Dir / std::string(256, 'n')).string()); }), "Invalid filename");
}

// The new content is an unnamed file until it is complete: a process killed by the file-size
// limit half-way leaves the old file and nothing else, hard-linked or not.
TEST_F(FileIoTest, AProcessKilledWhileWritingLeavesNoTemporaryFile) {
    const fs::path path = Dir / "result.dat";
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "hard-linked" : "one name");
        WriteFileSafely(path.string(), std::string(200, 'o'));
        if (linked) {
            fs::create_hard_link(path, Dir / "link.dat");
        }
        const pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_DFL);
            rlimit small{100, 100};
            ::setrlimit(RLIMIT_FSIZE, &small);
            WriteFileSafely(path.string(), std::string(100000, 'x'));
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
        EXPECT_EQ(Content(path), std::string(200, 'o'));
        EXPECT_EQ(Entries(Dir), linked ? 2u : 1u);
    }
}

TEST_F(FileIoTest, CheckWritableFindsWhatTheWriteWouldMeetAndCreatesNothing) {
    const fs::path file = Dir / "file.dat";
    WriteFileSafely(file.string(), "x");
    fs::create_directories(Dir / "folder");
    EXPECT_NO_THROW(CheckWritable((Dir / "new.dat").string()));
    EXPECT_NO_THROW(CheckWritable(file.string()));
    EXPECT_EQ(FailureOf([&] { CheckWritable((Dir / "no" / "such.dat").string()); }), "File not found");
    EXPECT_EQ(FailureOf([&] { CheckWritable((Dir / "folder").string()); }), "File access denied");
    EXPECT_EQ(FailureOf([&] { CheckWritable((file / "x.dat").string()); }), "Path not found");
    EXPECT_EQ(FailureOf([&] { CheckWritable(""); }), "File not found");
    EXPECT_EQ(Entries(Dir), 2u);
}

} // namespace
} // namespace dravo2
