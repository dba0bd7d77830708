// Handles, device contexts, selection and deletion.
#include <gtest/gtest.h>

#include <windows.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "tests/platform_gdi/gdi_test_support.h"

namespace {

using gdi_test::Canvas;
using gdi_test::FormatOf;
using gdi_test::Screen;

HGDIOBJ Forge(std::uintptr_t value) { return reinterpret_cast<HGDIOBJ>(value); }

// Every function taking a device context fails with its documented value
// when given `handle` for one.
void ExpectNotADc(HGDIOBJ handle) {
    HDC asDc = static_cast<HDC>(handle);
    Canvas canvas(4, 4);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    EXPECT_EQ(SelectObject(asDc, GetStockObject(BLACK_PEN)), nullptr);
    if (asDc != nullptr) {  // CreateCompatibleDC(NULL) means the screen
        EXPECT_EQ(CreateCompatibleDC(asDc), nullptr);
    }
    EXPECT_EQ(CreateCompatibleBitmap(asDc, 2, 2), nullptr);
    EXPECT_FALSE(PatBlt(asDc, 0, 0, 1, 1, BLACKNESS));
    EXPECT_FALSE(BitBlt(asDc, 0, 0, 1, 1, canvas.dc, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(canvas.dc, 0, 0, 1, 1, asDc, 0, 0, SRCCOPY));
    EXPECT_FALSE(MoveToEx(asDc, 1, 1, nullptr));
    EXPECT_FALSE(LineTo(asDc, 2, 2));
    EXPECT_EQ(GetPixel(asDc, 0, 0), CLR_INVALID);
    EXPECT_EQ(GetDIBits(asDc, canvas.bitmap, 0, 0, nullptr, &info, DIB_RGB_COLORS), 0);
    EXPECT_FALSE(DeleteDC(asDc));
}

// ... and every function taking an object or a bitmap.
void ExpectNoObject(HGDIOBJ handle) {
    ExpectNotADc(handle);
    Canvas canvas(4, 4);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    EXPECT_EQ(SelectObject(canvas.dc, handle), nullptr);
    EXPECT_EQ(GetDIBits(canvas.dc, static_cast<HBITMAP>(handle), 0, 0, nullptr, &info, 0), 0);
    EXPECT_FALSE(DeleteObject(handle));
}

TEST(GdiHandleTest, ForgedHandlesFailEverywhere) {
    for (std::uintptr_t value : {std::uintptr_t(1), std::uintptr_t(0x10), std::uintptr_t(0x1234),
                                 std::uintptr_t(0xDEADBEEF), ~std::uintptr_t(0)}) {
        ExpectNoObject(Forge(value));
    }
    ExpectNoObject(nullptr);
    // Near misses of a live handle: other bits, other generation.
    HPEN pen = CreatePen(PS_SOLID, 1, 0);
    const std::uintptr_t live = reinterpret_cast<std::uintptr_t>(pen);
    for (std::uintptr_t value :
         {live ^ (std::uintptr_t(1) << 22), live ^ (std::uintptr_t(1) << 24), live ^ 1}) {
        ExpectNoObject(Forge(value));
    }
    EXPECT_TRUE(DeleteObject(pen));
}

TEST(GdiHandleTest, WrongKindsAreRejected) {
    HPEN pen = CreatePen(PS_SOLID, 1, 0);
    Canvas other(2, 2);
    ExpectNotADc(pen);
    ExpectNotADc(other.bitmap);
    EXPECT_EQ(SelectObject(other.dc, other.dc), nullptr);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    EXPECT_EQ(GetDIBits(other.dc, reinterpret_cast<HBITMAP>(pen), 0, 0, nullptr, &info, 0), 0);
    EXPECT_EQ(GetDIBits(other.dc, reinterpret_cast<HBITMAP>(other.dc), 0, 0, nullptr, &info, 0), 0);
    EXPECT_TRUE(DeleteObject(pen));
}

TEST(GdiHandleTest, DeletedHandlesStayDeadWhenSlotsAreReused) {
    HPEN pen = CreatePen(PS_SOLID, 1, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_TRUE(DeleteObject(pen));
    ASSERT_TRUE(DeleteDC(dc));
    std::vector<HGDIOBJ> churn;
    for (int i = 0; i < 5000; ++i) {
        churn.push_back(CreateSolidBrush(RGB(i, 0, 0)));
        churn.push_back(CreateCompatibleDC(nullptr));
    }
    ExpectNoObject(pen);
    ExpectNoObject(dc);
    for (HGDIOBJ h : churn) {
        EXPECT_TRUE(DeleteObject(h));
    }
}

TEST(GdiSelectTest, FreshMemoryDcHoldsBlackPenWhiteBrushAndDefaultBitmap) {
    HDC dc = CreateCompatibleDC(nullptr);
    HPEN pen = CreatePen(PS_SOLID, 0, RGB(1, 2, 3));
    HBRUSH brush = CreateSolidBrush(RGB(4, 5, 6));
    HBITMAP bitmap = CreateCompatibleBitmap(Screen(), 3, 3);
    EXPECT_EQ(SelectObject(dc, pen), GetStockObject(BLACK_PEN));
    EXPECT_EQ(SelectObject(dc, brush), GetStockObject(WHITE_BRUSH));
    const HGDIOBJ defaultBitmap = SelectObject(dc, bitmap);
    const auto format = FormatOf(static_cast<HBITMAP>(defaultBitmap));
    EXPECT_EQ(format.width, 1);
    EXPECT_EQ(format.bitsPerPixel, 1);
    // Selecting the current object again returns it; the previous one comes
    // back from the next selection.
    EXPECT_EQ(SelectObject(dc, pen), pen);
    EXPECT_EQ(SelectObject(dc, GetStockObject(WHITE_PEN)), pen);
    EXPECT_EQ(SelectObject(dc, defaultBitmap), bitmap);
    EXPECT_TRUE(DeleteDC(dc));
    for (HGDIOBJ h :
         {static_cast<HGDIOBJ>(pen), static_cast<HGDIOBJ>(brush), static_cast<HGDIOBJ>(bitmap)}) {
        EXPECT_TRUE(DeleteObject(h));
    }
}

TEST(GdiSelectTest, BitmapsGoIntoOneMemoryDcAtATime) {
    Canvas a(3, 3);
    HDC b = CreateCompatibleDC(a.dc);
    EXPECT_EQ(SelectObject(b, a.bitmap), nullptr);
    EXPECT_EQ(SelectObject(Screen(), a.bitmap), nullptr);  // the screen takes no bitmap
    // The default bitmap is shared; once a.dc lets go, b may take the bitmap.
    const HGDIOBJ defaultBitmap = CreateCompatibleBitmap(a.dc, 0, 0);
    EXPECT_EQ(SelectObject(a.dc, defaultBitmap), a.bitmap);
    EXPECT_EQ(SelectObject(b, a.bitmap), defaultBitmap);
    EXPECT_EQ(SelectObject(b, defaultBitmap), a.bitmap);
    EXPECT_EQ(SelectObject(a.dc, a.bitmap), defaultBitmap);
    EXPECT_TRUE(DeleteDC(b));
}

TEST(GdiDeleteTest, StockObjectsSurviveDeletion) {
    for (int index : {WHITE_BRUSH, BLACK_BRUSH, NULL_BRUSH, WHITE_PEN, BLACK_PEN, NULL_PEN}) {
        HGDIOBJ stock = GetStockObject(index);
        ASSERT_NE(stock, nullptr);
        EXPECT_TRUE(DeleteObject(stock));
        EXPECT_EQ(GetStockObject(index), stock);
    }
    Canvas canvas(2, 2);
    SelectObject(canvas.dc, GetStockObject(WHITE_BRUSH));
    EXPECT_TRUE(PatBlt(canvas.dc, 0, 0, 2, 2, PATCOPY));
    EXPECT_EQ(canvas.Count(0x00FFFFFF), 4);
    for (int unknown : {-1, 9, 10, 21, 1000}) {
        EXPECT_EQ(GetStockObject(unknown), nullptr) << unknown;
    }
}

TEST(GdiDeleteTest, SelectedObjectsGoWhenLetGo) {
    Canvas canvas(4, 2);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    SelectObject(canvas.dc, pen);
    EXPECT_TRUE(DeleteObject(pen));
    MoveToEx(canvas.dc, 0, 0, nullptr);
    EXPECT_TRUE(LineTo(canvas.dc, 4, 0));  // still drawing with it
    EXPECT_EQ(canvas.Count(gdi_test::kRed), 4);
    EXPECT_EQ(SelectObject(canvas.dc, GetStockObject(BLACK_PEN)), pen);
    EXPECT_FALSE(DeleteObject(pen));  // gone now
    EXPECT_EQ(SelectObject(canvas.dc, pen), nullptr);

    // A bitmap whose deletion is pending goes with its device context.
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(Screen(), 2, 2);
    SelectObject(dc, bitmap);
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_TRUE(PatBlt(dc, 0, 0, 2, 2, WHITENESS));
    EXPECT_EQ(GetPixel(dc, 1, 1), RGB(255, 255, 255));
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_EQ(FormatOf(bitmap).width, 0);
    EXPECT_FALSE(DeleteObject(bitmap));
}

TEST(GdiDeleteTest, DeleteObjectTakesDeviceContextsToo) {
    HDC dc = CreateCompatibleDC(nullptr);
    EXPECT_TRUE(DeleteObject(dc));
    EXPECT_FALSE(DeleteDC(dc));
}

TEST(GdiBitmapTest, CompatibleBitmapsFollowTheReferenceDc) {
    EXPECT_EQ(FormatOf(CreateCompatibleBitmap(Screen(), 5, 3)).bitsPerPixel, 32);
    Canvas colour(2, 2);
    HBITMAP fromColour = CreateCompatibleBitmap(colour.dc, 6, 7);
    EXPECT_EQ(FormatOf(fromColour).bitsPerPixel, 32);
    EXPECT_EQ(FormatOf(fromColour).height, 7);
    HDC fresh = CreateCompatibleDC(nullptr);
    HBITMAP mono = CreateCompatibleBitmap(fresh, 6, 7);
    EXPECT_EQ(FormatOf(mono).bitsPerPixel, 1);
    SelectObject(fresh, mono);
    EXPECT_EQ(FormatOf(CreateCompatibleBitmap(fresh, 1, 1)).bitsPerPixel, 1);
    EXPECT_TRUE(DeleteDC(fresh));
    EXPECT_TRUE(DeleteObject(mono));
    EXPECT_TRUE(DeleteObject(fromColour));
}

TEST(GdiBitmapTest, EmptyNegativeAndOversizedRequests) {
    // Zero width or height gives the shared 1x1 monochrome bitmap, as on
    // Windows; it is a stock object.
    HBITMAP empty = CreateCompatibleBitmap(Screen(), 0, 5);
    EXPECT_EQ(CreateCompatibleBitmap(Screen(), 7, 0), empty);
    EXPECT_EQ(FormatOf(empty).bitsPerPixel, 1);
    EXPECT_TRUE(DeleteObject(empty));
    EXPECT_EQ(FormatOf(empty).width, 1);
    for (auto size : {std::make_pair(-1, 5), std::make_pair(5, -1), std::make_pair(0x8000000, 1),
                      std::make_pair(50000, 50000), std::make_pair(INT_MAX, INT_MAX)}) {
        EXPECT_EQ(CreateCompatibleBitmap(Screen(), size.first, size.second), nullptr)
            << size.first << "x" << size.second;
    }
}

TEST(GdiPenTest, OnlyOnePixelPensAreMade) {
    EXPECT_EQ(CreatePen(PS_NULL, 5, RGB(1, 1, 1)), GetStockObject(NULL_PEN));
    for (int width : {-1, 0, 1}) {
        HPEN pen = CreatePen(PS_SOLID, width, 0);
        EXPECT_NE(pen, nullptr) << width;
        DeleteObject(pen);
    }
    EXPECT_EQ(CreatePen(PS_SOLID, 2, 0), nullptr);
    EXPECT_EQ(CreatePen(PS_DASH, 1, 0), nullptr);
    EXPECT_EQ(CreatePen(42, 1, 0), nullptr);
}

}  // namespace
