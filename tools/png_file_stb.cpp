// The PNG writer of Windows builds: the stb single-file encoder, given the
// whole image at once.
#include "tools/png_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

#include "tools/whole_file.h"

namespace {

struct Sink {
    std::FILE* file;
    bool failed;
    int code;  // errno of the failed write
};

void WriteToSink(void* context, void* data, int size) {
    Sink* sink = static_cast<Sink*>(context);
    if (!sink->failed && std::fwrite(data, 1, static_cast<std::size_t>(size), sink->file) !=
                             static_cast<std::size_t>(size)) {
        sink->failed = true;
        sink->code = errno;
    }
}

}  // namespace

bool WritePngFile(const std::string& path, int width, int height, const PngRowReader& readRows,
                  std::string* error) {
    if (width < 1 || height < 1) {
        *error = "bad image size";
        return false;
    }
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    if (!readRows(0, height, pixels.data())) {
        *error = "cannot read the image";
        return false;
    }
    return WritePngFile(path, pixels, width, height, error);
}

bool WritePngFile(const std::string& path, const std::vector<std::uint32_t>& pixels, int width,
                  int height, std::string* error) {
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0, n = static_cast<std::size_t>(width) * height; i < n; ++i) {
        rgb[3 * i + 0] = static_cast<unsigned char>(pixels[i] >> 16);
        rgb[3 * i + 1] = static_cast<unsigned char>(pixels[i] >> 8);
        rgb[3 * i + 2] = static_cast<unsigned char>(pixels[i]);
    }

    OutputFile output;
    if (!output.Open(path, error)) {
        return false;
    }
    Sink sink{output.stream(), false, 0};
    int encoded =
        stbi_write_png_to_func(WriteToSink, &sink, width, height, 3, rgb.data(), width * 3);
    if (!encoded || sink.failed) {
        *error = !encoded ? "PNG encoding failed" : std::strerror(sink.code != 0 ? sink.code : EIO);
        return false;
    }
    return output.Commit(error);
}
