#include "data/file_io.h"

#include "data/errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/magic.h>
#include <memory>
#include <poll.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace dravo2 {
inline namespace data {
namespace {

std::atomic<bool (*)()> StopCheck{nullptr};

bool StopRequested() {
    bool (*const check)() = StopCheck.load(std::memory_order_relaxed);
    return check != nullptr && check();
}

// How long a reader may take nothing, once a stop was asked for, before the write is given up.
constexpr int kReaderGraceMilliseconds = 1000;

[[noreturn]] void RaiseInputOutput(int errorNumber) {
    throw InputOutputError(InputOutputMessage(errorNumber));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : Fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (Fd >= 0) {
            ::close(Fd);
        }
    }
    int Get() const { return Fd; }
    void Reset(int fd) {
        if (Fd >= 0) {
            ::close(Fd);
        }
        Fd = fd;
    }
    // Closes now and reports a failure of the close itself (a delayed write error).
    void Close() {
        const int result = ::close(Fd);
        Fd = -1;
        if (result != 0 && errno != EINTR) {
            RaiseInputOutput(errno);
        }
    }

private:
    int Fd;
};

// Writes every byte at the current offset, or at `offset` onwards when it is not negative.
void WriteAll(int fd, std::string_view bytes, off_t offset = -1) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const char* from = bytes.data() + written;
        const std::size_t left = bytes.size() - written;
        const ssize_t count =
            offset < 0 ? ::write(fd, from, left) : ::pwrite(fd, from, left, offset + static_cast<off_t>(written));
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            RaiseInputOutput(errno);
        }
        written += static_cast<std::size_t>(count);
    }
}

// Flushes a regular file to the disk; a file system that cannot (EINVAL) is taken as it is.
void SyncFile(int fd) {
    if (::fsync(fd) != 0 && errno != EINVAL) {
        RaiseInputOutput(errno);
    }
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path that symbolic links lead to: each link is replaced by its target, read relative to the
// link's folder, until a path that is no link or does not exist yet.
std::string FollowLinks(const std::string& path) {
    std::string target = path;
    for (int hops = 0;; ++hops) {
        struct stat status {};
        if (::lstat(target.c_str(), &status) != 0) {
            if (errno == ENOENT) {
                return target;
            }
            RaiseInputOutput(errno);
        }
        if (!S_ISLNK(status.st_mode)) {
            return target;
        }
        if (hops >= 40) {
            RaiseInputOutput(ELOOP);
        }
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
        if (length < 0) {
            RaiseInputOutput(errno);
        }
        link.resize(static_cast<std::size_t>(length));
        const bool absolute = !link.empty() && link.front() == '/';
        // A descriptor's link in /proc (also reached as /dev/stdout or /dev/fd/N) names a pipe or
        // socket by a text such as "pipe:[1234]", not by a path: the link itself opens it.
        struct statfs system {};
        if (!absolute && ::statfs(FolderOf(target).c_str(), &system) == 0 && system.f_type == PROC_SUPER_MAGIC) {
            return target;
        }
        target = absolute ? link : FolderOf(target).append("/").append(link);
    }
}

bool MayWrite(const std::string& path, int mode = W_OK) {
    return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

// Flushes a folder so that a new name in it survives a power cut. A folder that cannot be opened
// for this (write and search rights only) or whose file system cannot flush it is left as it is:
// the new content is already in place.
void SyncFolder(const std::string& folder) {
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() >= 0) {
        SyncFile(directory.Get());
    }
}

// Whether `fd` takes bytes within `milliseconds` (-1: no limit); a signal ends the wait early.
bool Writable(int fd, int milliseconds) {
    pollfd request{fd, POLLOUT, 0};
    const int ready = ::poll(&request, 1, milliseconds);
    if (ready < 0 && errno != EINTR) {
        RaiseInputOutput(errno);
    }
    return ready > 0;
}

// Writes into a pipe, FIFO, terminal or device, whose reader may be slow or absent. Once a stop
// is asked for, each piece (small enough for a pipe to take whole) waits at most the grace for
// room, so that a reader that takes nothing cannot hold the process.
void WriteToReader(int fd, std::string_view bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        std::size_t piece = bytes.size() - written;
        if (StopRequested()) {
            if (!Writable(fd, kReaderGraceMilliseconds)) {
                throw WriteInterruptedError(
                    "Interrupted: the reader took nothing for a second; the output is incomplete");
            }
            piece = std::min<std::size_t>(piece, PIPE_BUF);
        }
        const ssize_t count = ::write(fd, bytes.data() + written, piece);
        if (count < 0) {
            if (errno == EAGAIN) {
                Writable(fd, -1); // a descriptor inherited without blocking writes
                continue;
            }
            if (errno == EINTR) {
                continue; // a stop: the loop now waits with a limit
            }
            RaiseInputOutput(errno);
        }
        written += static_cast<std::size_t>(count);
    }
}

// Writes into a FIFO, a device or another file that is not a regular one. Opening a FIFO waits
// for a reader; after a stop it does not: a FIFO that nobody reads is then given up at once.
void WriteSpecialFile(const std::string& target, std::string_view bytes) {
    FileDescriptor file;
    for (;;) {
        const bool stopping = StopRequested();
        file.Reset(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (stopping ? O_NONBLOCK : 0)));
        if (file.Get() >= 0) {
            if (stopping) {
                ::fcntl(file.Get(), F_SETFL, ::fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK);
            }
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == ENXIO && stopping) {
            throw WriteInterruptedError("Interrupted: nothing reads '" + target + "'; nothing is written");
        }
        RaiseInputOutput(errno);
    }
    WriteToReader(file.Get(), bytes);
    file.Close();
}

// Overwrites the regular file `target`, keeping its identity (the folder forbids replacing it). It
// is first given room for the new content, so that a full disk stops the write before any old
// byte is lost, then overwritten, cut to the new length and flushed. `expected` is the file as
// found: a file that became something else meanwhile (a FIFO would block) is not written.
void WriteInPlace(const std::string& target, std::string_view bytes, const struct stat& expected) {
    FileDescriptor file(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0) {
        RaiseInputOutput(errno);
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) {
        RaiseInputOutput(errno);
    }
    if (!S_ISREG(status.st_mode) || status.st_dev != expected.st_dev || status.st_ino != expected.st_ino) {
        throw InputOutputError("'" + target + "' was replaced while it was being written; nothing is written");
    }
    const auto size = static_cast<off_t>(bytes.size());
    // A file-size limit would stop the write half-way, with the old content partly overwritten.
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(size) > limit.rlim_cur) {
        RaiseInputOutput(EFBIG);
    }
    // The room is reserved without changing the length, so a refusal leaves the file as it was.
    if (size > 0 && ::fallocate(file.Get(), FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS) {
        RaiseInputOutput(errno);
    }
    WriteAll(file.Get(), bytes, 0);
    if (::ftruncate(file.Get(), size) != 0) {
        RaiseInputOutput(errno);
    }
    SyncFile(file.Get());
    file.Close();
}

// A short name of its own in `folder`, such as ".dravo2-a8Zq0x", whatever the length of the name
// it stands in for.
std::string TemporaryName(const std::string& folder) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device entropy;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string name = folder + "/.dravo2-";
    for (int i = 0; i < 6; ++i) {
        name += kLetters[pick(entropy)];
    }
    return name;
}

// The new content on its way into the folder: unnamed while it is written where the file system
// allows, so that a process killed half-way leaves nothing behind.
class TemporaryFile {
public:
    // Creates the file with `mode` (the process's umask applies); Error() tells whether it failed.
    TemporaryFile(const std::string& folder, mode_t mode) : Folder(folder) {
        File.Reset(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
        if (File.Get() >= 0) {
            return;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            Failure = errno;
            return;
        }
        // No unnamed files here: a short hidden name instead.
        for (int attempt = 0;; ++attempt) {
            Name = TemporaryName(folder);
            File.Reset(::open(Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
            if (File.Get() >= 0) {
                return;
            }
            if (errno != EEXIST || attempt >= 100) {
                Failure = errno;
                Name.clear();
                return;
            }
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!Name.empty()) {
            ::unlink(Name.c_str());
        }
    }

    // The errno value of a failed creation, 0 when the file is open.
    int Error() const { return Failure; }
    int Get() const { return File.Get(); }

    // Puts the written file under `target`, replacing what was there, and closes it. False, with
    // `target` untouched, when the folder forbids replacing it (a sticky folder, a file of another
    // user).
    bool MoveTo(const std::string& target, bool targetExists) {
        if (Name.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(File.Get());
            // A new file gets its name in one step; one that replaces another needs a name of its
            // own first, since a link never replaces an existing name.
            if (!targetExists && ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                File.Close();
                return true;
            }
            for (int attempt = 0;; ++attempt) {
                const std::string name = TemporaryName(Folder);
                if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                    Name = name;
                    break;
                }
                if (errno != EEXIST || attempt >= 100) {
                    RaiseInputOutput(errno);
                }
            }
        }
        File.Close();
        if (::rename(Name.c_str(), target.c_str()) != 0) {
            if (targetExists && (errno == EPERM || errno == EACCES)) {
                return false;
            }
            RaiseInputOutput(errno);
        }
        Name.clear();
        return true;
    }

private:
    std::string Folder;
    std::string Name; // empty while the file has no name
    FileDescriptor File;
    int Failure = 0;
};

// Replaces (or creates, when `old` is null) the regular file `target` through a temporary file.
// Returns false, having changed nothing, when `target` exists but may not be replaced: the folder
// refuses new files or the rename, or the new file cannot get the old one's owner and group.
bool WriteReplacing(const std::string& target, std::string_view bytes, const struct stat* old) {
    const std::string folder = FolderOf(target);
    TemporaryFile temporary(folder, old != nullptr ? 0600 : 0666);
    if (const int error = temporary.Error()) {
        if (old != nullptr && (error == EACCES || error == EPERM)) {
            return false;
        }
        RaiseInputOutput(error);
    }
    // The owner first, before any byte is written: a file of another user is not taken over.
    if (old != nullptr && ::fchown(temporary.Get(), old->st_uid, old->st_gid) != 0) {
        return false;
    }
    WriteAll(temporary.Get(), bytes);
    // The mode after the owner: changing the owner may clear the set-user and set-group bits.
    if (old != nullptr && ::fchmod(temporary.Get(), old->st_mode & 07777) != 0) {
        RaiseInputOutput(errno);
    }
    SyncFile(temporary.Get());
    if (!temporary.MoveTo(target, old != nullptr)) {
        return false;
    }
    SyncFolder(folder);
    return true;
}

// The path that `path` stands for once its symbolic links and its folder are resolved; as far as
// it can be resolved when parts of it do not exist.
std::string ResolvedPath(const std::string& path) {
    std::string target = path;
    try {
        target = FollowLinks(path);
    } catch (const InputOutputError&) {
        return path;
    }
    const std::unique_ptr<char, decltype(&std::free)> folder(::realpath(FolderOf(target).c_str(), nullptr), &std::free);
    return folder ? std::string(folder.get()) + "/" + NameOf(target) : target;
}

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
    case EBADF:
        return "Invalid file handle";
    default:
        // The system's own words for the other causes ("Too many levels of symbolic links").
        if (const char* text = ::strerrordesc_np(errorNumber)) {
            return text;
        }
        return "I/O error " + std::to_string(errorNumber);
    }
}

InputFile::InputFile(const std::string& path) {
    // O_NONBLOCK: opening a FIFO with no writer returns at once, to be refused below.
    Fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (Fd < 0) {
        RaiseInputOutput(errno);
    }
    struct stat status {};
    if (::fstat(Fd, &status) != 0) {
        const int error = errno;
        ::close(Fd);
        RaiseInputOutput(error);
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(Fd);
        throw NotRegularFileError("'" + path + "' is not a regular file");
    }
    ::fcntl(Fd, F_SETFL, ::fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
}

InputFile::~InputFile() {
    ::close(Fd);
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t count = ::read(Fd, buffer, size);
        if (count >= 0) {
            return static_cast<std::size_t>(count);
        }
        if (errno != EINTR) {
            RaiseInputOutput(errno);
        }
    }
}

std::string ReadWholeFile(const std::string& path) {
    InputFile file(path);
    std::string bytes;
    char buffer[65536];
    while (const std::size_t count = file.Read(buffer, sizeof buffer)) {
        bytes.append(buffer, count);
    }
    return bytes;
}

WriteNote WriteFileSafely(const std::string& path, std::string_view bytes, SpecialFiles special) {
    if (path.empty()) {
        RaiseInputOutput(ENOENT);
    }
    const std::string target = FollowLinks(path);
    struct stat status {};
    if (::stat(target.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            RaiseInputOutput(errno);
        }
        WriteReplacing(target, bytes, nullptr);
        return WriteNote::None;
    }
    if (S_ISDIR(status.st_mode)) {
        RaiseInputOutput(EISDIR);
    }
    if (!S_ISREG(status.st_mode)) {
        if (special == SpecialFiles::Refuse) {
            throw NotRegularFileError("'" + path + "' is not a regular file: results are saved only to files");
        }
        WriteSpecialFile(target, bytes);
        return WriteNote::None;
    }
    if (!MayWrite(target)) {
        RaiseInputOutput(EACCES);
    }
    if (WriteReplacing(target, bytes, &status)) {
        return status.st_nlink > 1 ? WriteNote::LinksBroken : WriteNote::None;
    }
    WriteInPlace(target, bytes, status);
    return WriteNote::None;
}

void WriteToDescriptor(int fd, std::string_view bytes) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        RaiseInputOutput(errno);
    }
    if (S_ISREG(status.st_mode)) {
        WriteAll(fd, bytes);
    } else {
        WriteToReader(fd, bytes);
    }
}

void SetStopCheck(bool (*stopRequested)()) {
    StopCheck.store(stopRequested, std::memory_order_relaxed);
}

bool SameFile(const std::string& first, const std::string& second) {
    if (first.empty() || second.empty()) {
        return false;
    }
    struct stat a {};
    struct stat b {};
    const bool firstExists = ::stat(first.c_str(), &a) == 0;
    const bool secondExists = ::stat(second.c_str(), &b) == 0;
    if (firstExists || secondExists) {
        return firstExists && secondExists && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    }
    return ResolvedPath(first) == ResolvedPath(second);
}

void CheckWritable(const std::string& path) {
    if (path.empty()) {
        RaiseInputOutput(ENOENT);
    }
    const std::string target = FollowLinks(path);
    struct stat status {};
    if (::stat(target.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            RaiseInputOutput(EISDIR);
        }
        if (!MayWrite(target)) {
            RaiseInputOutput(errno);
        }
        return;
    }
    if (errno != ENOENT) {
        RaiseInputOutput(errno);
    }
    const std::string folder = FolderOf(target);
    if (::stat(folder.c_str(), &status) != 0) {
        RaiseInputOutput(errno);
    }
    if (!S_ISDIR(status.st_mode)) {
        RaiseInputOutput(ENOTDIR);
    }
    if (!MayWrite(folder, W_OK | X_OK)) {
        RaiseInputOutput(errno);
    }
    const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (longest > 0 && NameOf(target).size() > static_cast<std::size_t>(longest)) {
        RaiseInputOutput(ENAMETOOLONG);
    }
}

} // namespace data
} // namespace dravo2
