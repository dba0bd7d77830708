// ostrevane-render: draws the figure exactly as the program does, on an
// off-screen canvas of a given screen size, and saves it as a PNG or prints
// its line list.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/canvas.h"
#include "common/screen_metrics.h"
#include "render/figure.h"
#include "tools/line_recording.h"
#include "tools/png_file.h"
#include "tools/render_options.h"

namespace {

const char kProgram[] = "ostrevane-render";

// Reads rows `first` to `first + count - 1` of the canvas back as
// 0x00RRGGBB pixels, top row first. Scan lines count from the bottom, so the
// band of a top-down DIB as tall as the canvas starts at this scan line.
bool ReadCanvasRows(int width, int height, int first, int count, std::uint32_t* pixels) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return GetDIBits(memoryDC, bitmap, static_cast<UINT>(height - first - count),
                     static_cast<UINT>(count), pixels, &info, DIB_RGB_COLORS) == count;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    RenderOptions options;
    std::string error;
    if (!ParseRenderOptions(args, &options, &error)) {
        std::fprintf(stderr, "%s: %s\n%s", kProgram, error.c_str(), RenderUsage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(RenderUsage().c_str(), stdout);
        return 0;
    }

    // The screen the program would see, and its canvas, made as the window
    // procedure makes it.
    screenWidth = options.width;
    screenHeight = options.height;
    centreX = screenWidth / 2;
    centreY = screenHeight / 2;
    HDC reference = GetDC(NULL);
    memoryDC = CreateCompatibleDC(reference);
    bitmap = CreateCompatibleBitmap(reference, screenWidth, screenHeight);
    ReleaseDC(NULL, reference);
    if (memoryDC == NULL || bitmap == NULL) {
        std::fprintf(stderr, "%s: cannot make a %dx%d canvas\n", kProgram, screenWidth,
                     screenHeight);
        return 1;
    }
    SelectObject(memoryDC, bitmap);
    SelectObject(memoryDC, GetStockObject(BLACK_BRUSH));
    PatBlt(memoryDC, 0, 0, screenWidth, screenHeight, PATCOPY);

    if (options.lines && !RecordLines(memoryDC, stdout)) {
        std::fprintf(stderr, "%s: --lines is not available on this platform\n", kProgram);
        return 2;
    }
    DrawFigure(options.scale);

    int status = 0;
    if (options.lines) {
        if (std::fflush(stdout) != 0) {
            std::fprintf(stderr, "%s: cannot write the line list\n", kProgram);
            status = 1;
        }
    } else {
        // The canvas goes to the encoder a band of rows at a time.
        auto readRows = [](int first, int count, std::uint32_t* pixels) {
            return ReadCanvasRows(screenWidth, screenHeight, first, count, pixels);
        };
        if (!WritePngFile(options.output, screenWidth, screenHeight, readRows, &error)) {
            std::fprintf(stderr, "%s: cannot write '%s': %s\n", kProgram, options.output.c_str(),
                         error.c_str());
            status = 1;
        }
    }
    DeleteDC(memoryDC);
    DeleteObject(bitmap);
    return status;
}
