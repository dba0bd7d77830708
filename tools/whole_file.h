// Where the render tool's output goes. A regular file appears whole or not
// at all: it is written under a temporary name beside it, made durable, and
// renamed into place, keeping the old file's permissions (and, where the tool
// may set them, its owner and group). Anything else that already exists (a
// device such as /dev/null or NUL, a FIFO, a socket, the standard output) is
// the user's, not ours to replace: it is opened and written in place.
#ifndef OSTREVANE_TOOLS_WHOLE_FILE_H
#define OSTREVANE_TOOLS_WHOLE_FILE_H

#include <cstdio>
#include <string>

// The name that stands for the standard output.
const char kStandardOutput[] = "-";

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Abandons an output that was not committed.
    ~OutputFile();

    // Opens `path` for writing (kStandardOutput: the standard output). A
    // symbolic link leads to the file it names. On failure sets `error` to
    // the reason and returns false.
    bool Open(const std::string& path, std::string* error);

    // The stream to write to; null before Open.
    std::FILE* stream() const { return stream_; }

    // Ends the writing: checks that everything was written and, for a
    // regular file, syncs it and moves it into place. On failure the
    // temporary file is removed, the old file is as it was, `error` says
    // why, and false is returned.
    bool Commit(std::string* error);

    // Stops writing and removes the temporary file, if there is one.
    void Abandon();

private:
    // The platform's part of committing a temporary file, its stream still
    // open: gives it the old file's metadata and syncs it (false with errno
    // set on failure).
    bool Settle();
    // Then, its stream closed: renames it over the target. False with
    // `error` set when that fails; once the rename is done the temporary
    // name is forgotten, whatever follows.
    bool MoveIntoPlace(std::string* error);

    std::FILE* stream_ = nullptr;
    bool standardOutput_ = false;
    std::string target_;     // the file a regular output replaces
    std::string temporary_;  // empty when writing in place
    int mode_ = -1;          // the old file's permission bits (on Windows its
                             // attributes), or -1 for a new file
    long owner_ = -1, group_ = -1;
};

// A fresh temporary name beside `path`: on the same file system, so that the
// final rename is atomic, and random, so that two runs writing the same file
// keep apart. Whoever uses it creates it exclusively.
std::string TemporaryPathFor(const std::string& path);

#endif  // OSTREVANE_TOOLS_WHOLE_FILE_H
