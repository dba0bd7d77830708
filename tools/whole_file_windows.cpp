// The output of Windows builds. Devices (NUL, CON) and pipes are written in
// place; a file is moved into place with MoveFileExA, over the old one
// (keeping its attributes) only when there was one when writing began. A
// read-only file is refused, as Windows refuses to replace it.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdint>

#include "tools/whole_file.h"

namespace {

// What a replaced file keeps of its attributes.
const DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

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
    // a file on a disk, and a file that may be replaced from one that may
    // not (read-only, a folder, in use).
    HANDLE existing = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND) {
            *error = Message(code);
            return false;
        }
    } else if (GetFileType(existing) != FILE_TYPE_DISK) {
        stream_ = StreamOf(existing);
        if (stream_ == nullptr) {
            *error = Message(ERROR_INVALID_HANDLE);
            return false;
        }
        return true;
    } else {
        CloseHandle(existing);
        // Read-only is refused even where the handle opens (an
        // administrator's, or Wine's run by root).
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            *error = Message(attributes == INVALID_FILE_ATTRIBUTES ? GetLastError()
                                                                   : ERROR_ACCESS_DENIED);
            return false;
        }
        mode_ = static_cast<int>(attributes & kKeptAttributes);
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

bool OutputFile::Settle() { return _commit(_fileno(stream_)) == 0; }

bool OutputFile::MoveIntoPlace(std::string* error) {
    // A rename, atomic on one volume; the new file takes the old one's
    // attributes first.
    if (mode_ > 0) {
        SetFileAttributesA(temporary_.c_str(), static_cast<DWORD>(mode_));
    }
    if (!MoveFileExA(temporary_.c_str(), target_.c_str(),
                     (mode_ >= 0 ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH)) {
        *error = Message(GetLastError());
        return false;
    }
    temporary_.clear();
    return true;
}
