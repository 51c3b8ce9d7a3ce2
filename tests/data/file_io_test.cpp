#include "data/errors.h"
#include "data/file_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <sys/resource.h>
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
    fs::path Dir;
};

TEST_F(FileIoTest, WritesAndReplacesThroughATemporaryFile) {
    const std::string path = (Dir / "result.dat").string();
    WriteFileReplacing(path, "first");
    WriteFileReplacing(path, "second\r\n");
    EXPECT_EQ(ReadWholeFile(path), "second\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);
}

TEST_F(FileIoTest, AFailedWriteLeavesTheOldFileAlone) {
    const std::string path = (Dir / "result.dat").string();
    WriteFileReplacing(path, "kept");
    fs::permissions(Dir, fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(Dir.c_str(), W_OK) == 0) {
        GTEST_SKIP() << "running with the right to write anywhere";
    }
    try {
        WriteFileReplacing(path, "lost");
        FAIL() << "written";
    } catch (const InputOutputError& error) {
        EXPECT_STREQ(error.what(), "File access denied");
    }
    EXPECT_EQ(ReadWholeFile(path), "kept");
}

// A write that fails half-way (here the file-size limit, as a full disk would) reports the error,
// leaves the earlier file as it was and no temporary file behind.
TEST_F(FileIoTest, AWriteFailingHalfWayKeepsTheEarlierFile) {
    const std::string path = (Dir / "result.dat").string();
    WriteFileReplacing(path, "kept");
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message;
    try {
        WriteFileReplacing(path, std::string(1000, 'x'));
    } catch (const InputOutputError& error) {
        message = error.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(message, "I/O error 27");
    EXPECT_EQ(ReadWholeFile(path), "kept");
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir), fs::directory_iterator()), 1);
}

TEST_F(FileIoTest, AFolderInTheWayIsNotReplaced) {
    const fs::path folder = Dir / "result.dat";
    fs::create_directories(folder / "inside");
    EXPECT_THROW(WriteFileReplacing(folder.string(), "x"), InputOutputError);
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
    EXPECT_THROW(WriteFileReplacing((Dir / "no" / "such.dat").string(), "x"), InputOutputError);
    EXPECT_THROW(ReadWholeFile(Dir.string()), InputOutputError);
    EXPECT_EQ(InputOutputMessage(ENOSPC), "Disk full");
    EXPECT_EQ(InputOutputMessage(EIO), "I/O error 5");
}

} // namespace
} // namespace dravo2
