// Canvases and readers shared by the GDI tests. Everything goes through the
// Win32 functions, as the program uses them.
#ifndef OSTREVANE_TESTS_PLATFORM_GDI_GDI_TEST_SUPPORT_H
#define OSTREVANE_TESTS_PLATFORM_GDI_GDI_TEST_SUPPORT_H

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/gdi/screen_dc.h"
#include "tests/support/win32_test_support.h"

namespace gdi_test {

inline HDC Screen() {
    static HDC screen = platform::CreateScreenDC();
    return screen;
}

// Width, height and bits per pixel of a bitmap, as GetDIBits reports them.
struct Format {
    long width = 0, height = 0;
    int bitsPerPixel = 0;
};

inline Format FormatOf(HBITMAP bitmap) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    Format format;
    if (GetDIBits(Screen(), bitmap, 0, 0, nullptr, &info, DIB_RGB_COLORS) != 0) {
        format = Format{info.bmiHeader.biWidth, info.bmiHeader.biHeight, info.bmiHeader.biBitCount};
    }
    return format;
}

// A memory device context holding a bitmap of its own: 32-bit, or
// monochrome when made from a fresh memory device context.
struct Canvas {
    Canvas(int w, int h, bool mono = false) : width(w), height(h) {
        dc = CreateCompatibleDC(Screen());
        bitmap = CreateCompatibleBitmap(mono ? dc : Screen(), w, h);
        original = SelectObject(dc, bitmap);
    }
    ~Canvas() {
        SelectObject(dc, original);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // All pixels, rows from the top, 0x00RRGGBB.
    std::vector<std::uint32_t> Pixels() const {
        return test_support::ReadPixels(dc, bitmap, width, height);
    }
    std::uint32_t At(int x, int y) const { return Pixels()[static_cast<size_t>(y) * width + x]; }
    int Count(std::uint32_t value) const {
        const std::vector<std::uint32_t> pixels = Pixels();
        return static_cast<int>(std::count(pixels.begin(), pixels.end(), value));
    }
    // Gives every pixel a different colour.
    void Paint() const {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                HBRUSH brush = CreateSolidBrush(RGB(x * 8 + 1, y * 8 + 2, 3));
                HGDIOBJ old = SelectObject(dc, brush);
                PatBlt(dc, x, y, 1, 1, PATCOPY);
                SelectObject(dc, old);
                DeleteObject(brush);
            }
        }
    }

    int width, height;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ original;
};

const std::uint32_t kRed = 0x00FF0000;  // RGB(255, 0, 0) as a pixel

}  // namespace gdi_test

#endif  // OSTREVANE_TESTS_PLATFORM_GDI_GDI_TEST_SUPPORT_H
