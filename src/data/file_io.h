#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dravo2 {

// The message for a failed file operation with the given errno value: "File not found",
// "File access denied", "Disk full", ... or "I/O error <code>".
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

// The one way every result file, table or picture is saved. Makes `bytes` the content of `path`
// so that no failure loses what was there before, and keeps what the user set up around it:
//  - a symbolic link is followed to its target (a dangling link creates its target);
//  - a FIFO, device or other non-regular file is written directly, never replaced;
//  - a regular file with more than one hard link is written in place, keeping its links;
//  - any other regular file is replaced: the bytes go to an unnamed temporary file in the same
//    folder (O_TMPFILE; a short hidden name where the file system lacks it), are flushed, get the
//    old file's mode and, where the process may set it, its owner, and are then renamed over the
//    file, after which the folder itself is flushed so that the new name survives a power cut;
//  - when the folder may not be written but the file may, the file is written in place;
//  - an existing regular file that the user may not write is refused, as is a folder.
// An in-place write reserves the space first, so a full disk is found before any old byte is
// overwritten. Throws InputOutputError with the message for the cause.
void WriteFileSafely(const std::string& path, std::string_view bytes);

// Throws the InputOutputError that WriteFileSafely would most likely meet for `path` (missing
// folder, no right to write, a folder in the way, a name too long), without creating or opening
// anything: commands call it before long work so that they fail early.
void CheckWritable(const std::string& path);

} // namespace dravo2
