// What writing an output does on every platform; whole_file_posix.cpp and
// whole_file_windows.cpp open it and move it into place.
#include "tools/whole_file.h"

#include <cerrno>
#include <cstring>
#include <random>

std::string TemporaryPathFor(const std::string& path) {
    std::random_device random;
    return path + ".tmp-" + std::to_string(random()) + std::to_string(random());
}

OutputFile::~OutputFile() { Abandon(); }

bool OutputFile::Commit(std::string* error) {
    if (stream_ == nullptr) {
        *error = std::strerror(EBADF);
        return false;
    }
    errno = 0;
    bool written = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    int code = errno;
    if (written && !temporary_.empty() && !Settle()) {
        written = false;
        code = errno;
    }
    if (!standardOutput_ && std::fclose(stream_) != 0 && written) {
        written = false;
        code = errno;
    }
    stream_ = nullptr;
    standardOutput_ = false;
    if (!written) {
        *error = std::strerror(code != 0 ? code : EIO);
        Abandon();
        return false;
    }
    if (!temporary_.empty() && !MoveIntoPlace(error)) {
        Abandon();
        return false;
    }
    temporary_.clear();
    return true;
}

void OutputFile::Abandon() {
    if (stream_ != nullptr && !standardOutput_) {
        std::fclose(stream_);
    }
    stream_ = nullptr;
    standardOutput_ = false;
    if (!temporary_.empty()) {
        std::remove(temporary_.c_str());
        temporary_.clear();
    }
    mode_ = -1;
    owner_ = group_ = -1;
}
