// The sweep command as a process: exit statuses, Ctrl-C, closed, limited or blocked output,
// the locale and the flush of the output folder.
#include "cli/cli_common.h"
#include "data/file_io.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace dravo2 {
namespace {

using testing::TempFolder;

struct Launch {
    Launch(std::vector<std::string> args) : Args(std::move(args)) {}
    std::vector<std::string> Args;
    std::vector<std::string> Environment; // NAME=VALUE added to the inherited ones
    bool CloseStdout = false;
    int Stdout = -1; // a descriptor to take as standard output instead of the file
    rlim_t FileSizeLimit = RLIM_INFINITY;
    std::string Program = DRAVO2_SWEEP_BINARY;
};

struct Finished {
    int Status = -1; // the exit status, or 128 + the signal that ended the process
    std::string Out;
    std::string Err;
};

class SweepProcess : public ::testing::Test {
protected:
    // Starts the process with standard output and error going to files in the folder.
    pid_t Spawn(const Launch& launch) {
        const std::string out = Dir / "stdout";
        const std::string err = Dir / "stderr";
        const pid_t child = ::fork();
        if (child == 0) {
            const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (outFd < 0 || errFd < 0 || ::dup2(errFd, 2) < 0) {
                ::_exit(100);
            }
            if (launch.CloseStdout) {
                ::close(1);
            } else if (::dup2(launch.Stdout >= 0 ? launch.Stdout : outFd, 1) < 0) {
                ::_exit(100);
            }
            ::close(outFd);
            ::close(errFd);
            rlimit limit{launch.FileSizeLimit, launch.FileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            for (const std::string& variable : launch.Environment) {
                ::putenv(const_cast<char*>(variable.c_str()));
            }
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(launch.Program.c_str()));
            for (const std::string& arg : launch.Args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(101);
        }
        return child;
    }

    Finished Wait(pid_t child) {
        Finished finished;
        int status = 0;
        EXPECT_EQ(::waitpid(child, &status, 0), child);
        finished.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        finished.Out = Read(Dir / "stdout");
        finished.Err = Read(Dir / "stderr");
        return finished;
    }

    Finished Run(const Launch& launch) { return Wait(Spawn(launch)); }

    // Waits at most `seconds` for the process to end; one that does not is killed and fails the test.
    Finished WaitWithin(pid_t child, int seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        // The end is only looked at (WNOWAIT); Wait collects it.
        auto ended = [child] {
            siginfo_t info{};
            return ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                   info.si_pid == child;
        };
        while (!ended() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!ended()) {
            ADD_FAILURE() << "the process did not end within " << seconds << " s";
            ::kill(child, SIGKILL);
        }
        return Wait(child);
    }

    static std::string Read(const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    }

    TempFolder Dir;
};

// CPU seconds a process has used, from /proc/<pid>/stat.
double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) {
            ticks += std::stol(field);
        }
    }
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

TEST_F(SweepProcess, ExitStatuses) {
    EXPECT_EQ(Run({{"steps=2"}}).Status, kExitOk);
    EXPECT_EQ(Run({{"steps=2", "t1=0"}}).Status, kExitStepError);
    EXPECT_EQ(Run({{"M1=abc"}}).Status, kExitBadInput);
    const Finished missing = Run({{"steps=2", "-o", Dir / "no/such.dat"}});
    EXPECT_EQ(missing.Status, kExitFileError);
    EXPECT_EQ(missing.Err, "File not found\n");
}

// Ctrl-C or SIGTERM during a sweep stops it, writes the rows recorded so far and exits with 130.
TEST_F(SweepProcess, AnInterruptedSweepWritesTheRowsSoFar) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const std::string result = Dir / "result.dat";
        const pid_t child = Spawn({{"steps=4000", "-o", result}});
        // Once the process has computed for a while it is well inside the sweep.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (CpuSeconds(child) < 0.3 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(::kill(child, signal), 0);
        const Finished finished = Wait(child);
        EXPECT_EQ(finished.Status, kExitInterrupted);
        EXPECT_EQ(finished.Err, std::string(kInterruptedMessage) + "\n");
        const std::string rows = Read(result);
        EXPECT_EQ(rows.size() % 218, 0u);
        EXPECT_GT(rows.size(), 0u);
        EXPECT_LT(rows.size(), 4000u * 218);
        std::remove(result.c_str());
    }
}

// Whether the process comes to sleep inside the system call `number` (an open or a write waiting
// for a reader) within a few seconds, as /proc shows it.
bool SleepsIn(pid_t pid, long number) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream call("/proc/" + std::to_string(pid) + "/syscall");
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        long current = -1;
        call >> current;
        const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const std::size_t paren = text.rfind(')');
        if (current == number && paren != std::string::npos && text.compare(paren + 2, 1, "S") == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// One SIGTERM (as `timeout` sends) wakes a command waiting to write to a FIFO that nobody opens or
// to a full pipe that nobody reads: it ends with 130 and says what became of the output.
TEST_F(SweepProcess, OneSignalEndsAWaitForAReader) {
    const std::string fifo = Dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const pid_t opening = Spawn({{"steps=2", "-o", fifo}});
    ASSERT_TRUE(SleepsIn(opening, SYS_openat));
    ASSERT_EQ(::kill(opening, SIGTERM), 0);
    const Finished unread = WaitWithin(opening, 10);
    EXPECT_EQ(unread.Status, kExitInterrupted);
    EXPECT_EQ(unread.Err, "Interrupted: nothing reads '" + fifo + "'; nothing is written\n");

    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ASSERT_EQ(::fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
    const std::string filler(4096, 'x');
    while (::write(ends[1], filler.data(), filler.size()) > 0) {
    }
    ASSERT_EQ(::fcntl(ends[1], F_SETFL, 0), 0);
    Launch full{{"steps=2"}};
    full.Stdout = ends[1];
    const pid_t writing = Spawn(full);
    ASSERT_TRUE(SleepsIn(writing, SYS_write));
    ASSERT_EQ(::kill(writing, SIGTERM), 0);
    const Finished blocked = WaitWithin(writing, 10);
    ::close(ends[0]);
    ::close(ends[1]);
    EXPECT_EQ(blocked.Status, kExitInterrupted);
    EXPECT_EQ(blocked.Err, "Interrupted: the reader took nothing for a second; the output is incomplete\n");
}

TEST_F(SweepProcess, StandardOutputErrorsAreReported) {
    Launch closed{{"steps=2"}};
    closed.CloseStdout = true;
    const Finished noOutput = Run(closed);
    EXPECT_EQ(noOutput.Status, kExitFileError);
    EXPECT_EQ(noOutput.Err, "Cannot write to standard output: Invalid file handle\n");

    Launch limited{{"steps=20"}};
    limited.FileSizeLimit = 1000;
    const Finished cut = Run(limited);
    EXPECT_EQ(cut.Status, kExitFileError);
    EXPECT_EQ(cut.Err, "Cannot write to standard output: File too large\n");

    Launch help{{"--help"}};
    help.CloseStdout = true;
    EXPECT_EQ(Run(help).Status, kExitFileError);
}

// Under a locale with a decimal comma the command still reads and writes full stops. The locale is
// compiled into the folder with localedef.
TEST_F(SweepProcess, TheCommaLocaleChangesNothing) {
    const std::string locales = Dir / "locales";
    ::mkdir(locales.c_str(), 0700);
    const std::string build = "localedef -i de_DE -f UTF-8 '" + locales + "/de_DE.UTF-8' >'" + (Dir / "log") + "' 2>&1";
    (void)std::system(build.c_str());
    const std::vector<std::string> environment = {"LOCPATH=" + locales, "LC_ALL=de_DE.UTF-8"};
    // The locale is there only if a process under it sees the comma.
    const pid_t probe = ::fork();
    if (probe == 0) {
        ::setenv("LOCPATH", locales.c_str(), 1);
        const bool comma =
            std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr && std::string(std::localeconv()->decimal_point) == ",";
        ::_exit(comma ? 0 : 1);
    }
    int probed = 0;
    ::waitpid(probe, &probed, 0);
    if (!WIFEXITED(probed) || WEXITSTATUS(probed) != 0) {
        GTEST_SKIP() << "localedef could not build de_DE.UTF-8 (no locale sources on this machine)";
    }
    const Finished plain = Run({{"steps=3"}});
    Launch comma{{"steps=3"}};
    comma.Environment = environment;
    const Finished local = Run(comma);
    EXPECT_EQ(local.Status, kExitOk);
    EXPECT_EQ(local.Err, "");
    EXPECT_EQ(local.Out, plain.Out);
    ASSERT_EQ(local.Out.size(), 3u * 218);

    const std::string measured = Dir / "measured.dat";
    WriteFileSafely(measured, "1.5 2\r\n3 4\r\n");
    Launch read{{"--read", measured}};
    read.Environment = environment;
    const Finished loaded = Run(read);
    EXPECT_EQ(loaded.Status, kExitOk);
    EXPECT_EQ(loaded.Out.size(), 2u * 56);
    EXPECT_EQ(loaded.Out.substr(0, 23), " 1.50000000000000E+0000");
}

// After the new file is renamed into place, its folder is flushed: traced with strace.
TEST_F(SweepProcess, TheFolderIsFlushedAfterTheRename) {
    if (std::system(("strace -V >'" + (Dir / "log") + "' 2>&1").c_str()) != 0) {
        GTEST_SKIP() << "strace is not installed";
    }
    const std::string result = Dir / "result.dat";
    WriteFileSafely(result, "old");
    const std::string log = Dir / "trace";
    Launch traced{{"steps=2", "-o", result}};
    traced.Program = "strace";
    traced.Args.insert(traced.Args.begin(),
                       {"-f", "-e", "trace=openat,fsync,rename,renameat,renameat2", "-o", log, DRAVO2_SWEEP_BINARY});
    const Finished finished = Run(traced);
    const std::string trace = Read(log);
    if (finished.Status != 0 && trace.empty()) {
        GTEST_SKIP() << "strace cannot trace here: " << finished.Err;
    }
    EXPECT_EQ(finished.Status, kExitOk) << finished.Err;
    EXPECT_EQ(Read(result).size(), 2u * 218);
    const std::size_t rename = trace.find("\"" + result + "\"");
    ASSERT_NE(rename, std::string::npos) << trace;
    std::smatch folder;
    const std::string after = trace.substr(rename);
    const std::regex openFolder("openat\\(AT_FDCWD, \"" + Dir.Path.string() +
                                "\", O_RDONLY[^)]*O_DIRECTORY[^)]*\\) = (\\d+)");
    ASSERT_TRUE(std::regex_search(after, folder, openFolder)) << trace;
    EXPECT_NE(after.find("fsync(" + folder[1].str() + ")", static_cast<std::size_t>(folder.position(0))),
              std::string::npos)
        << trace;
}

} // namespace
} // namespace dravo2
