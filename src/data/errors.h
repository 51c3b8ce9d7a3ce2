#pragma once

#include <stdexcept>
#include <string>

namespace dravo2 {

// Every failure the program reports to the user is one of these; the message is the text shown.
class ProgramError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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

// A path to read that names a FIFO, a device, a socket or a folder rather than a regular file.
class NotRegularFileError : public InputOutputError {
public:
    using InputOutputError::InputOutputError;
};

} // namespace dravo2
