// The cost of drawing the figure beside the cost of its arithmetic alone.
#include <benchmark/benchmark.h>

#include <windows.h>

#include "common/canvas.h"
#include "common/screen_metrics.h"
#include "render/figure.h"
#include "tests/support/win32_test_support.h"

namespace {

// The program's figure on a 1920x1080 canvas: sweep, lines and pixels.
void BM_DrawFigure1920x1080(benchmark::State& state) {
    test_support::MakeProgramCanvas(1920, 1080);
    for (auto _ : state) {
        DrawFigure(kFigureScale);
    }
    DeleteDC(memoryDC);
    DeleteObject(bitmap);
}
BENCHMARK(BM_DrawFigure1920x1080)->Unit(benchmark::kMicrosecond);

// Baseline: the same sweep and the same line list, on a device context with
// no bitmap to draw on, so no pixel is written.
void BM_FigureArithmeticOnly(benchmark::State& state) {
    test_support::MakeProgramCanvas(1920, 1080, false);
    for (auto _ : state) {
        DrawFigure(kFigureScale);
    }
    DeleteDC(memoryDC);
}
BENCHMARK(BM_FigureArithmeticOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
