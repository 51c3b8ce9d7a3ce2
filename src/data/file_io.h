#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dravo2 {
inline namespace data {

// The message for a failed file operation with the given errno value: "File not found",
// "File access denied", "Disk full", ... or the system's text for the others ("File too large").
std::string InputOutputMessage(int errorNumber);

// A regular file opened for reading in pieces. Opening never waits: a FIFO, a device, a socket
// or a folder is refused with NotRegularFileError instead of being read (a FIFO with no writer
// would block for ever). Other failures throw InputOutputError with the message for the cause.
class InputFile {
public:
    explicit InputFile(const std::string& path);
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Reads up to `size` bytes into `buffer`; 0 at the end of the file.
    std::size_t Read(char* buffer, std::size_t size);

private:
    int Fd = -1;
};

// The whole content of a small regular file as bytes (see InputFile for what is refused).
std::string ReadWholeFile(const std::string& path);

// What WriteFileSafely does with a path that names a FIFO, a device or another file that is not
// a regular one: write into it (the commands), or refuse it with NotRegularFileError (the window,
// which must not wait for a reader on its interface thread).
enum class SpecialFiles { Write, Refuse };

// What WriteFileSafely did besides writing, for the caller to tell the user.
enum class WriteNote {
    None,
    LinksBroken, // the file had other hard links: the name now holds the new file, they the old one
};

// The one way every result file, table or picture is saved. Makes `bytes` the content of `path`
// so that no failure loses what was there before, and keeps what the user set up around it:
//  - a symbolic link is followed to its target (a dangling link creates its target); a link of
//    /proc/self/fd or /dev/stdout to a pipe or socket is opened as it is;
//  - a FIFO, device or other non-regular file is written directly, never replaced (or refused,
//    see SpecialFiles);
//  - a regular file is replaced: the bytes go to an unnamed temporary file in the same folder
//    (O_TMPFILE; a short hidden name where the file system lacks it), are flushed, get the old
//    file's mode and owner, and are then renamed over the file, after which the folder itself is
//    flushed so that the new name survives a power cut. A process killed at any moment leaves
//    the old content or the new one. A file with other hard links is replaced under this name
//    only (WriteNote::LinksBroken): writing it in place could leave it half old, half new;
//  - it is written in place, keeping its identity, only where replacing it is not allowed: the
//    folder may not be written (or its sticky bit protects the file), or the new file could not
//    get the old one's owner and group;
//  - an existing regular file that the user may not write is refused, as is a folder.
// An in-place write reserves the space first, so a full disk is found before any old byte is
// overwritten. Throws InputOutputError with the message for the cause, and WriteInterruptedError
// when a write that waits for a reader is given up after a stop (see SetStopCheck).
WriteNote WriteFileSafely(const std::string& path, std::string_view bytes, SpecialFiles special = SpecialFiles::Write);

// Writes every byte to the open descriptor `fd` (standard output in the commands). Once a stop is
// asked for (see SetStopCheck), a pipe, FIFO or terminal that takes no byte for a second is given
// up with WriteInterruptedError instead of being waited for. Throws InputOutputError.
void WriteToDescriptor(int fd, std::string_view bytes);

// Installs the question "was a stop asked for?" (Ctrl-C or SIGTERM in a command), set once at the
// start of a process. A signal that interrupts a write waiting for a reader then ends the wait,
// and a FIFO that nobody reads is not waited for at all.
void SetStopCheck(bool (*stopRequested)());

// Whether two paths name the same file: the same device and inode when both exist, otherwise the
// same path once symbolic links and the folders are resolved. Empty paths name nothing.
bool SameFile(const std::string& first, const std::string& second);

// Throws the InputOutputError that WriteFileSafely would most likely meet for `path` (missing
// folder, no right to write, a folder in the way, a name too long), without creating or opening
// anything: commands call it before long work so that they fail early.
void CheckWritable(const std::string& path);

} // namespace data
} // namespace dravo2
