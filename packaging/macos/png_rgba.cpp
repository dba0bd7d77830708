// png_rgba IN OUT: rewrites a PNG as 8-bit RGBA, through libpng. png2icns
// takes only such PNGs, and the render tool writes indexed ones. OUT is
// written whole or not at all (libpng's simplified API writes to a file it
// removes on failure).
#include <png.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: png_rgba IN OUT\n");
        return 2;
    }
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    std::vector<png_byte> pixels;
    bool done = png_image_begin_read_from_file(&image, argv[1]) != 0;
    if (done) {
        image.format = PNG_FORMAT_RGBA;
        pixels.resize(PNG_IMAGE_SIZE(image));
        done = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;
    }
    const std::string temporary = std::string(argv[2]) + ".part";
    if (done) {
        done =
            png_image_write_to_file(&image, temporary.c_str(), 0, pixels.data(), 0, nullptr) != 0 &&
            std::rename(temporary.c_str(), argv[2]) == 0;
    }
    if (!done) {
        std::fprintf(stderr, "png_rgba: %s: %s\n", argv[1],
                     image.message[0] != '\0' ? image.message : "cannot write the copy");
        std::remove(temporary.c_str());
        png_image_free(&image);
        return 1;
    }
    return 0;
}
