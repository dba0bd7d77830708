// The output of Windows builds. Devices (NUL, CON) and pipes are written in
// place; a file is replaced by ReplaceFileA, which keeps the old file's
// attributes and security, or moved into place when it is new.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdint>

#include "tools/whole_file.h"

namespace {

// The system's one-line message for `code`, without its final full stop.
std::string Message(DWORD code) {
    char* text = nullptr;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string message = length != 0 ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    for (char& c : message) {
        if (c == '\r' || c == '\n') {
            c = ' ';
        }
    }
    while (!message.empty() && (message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

// A binary stream over `handle`, which it then owns; null if there is none.
std::FILE* StreamOf(HANDLE handle) {
    int descriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* stream = _fdopen(descriptor, "wb");
    if (stream == nullptr) {
        _close(descriptor);
    }
    return stream;
}

}  // namespace

OutputFile::~OutputFile() { Abandon(); }

bool OutputFile::Open(const std::string& path, std::string* error) {
    Abandon();
    if (path == kStandardOutput) {
        // PNG data is binary: no line ending may be translated.
        _setmode(_fileno(stdout), _O_BINARY);
        stream_ = stdout;
        standardOutput_ = true;
        return true;
    }
    // Opening what exists changes nothing; it tells a device or a pipe from
    // a file on a disk.
    HANDLE existing = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        if (GetFileType(existing) != FILE_TYPE_DISK) {
            stream_ = StreamOf(existing);
            if (stream_ == nullptr) {
                *error = Message(ERROR_INVALID_HANDLE);
                return false;
            }
            return true;
        }
        CloseHandle(existing);
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    for (int attempt = 0; handle == INVALID_HANDLE_VALUE; ++attempt) {
        temporary_ = TemporaryPathFor(path);
        handle = CreateFileA(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD code = GetLastError();
        if (handle == INVALID_HANDLE_VALUE &&
            ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt == 100)) {
            *error = Message(code);
            temporary_.clear();
            return false;
        }
    }
    target_ = path;
    stream_ = StreamOf(handle);
    if (stream_ == nullptr) {
        *error = Message(ERROR_INVALID_HANDLE);
        Abandon();
        return false;
    }
    return true;
}

bool OutputFile::Commit(std::string* error) {
    if (stream_ == nullptr) {
        *error = Message(ERROR_INVALID_HANDLE);
        return false;
    }
    // The run-time library keeps the system's code of a failed write.
    _doserrno = 0;
    bool written = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    DWORD code = _doserrno;
    if (standardOutput_) {
        stream_ = nullptr;
        standardOutput_ = false;
    } else {
        if (written && !temporary_.empty() && _commit(_fileno(stream_)) != 0) {
            written = false;
            code = _doserrno;
        }
        if (std::fclose(stream_) != 0 && written) {
            written = false;
            code = _doserrno;
        }
        stream_ = nullptr;
    }
    if (!written) {
        *error = Message(code != 0 ? code : ERROR_WRITE_FAULT);
        Abandon();
        return false;
    }
    if (temporary_.empty()) {
        return true;
    }
    // ReplaceFileA needs a file to replace; a new one is moved into place,
    // never over one that appeared meanwhile.
    if (!ReplaceFileA(target_.c_str(), temporary_.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                      nullptr, nullptr)) {
        code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND ||
            !MoveFileExA(temporary_.c_str(), target_.c_str(), MOVEFILE_WRITE_THROUGH)) {
            if (code == ERROR_FILE_NOT_FOUND) {
                code = GetLastError();
            }
            *error = Message(code);
            Abandon();
            return false;
        }
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
        DeleteFileA(temporary_.c_str());
        temporary_.clear();
    }
}
