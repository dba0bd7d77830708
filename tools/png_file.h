// Writing a canvas to a PNG file without ever leaving a partial file.
#ifndef OSTREVANE_TOOLS_PNG_FILE_H
#define OSTREVANE_TOOLS_PNG_FILE_H

#include <cstdint>
#include <string>
#include <vector>

// Writes `pixels` (0x00RRGGBB, rows top to bottom) as an RGB PNG. The data
// goes to a temporary file beside `path`, which then replaces `path`; on any
// failure the temporary file is removed, `path` is untouched, and `error`
// says why.
bool WritePngFile(const std::string& path, const std::vector<std::uint32_t>& pixels, int width,
                  int height, std::string* error);

#endif  // OSTREVANE_TOOLS_PNG_FILE_H
