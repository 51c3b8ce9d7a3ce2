#pragma once

#include <atomic>

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace dravo2 {

// Exit statuses of the headless commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitStepError = 1;     // a floating-point error during a sweep; the rows so far are written
inline constexpr int kExitBadInput = 2;      // a bad argument or value
inline constexpr int kExitFileError = 3;     // a file that cannot be read or written, standard output included
inline constexpr int kExitInterrupted = 130; // Ctrl-C or SIGTERM; the rows recorded so far are written

inline constexpr const char* kOutOfMemoryMessage = "Out of memory";
inline constexpr const char* kInterruptedMessage = "Interrupted: the rows recorded so far are written.";

// Prepares the process of a command, once, at the start of main:
//  - SIGINT and SIGTERM only raise the interruption flag, so that long work can stop and still
//    write what it has; a second signal ends the process as usual;
//  - SIGXFSZ is ignored, so that a file-size limit is a write error with a message, not a crash;
//  - a closed standard descriptor (0, 1, 2) is taken by a placeholder on which every write fails,
//    so that a file opened later never becomes standard output and output to it is reported.
// The value that follows the option args[i]; advances i past it. Throws "Option X needs a value"
// when none follows.
std::string NextOptionValue(const std::vector<std::string>& args, std::size_t& i);

void PrepareCommandProcess();

// The options of a command line as its parser meets them: an option met a second time is refused
// ("Option -o is given twice"), since its later value would silently replace the earlier one.
// Arguments that are no options (not starting with '-') and `repeatable` options may recur.
class OptionsSeen {
public:
    explicit OptionsSeen(std::vector<std::string> repeatable = {});
    void Meet(const std::string& arg);

private:
    std::vector<std::string> Repeatable;
    std::vector<std::string> Seen;
};

// The cores this process may run on (a Slurm task's allocation, taskset), else all of them.
unsigned UsableCores();

// Whether SIGINT or SIGTERM arrived since PrepareCommandProcess. Long work polls it between steps.
bool InterruptRequested();

// The flag InterruptRequested() reads, for loops that check it inside every step.
const std::atomic<bool>& InterruptFlag();

// Writes `bytes` to `out` (standard output in the commands) and flushes it. A failed write (a
// closed descriptor, a full disk, a file-size limit) throws InputOutputError
// "Cannot write to standard output: <reason>".
void WriteStandardOutput(std::ostream& out, std::string_view bytes);

// The `-o FILE` option. CheckOutputName refuses an empty name (ProgramError, a bad argument) while
// the arguments are read; CheckOutputLocation throws InputOutputError when FILE cannot be written,
// and runs before the work, so that a missing folder does not fail after a long sweep.
void CheckOutputName(const std::string& path);
void CheckOutputLocation(const std::string& path);

// Writes a command's result to `path` through WriteFileSafely, or to `out` when `path` is empty.
// An empty result is never written over a file: `path` is left alone and `err` says so.
// Throws InputOutputError.
void WriteResult(const std::string& path, std::string_view bytes, std::ostream& out, std::ostream& err);

} // namespace dravo2
