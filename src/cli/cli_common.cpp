#include "cli/cli_common.h"

#include "data/errors.h"
#include "data/file_io.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <ostream>
#include <sched.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace dravo2 {
inline namespace cli {
namespace {

std::atomic<bool> Interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

extern "C" void OnInterrupt(int) {
    Interrupted.store(true, std::memory_order_relaxed);
}

// A stream buffer over a descriptor whose writes go through WriteToDescriptor. A failure is kept,
// and every later write fails, until WriteStandardOutput takes it to report it.
class DescriptorBuffer : public std::streambuf {
public:
    explicit DescriptorBuffer(int fd) : Fd(fd) { setp(Buffer.data(), Buffer.data() + Buffer.size()); }
    DescriptorBuffer(const DescriptorBuffer&) = delete;
    DescriptorBuffer& operator=(const DescriptorBuffer&) = delete;
    ~DescriptorBuffer() override { Flush(); }

    std::exception_ptr TakeFailure() { return std::exchange(Failure, nullptr); }

protected:
    int_type overflow(int_type c) override {
        if (!Flush()) {
            return traits_type::eof();
        }
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char* bytes, std::streamsize count) override {
        if (count <= epptr() - pptr()) {
            std::memcpy(pptr(), bytes, static_cast<std::size_t>(count));
            pbump(static_cast<int>(count));
            return count;
        }
        return Flush() && Send(std::string_view(bytes, static_cast<std::size_t>(count))) ? count : 0;
    }

    int sync() override { return Flush() ? 0 : -1; }

private:
    bool Flush() {
        const std::string_view pending(pbase(), static_cast<std::size_t>(pptr() - pbase()));
        setp(Buffer.data(), Buffer.data() + Buffer.size());
        return pending.empty() || Send(pending);
    }

    bool Send(std::string_view bytes) {
        if (Failure) {
            return false;
        }
        try {
            WriteToDescriptor(Fd, bytes);
            return true;
        } catch (...) {
            Failure = std::current_exception();
            return false;
        }
    }

    int Fd;
    std::array<char, 8192> Buffer{};
    std::exception_ptr Failure;
};

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
    // SA_RESETHAND: a second Ctrl-C ends the process, even where the work waits. No SA_RESTART: the
    // first signal makes a write that waits for a reader return, and the writes then give up
    // rather than wait again (SetStopCheck).
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGXFSZ, SIG_IGN);
    SetStopCheck(InterruptRequested);
}

std::ostream& StandardOutput() {
    static DescriptorBuffer buffer(STDOUT_FILENO);
    static std::ostream stream(&buffer);
    return stream;
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
        auto* descriptor = dynamic_cast<DescriptorBuffer*>(out.rdbuf());
        if (const std::exception_ptr failure = descriptor != nullptr ? descriptor->TakeFailure() : nullptr) {
            try {
                std::rethrow_exception(failure);
            } catch (const WriteInterruptedError&) {
                throw;
            } catch (const InputOutputError& cause) {
                throw InputOutputError(std::string("Cannot write to standard output: ") + cause.what());
            }
        }
        throw InputOutputError("Cannot write to standard output: " + InputOutputMessage(error));
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
        WriteOutputFile(path, bytes, err);
    }
}

void WriteOutputFile(const std::string& path, std::string_view bytes, std::ostream& err) {
    if (WriteFileSafely(path, bytes) == WriteNote::LinksBroken) {
        err << "'" << path << "' is a new file: its other hard links keep the old content.\n";
    }
}

void DrawProgressBar(std::ostream& err, std::string_view label, std::int64_t done, std::int64_t total, int width,
                     std::string_view tail) {
    const std::int64_t filled = total <= 0 ? width : std::clamp<std::int64_t>(done, 0, total) * width / total;
    err << "\r" << label << " [" << std::string(static_cast<std::size_t>(filled), '#')
        << std::string(static_cast<std::size_t>(width - filled), ' ') << "] " << done << "/" << total << tail
        << std::flush;
}

int WriteFailureStatus(const InputOutputError& error, std::ostream& err) {
    err << error.what() << "\n";
    return dynamic_cast<const WriteInterruptedError*>(&error) != nullptr ? kExitInterrupted : kExitFileError;
}

unsigned UsableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&set));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

void CheckDistinctFiles(const PathOptions& inputs, const PathOptions& outputs) {
    for (std::size_t o = 0; o < outputs.size(); ++o) {
        // Named references, not a structured binding: clang 14 cannot capture a binding in a lambda.
        const std::string& option = outputs[o].first;
        const std::string& path = outputs[o].second;
        auto refuse = [&](const std::pair<std::string, std::string>& other) {
            if (SameFile(path, other.second)) {
                throw ProgramError(option + " '" + path + "' is the same file as " + other.first + " '" + other.second +
                                   "': give another file name");
            }
        };
        for (const auto& input : inputs) {
            refuse(input);
        }
        for (std::size_t earlier = 0; earlier < o; ++earlier) {
            refuse(outputs[earlier]);
        }
    }
}

} // namespace cli
} // namespace dravo2
