// The software GDI's whole-canvas fills and copies beside memset and memcpy
// of the same bytes, at 3840x2160 (the largest screen the program expects),
// and its lines. The canvases are drawn on all over first ("drawn"), so
// that every part of them holds pixels of its own, or filled with one
// colour. bench/gdi_before.sh runs these against an older build.
#include <benchmark/benchmark.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/gdi/screen_dc.h"

namespace {

const int kWidth = 3840;
const int kHeight = 2160;
const std::size_t kBytes = std::size_t(kWidth) * kHeight * sizeof(std::uint32_t);

// A memory device context holding a 32-bit screen-sized bitmap, touched once
// so that its pages exist before timing starts.
struct ScreenCanvas {
    ScreenCanvas() {
        HDC screen = platform::CreateScreenDC();
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
        original = SelectObject(dc, bitmap);
        platform::ReleaseScreenDC(screen);
        PatBlt(dc, 0, 0, kWidth, kHeight, WHITENESS);
    }
    // Draws a vertical line every 16 pixels, so that no part of the canvas
    // is of one colour.
    void Draw() const {
        HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
        HGDIOBJ old = SelectObject(dc, pen);
        for (int x = 0; x < kWidth; x += 16) {
            MoveToEx(dc, x, 0, nullptr);
            LineTo(dc, x, kHeight);
        }
        SelectObject(dc, old);
        DeleteObject(pen);
    }
    ~ScreenCanvas() {
        SelectObject(dc, original);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ original;
};

void BM_PatBltBlackness(benchmark::State& state) {
    ScreenCanvas canvas;
    for (auto _ : state) {
        benchmark::DoNotOptimize(PatBlt(canvas.dc, 0, 0, kWidth, kHeight, BLACKNESS));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_PatBltBlackness)->Unit(benchmark::kMillisecond);

void BM_PatBltBrush(benchmark::State& state) {
    ScreenCanvas canvas;
    HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
    HGDIOBJ original = SelectObject(canvas.dc, brush);
    for (auto _ : state) {
        benchmark::DoNotOptimize(PatBlt(canvas.dc, 0, 0, kWidth, kHeight, PATCOPY));
        benchmark::ClobberMemory();
    }
    SelectObject(canvas.dc, original);
    DeleteObject(brush);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_PatBltBrush)->Unit(benchmark::kMillisecond);

void BM_Memset(benchmark::State& state) {
    std::vector<std::uint32_t> buffer(kBytes / sizeof(std::uint32_t), 1);
    for (auto _ : state) {
        std::memset(buffer.data(), 0, kBytes);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_Memset)->Unit(benchmark::kMillisecond);

void BM_BitBlt(benchmark::State& state) {
    ScreenCanvas source, destination;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            BitBlt(destination.dc, 0, 0, kWidth, kHeight, source.dc, 0, 0, SRCCOPY));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_BitBlt)->Unit(benchmark::kMillisecond);

void BM_BitBltDrawn(benchmark::State& state) {
    ScreenCanvas source, destination;
    source.Draw();
    destination.Draw();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            BitBlt(destination.dc, 0, 0, kWidth, kHeight, source.dc, 0, 0, SRCCOPY));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_BitBltDrawn)->Unit(benchmark::kMillisecond);

// A copy within one canvas, one pixel down and right (rows bottom up).
void BM_BitBltWithin(benchmark::State& state) {
    ScreenCanvas canvas;
    canvas.Draw();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            BitBlt(canvas.dc, 1, 1, kWidth - 1, kHeight - 1, canvas.dc, 0, 0, SRCCOPY));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_BitBltWithin)->Unit(benchmark::kMillisecond);

// An inversion: every pixel read and written.
void BM_PatBltInvertDrawn(benchmark::State& state) {
    ScreenCanvas canvas;
    canvas.Draw();
    for (auto _ : state) {
        benchmark::DoNotOptimize(PatBlt(canvas.dc, 0, 0, kWidth, kHeight, DSTINVERT));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_PatBltInvertDrawn)->Unit(benchmark::kMillisecond);

// A brush fill that leaves a pixel at each tile's edge: no part becomes one
// colour as a whole.
void BM_PatBltBrushPartial(benchmark::State& state) {
    ScreenCanvas canvas;
    canvas.Draw();
    HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
    HGDIOBJ original = SelectObject(canvas.dc, brush);
    for (auto _ : state) {
        for (int y = 0; y < kHeight; y += 32) {
            benchmark::DoNotOptimize(PatBlt(canvas.dc, 1, y + 1, kWidth - 2, 31, PATCOPY));
        }
        benchmark::ClobberMemory();
    }
    SelectObject(canvas.dc, original);
    DeleteObject(brush);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_PatBltBrushPartial)->Unit(benchmark::kMillisecond);

// The figure's kind of lines: short segments of every slope, and long ones
// across the canvas, as the line count per second.
void BM_Lines(benchmark::State& state) {
    ScreenCanvas canvas;
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HGDIOBJ original = SelectObject(canvas.dc, pen);
    const int kShort = 20000;
    for (auto _ : state) {
        for (int i = 0; i < kShort; ++i) {
            const int x = (i * 7919) % kWidth;
            const int y = (i * 104729) % kHeight;
            MoveToEx(canvas.dc, x, y, nullptr);
            LineTo(canvas.dc, x + (i % 7) - 3, y + (i % 5) - 2);
        }
        for (int i = 0; i < 200; ++i) {
            MoveToEx(canvas.dc, 0, (i * 37) % kHeight, nullptr);
            LineTo(canvas.dc, kWidth - 1, (i * 53) % kHeight);
        }
        benchmark::ClobberMemory();
    }
    SelectObject(canvas.dc, original);
    DeleteObject(pen);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * (kShort + 200)));
}
BENCHMARK(BM_Lines)->Unit(benchmark::kMillisecond);

void BM_Memcpy(benchmark::State& state) {
    std::vector<std::uint32_t> source(kBytes / sizeof(std::uint32_t), 1);
    std::vector<std::uint32_t> destination(kBytes / sizeof(std::uint32_t), 2);
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), kBytes);
        benchmark::DoNotOptimize(destination.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
