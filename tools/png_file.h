// Writing a canvas to a PNG file without ever leaving a partial file.
#ifndef OSTREVANE_TOOLS_PNG_FILE_H
#define OSTREVANE_TOOLS_PNG_FILE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Fills `pixels` with rows `first` to `first + count - 1` of the image
// (0x00RRGGBB, `width` pixels per row, rows one after another); false if
// they cannot be read. The writer asks for the rows in order, a band at a
// time, and may read the image more than once.
typedef std::function<bool(int first, int count, std::uint32_t* pixels)> PngRowReader;

// Writes the image as a PNG: indexed, with the image's exact colours as the
// palette and the fewest bits per pixel that hold them, when it has at most
// 256 colours; RGB otherwise. `path` is written as tools/whole_file.h says:
// a file is replaced whole, a device, FIFO or "-" written in place. On any
// failure a file is left as it was, and `error` says why.
bool WritePngFile(const std::string& path, int width, int height, const PngRowReader& readRows,
                  std::string* error);

// The same for an image held whole in memory.
bool WritePngFile(const std::string& path, const std::vector<std::uint32_t>& pixels, int width,
                  int height, std::string* error);

#endif  // OSTREVANE_TOOLS_PNG_FILE_H
