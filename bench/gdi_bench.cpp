// The software GDI's whole-canvas fills and copies beside memset and memcpy
// of the same bytes, at 3840x2160 (the largest screen the program expects).
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
