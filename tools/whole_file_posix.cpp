// The output of POSIX builds.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "tools/whole_file.h"

namespace {

// Symbolic links followed before giving up, as the kernel does (ELOOP).
const int kMaxLinks = 40;
// How long a FIFO is waited for a reader before the tool gives up.
const auto kFifoWait = std::chrono::seconds(10);
const auto kFifoPoll = std::chrono::milliseconds(20);

std::string DirectoryOf(const std::string& path) {
    std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The name the symbolic links from `path` end at (which need not exist).
// `throughProc` tells whether one of them lies under /proc, as /dev/stdout's
// and /dev/fd/N's do: those name open files, not places for a new one.
bool FollowLinks(std::string path, std::string* target, bool* throughProc, std::string* error) {
    *throughProc = false;
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat status;
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            *target = path;
            return true;
        }
        *throughProc = *throughProc || path.compare(0, 6, "/proc/") == 0;
        char link[4096];
        ssize_t length = readlink(path.c_str(), link, sizeof(link));
        if (length < 0 || length == static_cast<ssize_t>(sizeof(link))) {
            *error = std::strerror(length < 0 ? errno : ENAMETOOLONG);
            return false;
        }
        std::string next(link, static_cast<std::size_t>(length));
        path = !next.empty() && next[0] == '/' ? next : DirectoryOf(path) + "/" + next;
    }
    *error = std::strerror(ELOOP);
    return false;
}

int ConnectTo(const std::string& path) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket >= 0 &&
        connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        int code = errno;
        close(socket);
        errno = code;
        return -1;
    }
    return socket;
}

// Opens what `path` names for writing where it is: a device, a FIFO, a
// socket, or a file reached through /proc (truncated, as the shell's `>`
// does). A FIFO is waited for until something reads it, for a while.
int OpenInPlace(const std::string& path, mode_t type, std::string* error) {
    int descriptor = -1;
    if (S_ISSOCK(type)) {
        descriptor = ConnectTo(path);
    } else {
        int flags = O_WRONLY | O_NOCTTY | O_CLOEXEC | (S_ISREG(type) ? O_TRUNC : O_NONBLOCK);
        auto deadline = std::chrono::steady_clock::now() + kFifoWait;
        while ((descriptor = open(path.c_str(), flags)) < 0 && errno == ENXIO && S_ISFIFO(type) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kFifoPoll);
        }
        if (descriptor >= 0) {
            fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
        }
    }
    if (descriptor < 0) {
        *error =
            errno == ENXIO && S_ISFIFO(type) ? "nothing is reading the FIFO" : std::strerror(errno);
    }
    return descriptor;
}

}  // namespace

bool OutputFile::Open(const std::string& path, std::string* error) {
    Abandon();
    // A reader that goes away is a failed write to report (EPIPE), not a
    // signal that ends the tool.
    signal(SIGPIPE, SIG_IGN);
    if (path == kStandardOutput) {
        stream_ = stdout;
        standardOutput_ = true;
        return true;
    }
    struct stat status;
    bool exists = stat(path.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) {
        *error = std::strerror(EISDIR);
        return false;
    }
    std::string target;
    bool throughProc = false;
    if (!FollowLinks(path, &target, &throughProc, error)) {
        return false;
    }
    int descriptor = -1;
    if (exists && (!S_ISREG(status.st_mode) || throughProc)) {
        descriptor = OpenInPlace(path, status.st_mode, error);
        if (descriptor < 0) {
            return false;
        }
    } else {
        if (exists) {
            mode_ = static_cast<int>(status.st_mode & 07777);
            owner_ = static_cast<long>(status.st_uid);
            group_ = static_cast<long>(status.st_gid);
        }
        // Made with the old file's permissions, so that what replaces a
        // private file is never readable by others on the way.
        mode_t permissions = exists ? static_cast<mode_t>(mode_ & 0777) : 0666;
        for (int attempt = 0; descriptor < 0; ++attempt) {
            temporary_ = TemporaryPathFor(target);
            descriptor = open(temporary_.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, permissions);
            if (descriptor < 0 && (errno != EEXIST || attempt == 100)) {
                *error = std::strerror(errno);
                temporary_.clear();
                return false;
            }
        }
        target_ = target;
    }
    stream_ = fdopen(descriptor, "wb");
    if (stream_ == nullptr) {
        *error = std::strerror(errno);
        close(descriptor);
        Abandon();
        return false;
    }
    return true;
}

bool OutputFile::Settle() {
    int descriptor = fileno(stream_);
    // The old file's owner and group where the tool may set them; set-id
    // bits only with the owner they were given for.
    if (owner_ >= 0 &&
        fchown(descriptor, static_cast<uid_t>(owner_), static_cast<gid_t>(group_)) != 0) {
        if (fchown(descriptor, static_cast<uid_t>(-1), static_cast<gid_t>(group_)) != 0) {
            // Neither: the file is the tool's user's, in its group.
        }
        mode_ &= 0777;
    }
    return (mode_ < 0 || fchmod(descriptor, static_cast<mode_t>(mode_)) == 0) &&
           fsync(descriptor) == 0;
}

bool OutputFile::MoveIntoPlace(std::string* error) {
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    temporary_.clear();
    // The rename lasts once the directory is on the disk too.
    int directory = open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool synced = directory >= 0 && (fsync(directory) == 0 || errno == EINVAL);
    int code = errno;
    if (directory >= 0) {
        close(directory);
    }
    if (!synced) {
        *error = std::string("the file is in place, but its folder cannot be synced: ") +
                 std::strerror(code);
    }
    return synced;
}
