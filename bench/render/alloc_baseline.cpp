// The render tool's baseline: a plain malloc and memset of a canvas of the
// given size, the least any program holding the picture in memory does.
//
//   alloc_baseline WIDTH HEIGHT
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: alloc_baseline WIDTH HEIGHT\n");
        return 2;
    }
    long width = std::atol(argv[1]);
    long height = std::atol(argv[2]);
    if (width < 1 || height < 1 || width > 65536 || height > 65536) {
        std::fprintf(stderr, "alloc_baseline: bad size\n");
        return 2;
    }
    std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
    void* canvas = std::malloc(bytes);
    if (canvas == nullptr) {
        std::fprintf(stderr, "alloc_baseline: out of memory\n");
        return 1;
    }
    // A fill value the compiler cannot see, so that it does not turn the
    // pair into calloc, which would write nothing.
    std::memset(canvas, argv[0][0] == '\1' ? 1 : 0, bytes);
    // Keeps the compiler from dropping the memset of memory never read.
    volatile unsigned char sink = static_cast<unsigned char*>(canvas)[bytes - 1];
    (void)sink;
    std::free(canvas);
    return 0;
}
