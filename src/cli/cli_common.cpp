#include "cli/cli_common.h"

#include "data/errors.h"
#include "data/file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <ostream>
#include <sched.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace dravo2 {
namespace {

std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

extern "C" void OnInterrupt(int) {
    Interrupted.store(true, std::memory_order_relaxed);
}

} // namespace

void PrepareCommandProcess() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // Opened read-only, so every write to it fails with EBADF as on the closed descriptor.
            const int placeholder = ::open("/dev/null", O_RDONLY);
            if (placeholder >= 0 && placeholder != fd) {
                ::close(placeholder);
            }
        }
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: a second Ctrl-C ends the process, even where the work waits (a FIFO to write).
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
}

bool InterruptRequested() {
    return Interrupted.load(std::memory_order_relaxed);
}

const std::atomic<bool>& InterruptFlag() {
    return Interrupted;
}

void WriteStandardOutput(std::ostream& out, std::string_view bytes) {
    errno = 0;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
        const int error = errno != 0 ? errno : EIO;
        out.clear();
        throw InputOutputError("Cannot write to standard output: " + InputOutputMessage(error));
    }
}

void CheckOutputName(const std::string& path) {
    if (path.empty()) {
        throw ProgramError("Option -o needs a file name");
    }
}

void CheckOutputLocation(const std::string& path) {
    if (!path.empty()) {
        CheckWritable(path);
    }
}

void WriteResult(const std::string& path, std::string_view bytes, std::ostream& out, std::ostream& err) {
    if (path.empty()) {
        WriteStandardOutput(out, bytes);
    } else if (bytes.empty()) {
        err << "No rows were recorded: nothing is written to '" << path << "'.\n";
    } else {
        WriteFileSafely(path, bytes);
    }
}

std::string NextOptionValue(const std::vector<std::string>& args, std::size_t& i) {
    if (i + 1 >= args.size()) {
        throw ProgramError("Option " + args[i] + " needs a value");
    }
    return args[++i];
}

OptionsSeen::OptionsSeen(std::vector<std::string> repeatable) : Repeatable(std::move(repeatable)) {
    Repeatable.insert(Repeatable.end(), {"--help", "-h", "--version"});
}

void OptionsSeen::Meet(const std::string& arg) {
    if (arg.size() < 2 || arg[0] != '-' || std::find(Repeatable.begin(), Repeatable.end(), arg) != Repeatable.end()) {
        return;
    }
    if (std::find(Seen.begin(), Seen.end(), arg) != Seen.end()) {
        throw ProgramError("Option " + arg + " is given twice");
    }
    Seen.push_back(arg);
}

unsigned UsableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&set));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace dravo2
