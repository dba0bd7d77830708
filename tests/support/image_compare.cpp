// image_compare: compares decoded PNG pixels, never file bytes, since two
// encoders may write the same pixels differently.
//
//   image_compare same A.png B.png [--require-lit]
//       A and B have the same size and the same RGB pixels.
//   image_compare window CLIENT.png CANVAS.png [--require-lit]
//       CLIENT, a window's client area, shows CANVAS from its top-left corner
//       on: equal over the part both cover, white (the class background)
//       where the client area reaches past the canvas.
// With --require-lit, what was compared must hold at least one lit
// (non-black) pixel of the figure, so that two empty images, or an all-black
// window over an empty corner, cannot pass.
//
// Prints one summary line, and the first differing pixels. Exit status: 0
// equal, 1 different or unreadable, 2 bad usage.
#include <stb_image.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tests/support/pixel_diff.h"

namespace {

const char kProgram[] = "image_compare";

struct StbFree {
    void operator()(unsigned char* data) const { stbi_image_free(data); }
};

bool Load(const char* path, Image* image, std::unique_ptr<unsigned char, StbFree>* storage) {
    int width = 0, height = 0, channels = 0;
    unsigned char* data = stbi_load(path, &width, &height, &channels, 3);
    if (data == nullptr) {
        std::fprintf(stderr, "%s: cannot read '%s': %s\n", kProgram, path, stbi_failure_reason());
        return false;
    }
    storage->reset(data);
    image->width = width;
    image->height = height;
    image->rgb = data;
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: %s same A.png B.png [--require-lit]\n"
                 "       %s window CLIENT.png CANVAS.png [--require-lit]\n",
                 kProgram, kProgram);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        return Usage();
    }
    const std::string mode = argv[1];
    bool require_lit = false;
    if (mode != "same" && mode != "window") {
        return Usage();
    }
    if (argc == 5 && std::strcmp(argv[4], "--require-lit") == 0) {
        require_lit = true;
    } else if (argc != 4) {
        return Usage();
    }

    Image a, b;
    std::unique_ptr<unsigned char, StbFree> a_storage, b_storage;
    if (!Load(argv[2], &a, &a_storage) || !Load(argv[3], &b, &b_storage)) {
        return 1;
    }
    PixelDiff diff = mode == "same" ? CompareSame(a, b) : CompareWindow(a, b);
    std::fputs(DescribeDiff(diff, argv[2], argv[3]).c_str(), stdout);
    if (!diff.Equal()) {
        return 1;
    }
    if (require_lit && diff.lit == 0) {
        std::printf("%s: no lit pixel in the compared part: the figure is not there\n", kProgram);
        return 1;
    }
    return 0;
}
