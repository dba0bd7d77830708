// Lines, fills, copies, pixels, DIB reads and window surfaces, through the
// Win32 functions.
#include <gtest/gtest.h>

#include <platform_extras.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/gdi/surface.h"
#include "tests/platform_gdi/gdi_test_support.h"

namespace {

using gdi_test::Canvas;
using gdi_test::kRed;
using gdi_test::Screen;

const std::uint32_t kWhite = 0x00FFFFFF;

void Select(const Canvas& c, HGDIOBJ object) { SelectObject(c.dc, object); }

TEST(GdiLineTest, DrawsThePenColourAndMovesTheCurrentPosition) {
    Canvas c(8, 4);
    HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    Select(c, red);
    POINT previous = {-1, -1};
    EXPECT_TRUE(MoveToEx(c.dc, 1, 1, &previous));
    EXPECT_EQ(previous.x, 0);
    EXPECT_EQ(previous.y, 0);
    EXPECT_TRUE(LineTo(c.dc, 5, 1));
    EXPECT_EQ(c.At(1, 1), kRed);  // 0x00RRGGBB in memory
    EXPECT_EQ(c.At(4, 1), kRed);
    EXPECT_EQ(c.At(5, 1), 0u);  // the end point is left out
    EXPECT_EQ(c.Count(kRed), 4);
    EXPECT_EQ(GetPixel(c.dc, 2, 1), RGB(255, 0, 0));
    MoveToEx(c.dc, 0, 0, &previous);
    EXPECT_EQ(previous.x, 5);
    EXPECT_EQ(previous.y, 1);
    Select(c, GetStockObject(NULL_PEN));
    EXPECT_TRUE(LineTo(c.dc, 7, 3));
    EXPECT_EQ(c.Count(kRed), 4);
    Select(c, GetStockObject(BLACK_PEN));
    DeleteObject(red);
}

TEST(GdiLineTest, HugeLinesLightOnlyTheirVisiblePixels) {
    Canvas c(64, 48);
    Select(c, CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
    const std::array<int, 5> lines[] = {{INT_MIN, 10, INT_MAX, 10, 64},
                                        {INT_MAX - 1, 10, INT_MIN, 10, 64},
                                        {20, INT_MIN, 20, INT_MAX, 48},
                                        {-(1 << 30), -(1 << 30), 1 << 30, 1 << 30, 48},
                                        {INT_MIN, INT_MAX, INT_MAX, INT_MIN, 0}};
    for (const auto& l : lines) {
        PatBlt(c.dc, 0, 0, 64, 48, BLACKNESS);
        MoveToEx(c.dc, l[0], l[1], nullptr);
        EXPECT_TRUE(LineTo(c.dc, l[2], l[3]));
        EXPECT_EQ(c.Count(kRed), l[4]) << l[0] << " " << l[1] << " " << l[2] << " " << l[3];
    }
    DeleteObject(SelectObject(c.dc, GetStockObject(BLACK_PEN)));
}

struct LineLog {
    HDC dc = nullptr;
    std::vector<std::array<int, 4>> calls;
    std::vector<COLORREF> startPixels;
    bool deleteDc = false;
};

void RecordLine(void* context, int x0, int y0, int x1, int y1) {
    LineLog& log = *static_cast<LineLog*>(context);
    log.calls.push_back({x0, y0, x1, y1});
    log.startPixels.push_back(GetPixel(log.dc, x0, y0));
    if (log.deleteDc) {
        DeleteDC(log.dc);
    }
}

TEST(GdiLineTest, ObserverSeesEveryLineBeforeItIsDrawn) {
    Canvas c(8, 8);
    Select(c, GetStockObject(WHITE_PEN));
    LineLog log;
    log.dc = c.dc;
    EXPECT_FALSE(
        PlatformObserveLines(reinterpret_cast<HDC>(std::uintptr_t(0x4321)), RecordLine, &log));
    ASSERT_TRUE(PlatformObserveLines(c.dc, RecordLine, &log));
    MoveToEx(c.dc, 2, 2, nullptr);
    LineTo(c.dc, 6, 2);
    LineTo(c.dc, 6, 6);
    Select(c, GetStockObject(NULL_PEN));
    LineTo(c.dc, 6, 6);
    ASSERT_EQ(log.calls.size(), 3u);
    EXPECT_EQ(log.calls[0], (std::array<int, 4>{2, 2, 6, 2}));
    EXPECT_EQ(log.calls[1], (std::array<int, 4>{6, 2, 6, 6}));
    EXPECT_EQ(log.calls[2], (std::array<int, 4>{6, 6, 6, 6}));
    EXPECT_EQ(log.startPixels[0], RGB(0, 0, 0));
    EXPECT_EQ(log.startPixels[1], RGB(0, 0, 0));
    ASSERT_TRUE(PlatformObserveLines(c.dc, nullptr, nullptr));
    LineTo(c.dc, 1, 1);
    EXPECT_EQ(log.calls.size(), 3u);

    // An observer may delete the device context it watches.
    LineLog deleting;
    deleting.dc = CreateCompatibleDC(nullptr);
    deleting.deleteDc = true;
    PlatformObserveLines(deleting.dc, RecordLine, &deleting);
    EXPECT_FALSE(LineTo(deleting.dc, 3, 3));
    EXPECT_EQ(deleting.calls.size(), 1u);
    EXPECT_FALSE(DeleteDC(deleting.dc));
}

TEST(GdiLineTest, DeviceContextsWithoutPixelsDrawNothing) {
    HDC fresh = CreateCompatibleDC(nullptr);  // still on the 1x1 default bitmap
    EXPECT_TRUE(PatBlt(fresh, 0, 0, 1, 1, WHITENESS));
    EXPECT_TRUE(LineTo(fresh, 3, 0));
    EXPECT_EQ(GetPixel(fresh, 0, 0), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(fresh, 1, 0), CLR_INVALID);
    EXPECT_TRUE(PatBlt(Screen(), 0, 0, 10, 10, WHITENESS));
    EXPECT_TRUE(LineTo(Screen(), 10, 10));
    EXPECT_EQ(GetPixel(Screen(), 0, 0), CLR_INVALID);
    Canvas c(2, 2);
    EXPECT_TRUE(BitBlt(c.dc, 0, 0, 2, 2, Screen(), 0, 0, SRCCOPY));
    EXPECT_EQ(GetPixel(c.dc, -1, 0), CLR_INVALID);
    EXPECT_EQ(GetPixel(c.dc, 0, 2), CLR_INVALID);
    DeleteDC(fresh);
}

TEST(GdiMonoTest, ColoursBecomeBlackOrWhite) {
    Canvas m(16, 11, true);
    PatBlt(m.dc, 0, 0, 16, 11, WHITENESS);
    Select(m, CreatePen(PS_SOLID, 1, RGB(255, 0, 0)));
    MoveToEx(m.dc, 0, 0, nullptr);
    LineTo(m.dc, 16, 0);
    EXPECT_EQ(m.Count(0), 16);  // any colour but white draws black
    DeleteObject(SelectObject(m.dc, GetStockObject(WHITE_PEN)));
    LineTo(m.dc, -1, 0);
    EXPECT_EQ(m.Count(kWhite), 16 * 11);
    // Brushes other than black and white are dithered in an 8x8 pattern
    // fixed to the device origin: mid grey is half white.
    Select(m, CreateSolidBrush(RGB(128, 128, 128)));
    PatBlt(m.dc, 3, 2, 8, 8, PATCOPY);
    EXPECT_EQ(m.Count(kWhite), 16 * 11 - 32);
    EXPECT_EQ(m.At(8, 8), 0u);      // threshold 0 at (0, 0) mod 8
    EXPECT_EQ(m.At(9, 8), kWhite);  // 32 at (1, 0)
    EXPECT_EQ(m.At(3, 3), 0u);      // 20 at (3, 3)
    EXPECT_EQ(m.At(4, 3), kWhite);  // 62 at (4, 3)
    DeleteObject(SelectObject(m.dc, GetStockObject(WHITE_BRUSH)));
    // From colour, only white stays white.
    Canvas c(2, 1);
    PatBlt(c.dc, 0, 0, 1, 1, WHITENESS);
    Select(c, CreateSolidBrush(RGB(255, 255, 254)));
    PatBlt(c.dc, 1, 0, 1, 1, PATCOPY);
    BitBlt(m.dc, 0, 0, 2, 1, c.dc, 0, 0, SRCCOPY);
    EXPECT_EQ(m.At(0, 0), kWhite);
    EXPECT_EQ(m.At(1, 0), 0u);
    DeleteObject(SelectObject(c.dc, GetStockObject(WHITE_BRUSH)));
}

TEST(GdiPatBltTest, NegativeExtentsCoverTheCellsUpToTheOrigin) {
    Canvas c(10, 8);
    EXPECT_TRUE(PatBlt(c.dc, 5, 5, -3, -2, WHITENESS));
    EXPECT_EQ(c.Count(kWhite), 6);
    EXPECT_EQ(c.At(3, 4), kWhite);
    EXPECT_EQ(c.At(5, 5), kWhite);
    EXPECT_EQ(c.At(2, 4), 0u);
    EXPECT_EQ(c.At(5, 6), 0u);
}

TEST(GdiPatBltTest, ClipsToTheBitmapWhateverTheExtent) {
    Canvas c(10, 8);
    EXPECT_TRUE(PatBlt(c.dc, -3, -3, 5, 5, WHITENESS));
    EXPECT_EQ(c.Count(kWhite), 4);
    EXPECT_TRUE(PatBlt(c.dc, INT_MIN, INT_MIN, INT_MAX, INT_MAX, WHITENESS));  // ends at -1
    EXPECT_TRUE(PatBlt(c.dc, INT_MAX, 1, -5, 2, WHITENESS));
    EXPECT_TRUE(PatBlt(c.dc, 3, 3, 0, 4, WHITENESS));
    EXPECT_EQ(c.Count(kWhite), 4);
    EXPECT_TRUE(PatBlt(c.dc, 9, 7, INT_MIN, INT_MIN, WHITENESS));
    EXPECT_EQ(c.Count(kWhite), 80);
}

TEST(GdiPatBltTest, RasterOperationsWithTheBrush) {
    Canvas c(4, 4);
    Select(c, CreateSolidBrush(RGB(0x12, 0x34, 0x56)));
    EXPECT_TRUE(PatBlt(c.dc, 0, 0, 4, 4, PATCOPY));
    EXPECT_EQ(c.At(1, 1), 0x00123456u);
    EXPECT_TRUE(PatBlt(c.dc, 0, 0, 2, 4, PATINVERT));
    EXPECT_EQ(c.At(1, 1), 0u);
    EXPECT_TRUE(PatBlt(c.dc, 0, 0, 4, 4, DSTINVERT));
    EXPECT_EQ(c.At(1, 1), kWhite);
    EXPECT_EQ(c.At(3, 1), 0x00EDCBA9u);
    EXPECT_FALSE(PatBlt(c.dc, 0, 0, 4, 4, SRCCOPY));  // needs a source
    DeleteObject(SelectObject(c.dc, GetStockObject(NULL_BRUSH)));
    EXPECT_TRUE(PatBlt(c.dc, 0, 0, 4, 4, PATCOPY));  // a hollow brush paints nothing
    EXPECT_EQ(c.At(3, 1), 0x00EDCBA9u);
    EXPECT_TRUE(PatBlt(c.dc, 0, 0, 4, 4, BLACKNESS));  // but the brush is not needed here
    EXPECT_EQ(c.Count(0), 16);
}

TEST(GdiBitBltTest, CopiesOnlyWhereSourceAndDestinationOverlap) {
    Canvas src(4, 3);
    src.Paint();
    const auto s = src.Pixels();
    Canvas dst(8, 8);
    EXPECT_TRUE(BitBlt(dst.dc, 0, 0, 8, 8, src.dc, -2, -1, SRCCOPY));
    EXPECT_TRUE(BitBlt(dst.dc, 7, 7, 5, 5, src.dc, 0, 0, SRCCOPY));
    const auto d = dst.Pixels();
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            std::uint32_t expected = 0;
            if (x >= 2 && x < 6 && y >= 1 && y < 4) {
                expected = s[(y - 1) * 4 + (x - 2)];
            } else if (x == 7 && y == 7) {
                expected = s[0];
            }
            ASSERT_EQ(d[y * 8 + x], expected) << x << "," << y;
        }
    }
    // Negative extents: the same normalisation on both sides, no mirroring.
    PatBlt(dst.dc, 0, 0, 8, 8, BLACKNESS);
    EXPECT_TRUE(BitBlt(dst.dc, 6, 6, -3, -3, src.dc, 3, 2, SRCCOPY));
    EXPECT_EQ(dst.At(4, 4), s[1]);
    EXPECT_EQ(dst.At(6, 6), s[2 * 4 + 3]);
    EXPECT_EQ(dst.Count(0), 64 - 9);
}

TEST(GdiBitBltTest, OverlappingCopiesWithinOneBitmap) {
    Canvas c(9, 7);
    const int shifts[][2] = {{1, 1}, {-1, -1}, {2, -1}, {-2, 1}, {0, 1}, {1, 0}, {0, -1}, {-1, 0}};
    for (const auto& shift : shifts) {
        c.Paint();
        const auto before = c.Pixels();
        ASSERT_TRUE(BitBlt(c.dc, 1 + shift[0], 1 + shift[1], 6, 4, c.dc, 1, 1, SRCCOPY));
        auto expected = before;
        for (int y = 1; y < 5; ++y) {
            for (int x = 1; x < 7; ++x) {
                const int toX = x + shift[0], toY = y + shift[1];
                if (toX >= 0 && toY >= 0) {  // the rest is clipped away
                    expected[toY * 9 + toX] = before[y * 9 + x];
                }
            }
        }
        EXPECT_EQ(c.Pixels(), expected) << shift[0] << "," << shift[1];
    }
}

TEST(GdiBitBltTest, SourceOperationsAndMissingSources) {
    Canvas a(3, 3), b(3, 3);
    a.Paint();
    BitBlt(b.dc, 0, 0, 3, 3, a.dc, 0, 0, SRCCOPY);
    EXPECT_TRUE(BitBlt(b.dc, 0, 0, 3, 2, a.dc, 0, 0, 0x00660046));  // SRCINVERT
    EXPECT_EQ(b.Count(0), 6);
    EXPECT_FALSE(BitBlt(b.dc, 0, 0, 3, 3, nullptr, 0, 0, SRCCOPY));
    EXPECT_TRUE(BitBlt(b.dc, 0, 0, 3, 3, nullptr, 0, 0, BLACKNESS));
    EXPECT_EQ(b.Count(0), 9);
}

TEST(GdiDibTest, RowsComeTopDownOrBottomUpCountingScansFromTheBottom) {
    Canvas c(3, 5);
    c.Paint();
    auto pixel = [&](int x, int y) {
        const COLORREF rgb = GetPixel(c.dc, x, y);
        return std::uint32_t(GetRValue(rgb)) << 16 | std::uint32_t(GetGValue(rgb)) << 8 |
               GetBValue(rgb);
    };
    std::vector<std::uint32_t> buffer(15, 0xAAAAAAAA);
    BITMAPINFO info = test_support::Dib32Info(3, 5);
    ASSERT_EQ(GetDIBits(c.dc, c.bitmap, 0, 5, buffer.data(), &info, DIB_RGB_COLORS), 5);
    EXPECT_EQ(buffer[0], pixel(0, 4));  // bottom row first
    EXPECT_EQ(buffer[14], pixel(2, 0));
    info = test_support::Dib32Info(3, -5);
    ASSERT_EQ(GetDIBits(c.dc, c.bitmap, 0, 5, buffer.data(), &info, DIB_RGB_COLORS), 5);
    EXPECT_EQ(buffer[0], pixel(0, 0));
    EXPECT_EQ(buffer[14], pixel(2, 4));
    // Scans 1 and 2 from the bottom, in either orientation.
    std::fill(buffer.begin(), buffer.end(), 0xAAAAAAAA);
    info = test_support::Dib32Info(3, 5);
    EXPECT_EQ(GetDIBits(c.dc, c.bitmap, 1, 2, buffer.data(), &info, DIB_RGB_COLORS), 2);
    EXPECT_EQ(buffer[0], pixel(0, 3));
    EXPECT_EQ(buffer[3], pixel(0, 2));
    EXPECT_EQ(buffer[6], 0xAAAAAAAAu);
    info = test_support::Dib32Info(3, -5);
    EXPECT_EQ(GetDIBits(c.dc, c.bitmap, 1, 2, buffer.data(), &info, DIB_RGB_COLORS), 2);
    EXPECT_EQ(buffer[0], pixel(0, 2));
    EXPECT_EQ(buffer[3], pixel(0, 3));
    // A DIB larger than the bitmap: rows and columns beyond it are zeros.
    std::vector<std::uint32_t> large(4 * 7, 0xAAAAAAAA);
    info = test_support::Dib32Info(4, 7);
    EXPECT_EQ(GetDIBits(c.dc, c.bitmap, 0, 7, large.data(), &info, DIB_RGB_COLORS), 5);
    EXPECT_EQ(large[0], 0u);
    EXPECT_EQ(large[7], 0u);
    EXPECT_EQ(large[8], pixel(0, 4));
    EXPECT_EQ(large[11], 0u);
    EXPECT_EQ(large[27], 0u);
}

TEST(GdiDibTest, HeaderQueriesAndUnsupportedRequests) {
    Canvas c(3, 5);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    EXPECT_EQ(GetDIBits(c.dc, c.bitmap, 0, 5, nullptr, &info, DIB_RGB_COLORS), 5);
    EXPECT_EQ(info.bmiHeader.biWidth, 3);
    EXPECT_EQ(info.bmiHeader.biHeight, 5);
    EXPECT_EQ(info.bmiHeader.biBitCount, 32);
    EXPECT_EQ(info.bmiHeader.biCompression, DWORD(BI_BITFIELDS));
    EXPECT_EQ(info.bmiHeader.biSizeImage, 60u);
    info = test_support::Dib32Info(3, -5);
    EXPECT_EQ(GetDIBits(c.dc, c.bitmap, 0, 5, nullptr, &info, DIB_RGB_COLORS), 1);
    EXPECT_EQ(info.bmiHeader.biSizeImage, 60u);

    std::vector<std::uint32_t> buffer(15, 0xAAAAAAAA);
    const auto untouched = buffer;
    auto attempt = [&](void (*change)(BITMAPINFO&), UINT usage) {
        BITMAPINFO request = test_support::Dib32Info(3, -5);
        change(request);
        return GetDIBits(c.dc, c.bitmap, 0, 5, buffer.data(), &request, usage);
    };
    EXPECT_EQ(attempt([](BITMAPINFO& i) { i.bmiHeader.biBitCount = 24; }, 0), 0);
    EXPECT_EQ(attempt([](BITMAPINFO& i) { i.bmiHeader.biCompression = BI_BITFIELDS; }, 0), 0);
    EXPECT_EQ(attempt([](BITMAPINFO& i) { i.bmiHeader.biSize = 12; }, 0), 0);
    EXPECT_EQ(attempt([](BITMAPINFO& i) { i.bmiHeader.biWidth = 0; }, 0), 0);
    EXPECT_EQ(attempt([](BITMAPINFO& i) { i.bmiHeader.biPlanes = 0; }, 0), 0);
    EXPECT_EQ(attempt([](BITMAPINFO&) {}, 2), 0);
    EXPECT_EQ(buffer, untouched);
    EXPECT_EQ(GetDIBits(c.dc, c.bitmap, 0, 5, buffer.data(), nullptr, 0), 0);
}

struct SurfaceLog {
    std::vector<RECT> changes;
};

void RecordChange(void* context, const RECT& area) {
    static_cast<SurfaceLog*>(context)->changes.push_back(area);
}

// Lends `pixels` to `surface` as a window's client area of the given size;
// changes are reported to `log`, if any.
void Lend(platform::Surface* surface, std::vector<std::uint32_t>& pixels, int width, int height,
          SurfaceLog* log) {
    surface->pixels = pixels.data();
    surface->width = width;
    surface->height = height;
    surface->changed = log != nullptr ? RecordChange : nullptr;
    surface->context = log;
}

bool Same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(GdiSurfaceTest, DrawsIntoTheSurfaceUntilDetached) {
    std::vector<std::uint32_t> pixels(6 * 4, 0), resized(3 * 3, 7);
    SurfaceLog log;
    platform::Surface surface;
    Lend(&surface, pixels, 6, 4, &log);
    EXPECT_EQ(platform::CreateSurfaceDC(nullptr), nullptr);
    HDC dc = platform::CreateSurfaceDC(&surface);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(gdi_test::FormatOf(CreateCompatibleBitmap(dc, 2, 2)).bitsPerPixel, 32);

    PatBlt(dc, -2, -2, 4, 4, WHITENESS);
    SelectObject(dc, GetStockObject(WHITE_PEN));
    MoveToEx(dc, 0, 3, nullptr);
    LineTo(dc, 100, 3);
    LineTo(dc, 100, 0);  // entirely outside: nothing to report
    EXPECT_EQ(pixels[0], kWhite);
    EXPECT_EQ(pixels[3 * 6 + 5], kWhite);
    ASSERT_EQ(log.changes.size(), 2u);
    EXPECT_TRUE(Same(log.changes[0], RECT{0, 0, 2, 2}));
    EXPECT_TRUE(Same(log.changes[1], RECT{0, 3, 6, 4}));
    Canvas copy(6, 4);
    BitBlt(copy.dc, 0, 0, 6, 4, dc, 0, 0, SRCCOPY);
    EXPECT_EQ(copy.Count(kWhite), 4 + 6);

    // The window manager may swap the buffer between calls. A fill of the
    // whole surface is written when the surface is settled.
    surface.pixels = resized.data();
    surface.width = surface.height = 3;
    PatBlt(dc, 0, 0, 10, 10, BLACKNESS);
    platform::SettleSurface(&surface);
    EXPECT_EQ(resized, std::vector<std::uint32_t>(9, 0));
    EXPECT_TRUE(Same(log.changes.back(), RECT{0, 0, 3, 3}));

    platform::DetachSurface(&surface);
    const std::size_t reported = log.changes.size();
    EXPECT_TRUE(PatBlt(dc, 0, 0, 3, 3, WHITENESS));
    EXPECT_TRUE(LineTo(dc, 0, 0));
    EXPECT_EQ(resized, std::vector<std::uint32_t>(9, 0));
    EXPECT_EQ(log.changes.size(), reported);
    EXPECT_EQ(GetPixel(dc, 0, 0), CLR_INVALID);
    EXPECT_TRUE(DeleteDC(dc));
}

// What a surface shows, row by row, once settled.
std::vector<std::uint32_t> Shown(platform::Surface& surface) {
    platform::SettleSurface(&surface);
    std::vector<std::uint32_t> shown;
    for (int y = 0; y < surface.height; ++y) {
        const std::uint32_t* row = platform::SurfaceRow(surface, y);
        shown.insert(shown.end(), row, row + surface.width);
    }
    return shown;
}

// Part of a canvas, as a surface of that size would show it.
std::vector<std::uint32_t> Part(const Canvas& canvas, int left, int top, int width, int height) {
    std::vector<std::uint32_t> all = canvas.Pixels(), part;
    for (int y = top; y < top + height; ++y) {
        part.insert(part.end(), all.begin() + y * canvas.width + left,
                    all.begin() + y * canvas.width + left + width);
    }
    return part;
}

// A window's paint erases its whole client area and copies a canvas over
// all of it. Neither is written into the client pixels: the surface shows
// the canvas in place until one of the two is drawn on or the canvas goes.
TEST(GdiSurfaceTest, WholeFillsAndCopiesAreShownUntilEitherSideChanges) {
    std::vector<std::uint32_t> pixels(6 * 4, 7);
    SurfaceLog log;
    platform::Surface surface;
    Lend(&surface, pixels, 6, 4, &log);
    HDC dc = platform::CreateSurfaceDC(&surface);
    auto canvas = std::make_unique<Canvas>(8, 6);
    canvas->Paint();
    const std::vector<std::uint32_t> part = Part(*canvas, 1, 1, 6, 4);
    HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));

    PatBlt(dc, -1, -1, 10, 10, WHITENESS);
    EXPECT_EQ(pixels, std::vector<std::uint32_t>(24, 7));  // not written yet
    BitBlt(dc, 0, 0, 6, 4, canvas->dc, 1, 1, SRCCOPY);
    EXPECT_EQ(pixels, std::vector<std::uint32_t>(24, 7));  // the fill was never needed
    EXPECT_EQ(Shown(surface), part);
    ASSERT_EQ(log.changes.size(), 2u);
    EXPECT_TRUE(Same(log.changes[0], RECT{0, 0, 6, 4}));
    EXPECT_TRUE(Same(log.changes[1], RECT{0, 0, 6, 4}));
    // Reading the window's pixels takes the copy.
    EXPECT_EQ(GetPixel(dc, 5, 3), RGB(6 * 8 + 1, 4 * 8 + 2, 3));
    EXPECT_EQ(pixels, part);

    // The canvas drawn on: the surface keeps what it showed.
    BitBlt(dc, 0, 0, 6, 4, canvas->dc, 1, 1, SRCCOPY);
    std::fill(pixels.begin(), pixels.end(), 7);
    HGDIOBJ old = SelectObject(canvas->dc, red);
    MoveToEx(canvas->dc, 0, 1, nullptr);
    LineTo(canvas->dc, 8, 1);
    EXPECT_EQ(pixels, part);
    EXPECT_EQ(Shown(surface), part);

    // The surface drawn on: it draws over its own copy; the canvas keeps
    // its pixels.
    const std::vector<std::uint32_t> before = canvas->Pixels();
    BitBlt(dc, 0, 0, 6, 4, canvas->dc, 0, 0, SRCCOPY);
    SelectObject(dc, red);
    MoveToEx(dc, 0, 3, nullptr);
    LineTo(dc, 6, 3);
    std::vector<std::uint32_t> expected = Part(*canvas, 0, 0, 6, 4);
    std::fill(expected.begin() + 18, expected.end(), gdi_test::kRed);
    EXPECT_EQ(Shown(surface), expected);
    EXPECT_EQ(canvas->Pixels(), before);

    // A copy that leaves part of the surface alone is written at once.
    PatBlt(dc, 0, 0, 6, 4, BLACKNESS);
    BitBlt(dc, 1, 0, 6, 4, canvas->dc, 0, 0, SRCCOPY);
    EXPECT_EQ(pixels[0], 0u);
    EXPECT_EQ(pixels[1], canvas->At(0, 0));
    EXPECT_EQ(Shown(surface), pixels);

    // The canvas deleted while shown (its deletion waits for its DC).
    BitBlt(dc, 0, 0, 6, 4, canvas->dc, 2, 2, SRCCOPY);
    const std::vector<std::uint32_t> last = Part(*canvas, 2, 2, 6, 4);
    SelectObject(canvas->dc, old);
    canvas.reset();
    EXPECT_EQ(pixels, last);
    EXPECT_EQ(Shown(surface), last);

    // A surface that goes away while showing a bitmap is forgotten by it.
    Canvas other(6, 4);
    auto gone = std::make_unique<platform::Surface>();
    std::vector<std::uint32_t> gonePixels(6 * 4, 7);
    Lend(gone.get(), gonePixels, 6, 4, nullptr);
    HDC goneDc = platform::CreateSurfaceDC(gone.get());
    BitBlt(goneDc, 0, 0, 6, 4, other.dc, 0, 0, SRCCOPY);
    platform::DetachSurface(gone.get());
    gone.reset();
    PatBlt(other.dc, 0, 0, 6, 4, WHITENESS);
    EXPECT_EQ(gonePixels, std::vector<std::uint32_t>(24, 7));
    DeleteDC(goneDc);

    platform::DetachSurface(&surface);
    SelectObject(dc, GetStockObject(BLACK_PEN));
    DeleteObject(red);
    DeleteDC(dc);
}

// A surface showing a bitmap knows where it is still all black (what was
// never drawn on), so that a display need not read the pixels there.
TEST(GdiSurfaceTest, KnowsWhereAShownBitmapIsStillBlack) {
    std::vector<std::uint32_t> pixels(6 * 4, 7);
    platform::Surface surface;
    Lend(&surface, pixels, 6, 4, nullptr);
    HDC dc = platform::CreateSurfaceDC(&surface);
    Canvas white(2, 2);
    PatBlt(white.dc, 0, 0, 2, 2, WHITENESS);
    HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    // Each drawn on a fresh 8x6 canvas, which the surface shows from (1, 1).
    const struct {
        const char* name;
        std::function<void(HDC)> draw;
    } cases[] = {
        {"nothing", [](HDC) {}},
        {"black fill", [](HDC c) { PatBlt(c, 0, 0, 8, 6, BLACKNESS); }},
        {"line",
         [&](HDC c) {
             SelectObject(c, red);
             MoveToEx(c, 2, 2, nullptr);
             LineTo(c, 5, 4);
         }},
        {"fill, clipped", [](HDC c) { PatBlt(c, 6, 0, 2, 6, WHITENESS); }},
        {"copy", [&](HDC c) { BitBlt(c, 0, 4, 2, 2, white.dc, 0, 0, SRCCOPY); }},
        {"outside the part shown", [](HDC c) { PatBlt(c, 0, 0, 1, 6, WHITENESS); }},
    };
    for (const auto& c : cases) {
        Canvas canvas(8, 6);
        HGDIOBJ pen = SelectObject(canvas.dc, GetStockObject(BLACK_PEN));
        c.draw(canvas.dc);
        BitBlt(dc, 0, 0, 6, 4, canvas.dc, 1, 1, SRCCOPY);
        ASSERT_NE(surface.view, nullptr) << c.name;
        // Exactly the bounds of what is not black.
        const std::vector<std::uint32_t> shown = Shown(surface);
        RECT ink = {6, 4, 0, 0};
        for (int i = 0; i < 6 * 4; ++i) {
            if (shown[i] != 0) {
                ink = RECT{std::min<LONG>(ink.left, i % 6), std::min<LONG>(ink.top, i / 6),
                           std::max<LONG>(ink.right, i % 6 + 1),
                           std::max<LONG>(ink.bottom, i / 6 + 1)};
            }
        }
        EXPECT_TRUE(Same(platform::SurfaceInk(surface), ink.left < ink.right ? ink : RECT{}))
            << c.name;
        SelectObject(canvas.dc, pen);
    }
    EXPECT_EQ(surface.view, nullptr);  // the last canvas took its view away
    EXPECT_TRUE(Same(platform::SurfaceInk(surface), RECT{0, 0, 6, 4}));
    platform::DetachSurface(&surface);
    DeleteObject(red);
    DeleteDC(dc);
}

// A fresh bitmap skips black fills while all its pixels are still zero;
// every way of writing a pixel must end that, or later black fills would
// leave colour behind.
TEST(GdiBlackFillTest, BlackCoversWhateverDrewBefore) {
    Canvas source(4, 4);
    PatBlt(source.dc, 0, 0, 4, 4, WHITENESS);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    const struct {
        const char* how;
        void (*draw)(HDC dc, HDC source, HPEN pen, HBRUSH brush);
    } writers[] = {
        {"a line",
         [](HDC dc, HDC, HPEN pen, HBRUSH) {
             HGDIOBJ old = SelectObject(dc, pen);
             MoveToEx(dc, 0, 1, nullptr);
             LineTo(dc, 16, 1);
             SelectObject(dc, old);
         }},
        {"a copy",
         [](HDC dc, HDC source, HPEN, HBRUSH) { BitBlt(dc, 2, 2, 4, 4, source, 0, 0, SRCCOPY); }},
        {"a brush fill",
         [](HDC dc, HDC, HPEN, HBRUSH brush) {
             HGDIOBJ old = SelectObject(dc, brush);
             PatBlt(dc, 1, 1, 3, 3, PATCOPY);
             SelectObject(dc, old);
         }},
        {"whiteness", [](HDC dc, HDC, HPEN, HBRUSH) { PatBlt(dc, 0, 0, 2, 2, WHITENESS); }},
        {"an inversion", [](HDC dc, HDC, HPEN, HBRUSH) { PatBlt(dc, 0, 0, 2, 2, DSTINVERT); }},
    };
    for (const auto& writer : writers) {
        Canvas c(16, 8);
        // Black on the fresh bitmap, then the writer, then black again.
        EXPECT_TRUE(PatBlt(c.dc, 0, 0, 16, 8, BLACKNESS));
        EXPECT_EQ(c.Count(0u), 16 * 8);
        writer.draw(c.dc, source.dc, pen, red);
        EXPECT_LT(c.Count(0u), 16 * 8) << writer.how << " drew nothing";
        HGDIOBJ old = SelectObject(c.dc, GetStockObject(BLACK_BRUSH));
        EXPECT_TRUE(PatBlt(c.dc, 0, 0, 16, 8, PATCOPY));
        SelectObject(c.dc, old);
        EXPECT_EQ(c.Count(0u), 16 * 8) << "black after " << writer.how;
    }
    DeleteObject(pen);
    DeleteObject(red);
}

// Bitmaps of several MiB live in memory of their own (2 MiB-aligned, huge
// pages where the system has them): zeros at first, every pixel writable.
TEST(GdiBlackFillTest, LargeBitmapsStartBlackAndKeepEveryPixel) {
    Canvas c(1500, 1100);  // 6.3 MiB
    std::vector<std::uint32_t> pixels = c.Pixels();
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0u), 1500 * 1100);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HGDIOBJ old = SelectObject(c.dc, brush);
    PatBlt(c.dc, 0, 0, 1500, 1100, PATCOPY);
    PatBlt(c.dc, 1499, 1099, 1, 1, WHITENESS);
    SelectObject(c.dc, old);
    DeleteObject(brush);
    pixels = c.Pixels();
    EXPECT_EQ(std::count(pixels.begin(), pixels.end(), 0x00010203u), 1500 * 1100 - 1);
    EXPECT_EQ(pixels.back(), 0x00FFFFFFu);
}

}  // namespace
