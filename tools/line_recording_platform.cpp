// Line recording through our own platform layer's observer.
#include <platform_extras.h>

#include "tools/line_recording.h"

namespace {
void PrintLine(void* context, int x0, int y0, int x1, int y1) {
    std::fprintf(static_cast<std::FILE*>(context), "%d %d %d %d\n", x0, y0, x1, y1);
}
}  // namespace

bool RecordLines(HDC hdc, std::FILE* out) {
    return PlatformObserveLines(hdc, PrintLine, out) != FALSE;
}
