#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace dravo2 {
inline namespace data {
class InputOutputError;
} // namespace data
} // namespace dravo2

namespace dravo2 {
inline namespace cli {

// Exit statuses of the headless commands.
inline constexpr int kExitOk = 0;
inline constexpr int kExitStepError = 1;     // a floating-point error during a sweep; the rows so far are written
inline constexpr int kExitBadInput = 2;      // a bad argument or value
inline constexpr int kExitFileError = 3;     // a file that cannot be read or written, standard output included
inline constexpr int kExitInterrupted = 130; // Ctrl-C or SIGTERM; the rows recorded so far are written
// A reader of standard output that goes away early (`| head`) ends a command silently with
// 128 + SIGPIPE = 141, as it ends other command-line tools.

inline constexpr const char* kOutOfMemoryMessage = "Out of memory";
inline constexpr const char* kInterruptedMessage = "Interrupted: the rows recorded so far are written.";

// Refuses (ProgramError, a bad argument) an output that names the same file as an input or as
// another output, symbolic and hard links included, before any work: the result would replace
// what is still to be read or written. Each entry is (option, path); empty paths are skipped.
using PathOptions = std::vector<std::pair<std::string, std::string>>;
void CheckDistinctFiles(const PathOptions& inputs, const PathOptions& outputs);

// Prepares the process of a command, once, at the start of main:
//  - SIGINT and SIGTERM only raise the interruption flag, so that long work can stop and still
//    write what it has; a second signal ends the process as usual. The first one also wakes a
//    write that waits for a reader (a FIFO, a full pipe), which then waits at most a second more;
//  - SIGXFSZ is ignored, so that a file-size limit is a write error with a message, not a crash;
//  - a closed standard descriptor (0, 1, 2) is taken by a placeholder on which every write fails,
//    so that a file opened later never becomes standard output and output to it is reported.
void PrepareCommandProcess();

// The cores this process may run on (a Slurm task's allocation, taskset), else all of them.
unsigned UsableCores();

// Standard output of a command as a stream whose writes follow WriteToDescriptor: after Ctrl-C or
// SIGTERM a reader that takes nothing does not hold the process.
std::ostream& StandardOutput();

// Whether SIGINT or SIGTERM arrived since PrepareCommandProcess. Long work polls it between steps.
bool InterruptRequested();

// The flag InterruptRequested() reads, for loops that check it inside every step.
const std::atomic<bool>& InterruptFlag();

// Writes `bytes` to `out` (standard output in the commands) and flushes it. A failed write (a
// closed descriptor, a full disk, a file-size limit) throws InputOutputError
// "Cannot write to standard output: <reason>"; a write given up after a stop throws
// WriteInterruptedError.
void WriteStandardOutput(std::ostream& out, std::string_view bytes);

// Throws InputOutputError when the output FILE (of -o and the like) cannot be written; runs
// before the work, so that a missing folder does not fail after a long sweep.
void CheckOutputLocation(const std::string& path);

// Writes a command's result to `path` through WriteFileSafely, or to `out` when `path` is empty.
// An empty result is never written over a file: `path` is left alone and `err` says so, as it
// says when the file's other hard links keep the old content. Throws InputOutputError.
void WriteResult(const std::string& path, std::string_view bytes, std::ostream& out, std::ostream& err);

// Writes a file through WriteFileSafely and says on `err` when its other hard links keep the old
// content. Throws InputOutputError.
void WriteOutputFile(const std::string& path, std::string_view bytes, std::ostream& err);

// Redraws a command's progress bar on its line of a terminal and flushes:
// "\rLABEL [###   ] DONE/TOTAL" and `tail`, `width` cells filled in proportion to DONE out of
// TOTAL (all of them for a TOTAL of 0).
void DrawProgressBar(std::ostream& err, std::string_view label, std::int64_t done, std::int64_t total, int width,
                     std::string_view tail = {});

// The exit status and message for an error met while writing the result: 130 for a write given up
// after a stop, 3 for any other. Writes the message to `err`.
int WriteFailureStatus(const InputOutputError& error, std::ostream& err);

} // namespace cli
} // namespace dravo2
