#include "data/file_io.h"

#include "data/errors.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dravo2 {
namespace {

[[noreturn]] void RaiseInputOutput(int errorNumber) {
    throw InputOutputError(InputOutputMessage(errorNumber));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : Fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (Fd >= 0) {
            ::close(Fd);
        }
    }
    int Get() const { return Fd; }
    // Closes now and reports a failure of the close itself (a delayed write error).
    int Close() {
        const int result = ::close(Fd);
        Fd = -1;
        return result;
    }

private:
    int Fd;
};

} // namespace

std::string InputOutputMessage(int errorNumber) {
    switch (errorNumber) {
    case ENOENT:
        return "File not found";
    case ENOTDIR:
        return "Path not found";
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return "File access denied";
    case ENOSPC:
    case EDQUOT:
        return "Disk full";
    case ENAMETOOLONG:
    case EINVAL:
        return "Invalid filename";
    case EMFILE:
    case ENFILE:
        return "Too many open files";
    default:
        return "I/O error " + std::to_string(errorNumber);
    }
}

std::string ReadWholeFile(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        RaiseInputOutput(errno);
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) == 0 && S_ISDIR(status.st_mode)) {
        RaiseInputOutput(EISDIR);
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(file.Get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            RaiseInputOutput(errno);
        }
        if (count == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return bytes;
}

void WriteFileReplacing(const std::string& path, const std::string& bytes) {
    if (path.empty()) {
        RaiseInputOutput(ENOENT);
    }
    std::string temporary = path + ".XXXXXX";
    FileDescriptor file(::mkstemp(temporary.data()));
    if (file.Get() < 0) {
        RaiseInputOutput(errno);
    }
    auto fail = [&](int errorNumber) {
        ::unlink(temporary.c_str());
        RaiseInputOutput(errorNumber);
    };
    // mkstemp creates the file for its owner alone; a result file is as readable as any other.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(file.Get(), 0666 & ~mask);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(file.Get(), bytes.data() + written, bytes.size() - written);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        written += static_cast<std::size_t>(count);
    }
    if (::fsync(file.Get()) != 0 && errno != EINVAL) {
        fail(errno);
    }
    if (file.Close() != 0) {
        fail(errno);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        fail(errno);
    }
}

} // namespace dravo2
