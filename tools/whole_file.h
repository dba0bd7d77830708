// Files the render tool writes appear whole or not at all: they are written
// under a temporary name beside the target, then renamed into place.
#ifndef OSTREVANE_TOOLS_WHOLE_FILE_H
#define OSTREVANE_TOOLS_WHOLE_FILE_H

#include <string>

// A fresh temporary name beside `path`: on the same file system, so that the
// final rename is atomic, and random, so that two runs writing the same file
// keep apart.
std::string TemporaryPathFor(const std::string& path);

// Renames the finished `temporary` to `path`. On failure removes
// `temporary`, sets `error` and returns false.
bool MoveIntoPlace(const std::string& temporary, const std::string& path, std::string* error);

#endif  // OSTREVANE_TOOLS_WHOLE_FILE_H
