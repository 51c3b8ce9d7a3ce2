#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace dravo2 {
inline namespace data {

// `text` with every control character but TAB and line feed written as \xHH, so that a message
// quoting a file's bytes is shown whole (a NUL would end it) and sends nothing to a terminal.
inline std::string PrintableText(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\n') || byte == 0x7f) {
            static const char kDigits[] = "0123456789ABCDEF";
            shown += "\\x";
            shown += kDigits[byte >> 4];
            shown += kDigits[byte & 15];
        } else {
            shown += c;
        }
    }
    return shown;
}

// Every failure the program reports to the user is one of these; the message is the text shown.
class ProgramError : public std::runtime_error {
public:
    explicit ProgramError(const std::string& message) : std::runtime_error(PrintableText(message)) {}
    explicit ProgramError(const char* message) : std::runtime_error(PrintableText(message)) {}
};

// A text that does not read as a number: "'%s' is not a valid floating point value" and the like.
class ConversionError : public ProgramError {
public:
    using ProgramError::ProgramError;
};

// Invalid operation, division by zero or overflow met by the arithmetic.
class FloatingPointError : public ProgramError {
public:
    using ProgramError::ProgramError;
};

// A file that cannot be opened, read or written, or a data row that does not read as a number.
class InputOutputError : public ProgramError {
public:
    using ProgramError::ProgramError;
};

// A write that waited for a reader (a FIFO, a pipe) and was given up after Ctrl-C or SIGTERM.
class WriteInterruptedError : public InputOutputError {
public:
    using InputOutputError::InputOutputError;
};

// A path to read that names a FIFO, a device, a socket or a folder rather than a regular file.
class NotRegularFileError : public InputOutputError {
public:
    using InputOutputError::InputOutputError;
};

} // namespace data
} // namespace dravo2
