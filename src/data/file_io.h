#pragma once

#include <string>

namespace dravo2 {

// The message for a failed file operation with the given errno value: "File not found",
// "File access denied", "Disk full", ... or "I/O error <code>".
std::string InputOutputMessage(int errorNumber);

// The whole content of a file as bytes. Throws InputOutputError with the message for the cause.
std::string ReadWholeFile(const std::string& path);

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and only then renames it
// over `path`, so a failed write never destroys what `path` held. Throws InputOutputError.
void WriteFileReplacing(const std::string& path, const std::string& bytes);

} // namespace dravo2
