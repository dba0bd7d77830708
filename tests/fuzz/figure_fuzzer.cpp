// Draws the figure at arbitrary scales and screen sizes within the render
// tool's range. Sanitizers catch undefined behaviour and stray writes; the
// fuzzer's timeout catches an endless start search.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "common/canvas.h"
#include "common/screen_metrics.h"
#include "render/figure.h"
#include "tests/support/win32_test_support.h"

namespace {

template <typename T>
T Take(const std::uint8_t*& data, std::size_t& size) {
    T value{};
    std::size_t n = size < sizeof(T) ? size : sizeof(T);
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

// Canvases above this many pixels get no bitmap: the arithmetic still runs
// in full, only the pixel writes are left out, to keep each run small.
const std::int64_t kMaxPixels = std::int64_t(1) << 24;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int width = 1 + Take<std::uint16_t>(data, size) % 16384;
    int height = 1 + Take<std::uint16_t>(data, size) % 16384;
    double scale = Take<double>(data, size);
    if (!(scale >= 0.1 && scale <= 1000.0)) {
        // Not a usable double: spread the raw bits over the range instead.
        std::uint64_t bits;
        std::memcpy(&bits, &scale, sizeof(bits));
        scale = 0.1 + static_cast<double>(bits >> 11) / 9007199254740992.0 * 999.9;
    }

    test_support::MakeProgramCanvas(width, height, std::int64_t(width) * height <= kMaxPixels);

    DrawFigure(scale);

    DeleteDC(memoryDC);
    DeleteObject(bitmap);
    return 0;
}
