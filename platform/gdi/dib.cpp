// GetDIBits: bitmap pixels as a 32-bit device-independent bitmap.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/gdi/objects.h"

namespace gdi = platform::gdi;

namespace {

std::uint64_t Stride(std::int64_t width, int bitsPerPixel) {
    return ((static_cast<std::uint64_t>(width) * bitsPerPixel + 31) / 32) * 4;
}

DWORD ImageSize(const BITMAPINFOHEADER& header) {
    const std::int64_t height =
        header.biHeight < 0 ? -std::int64_t(header.biHeight) : header.biHeight;
    return static_cast<DWORD>(Stride(std::max<std::int64_t>(header.biWidth, 0), header.biBitCount) *
                              static_cast<std::uint64_t>(height));
}

// Fills `header` with the bitmap's own format, as a query with biBitCount 0
// asks for.
int DescribeBitmap(const gdi::Bitmap& bitmap, BITMAPINFOHEADER& header) {
    header.biWidth = bitmap.width;
    header.biHeight = bitmap.height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(bitmap.bitsPerPixel);
    header.biCompression = bitmap.bitsPerPixel == 32 ? BI_BITFIELDS : BI_RGB;
    header.biSizeImage = ImageSize(header);
    header.biXPelsPerMeter = 0;
    header.biYPelsPerMeter = 0;
    header.biClrUsed = 0;
    header.biClrImportant = 0;
    return bitmap.height;
}

// Writes buffer rows [first, last) of a DIB with `stride` bytes per row as
// zeros, keeping to rows [0, rows).
void ZeroRows(BYTE* bits, std::uint64_t stride, std::int64_t first, std::int64_t last,
              std::int64_t rows) {
    first = std::max<std::int64_t>(first, 0);
    last = std::min(last, rows);
    if (first < last) {
        std::memset(bits + static_cast<std::size_t>(first) * stride, 0,
                    static_cast<std::size_t>((last - first) * stride));
    }
}

}  // namespace

int WINAPI GetDIBits(HDC hdc, HBITMAP hbitmap, UINT startScan, UINT scanLines, LPVOID bits,
                     LPBITMAPINFO info, UINT usage) {
    if (info == nullptr || info->bmiHeader.biSize < sizeof(BITMAPINFOHEADER) ||
        usage > DIB_PAL_COLORS) {
        return 0;
    }
    const gdi::Bitmap* bitmap = gdi::LookupBitmap(hbitmap);
    if (gdi::LookupDc(hdc) == nullptr || bitmap == nullptr) {
        return 0;
    }
    BITMAPINFOHEADER& header = info->bmiHeader;
    const std::int64_t dibWidth = header.biWidth;
    const std::int64_t dibHeight =
        header.biHeight < 0 ? -std::int64_t(header.biHeight) : header.biHeight;
    std::int64_t lines = scanLines;
    const std::int64_t start = startScan;
    if (lines == 0 || start >= dibHeight) {
        bits = nullptr;
    }
    if (bits == nullptr && header.biBitCount == 0) {
        return DescribeBitmap(*bitmap, header);
    }
    // Only 32-bit uncompressed pixels are produced.
    if (dibWidth <= 0 || dibHeight == 0 || header.biCompression != BI_RGB ||
        header.biBitCount != 32 || (scanLines != 0 && header.biPlanes == 0)) {
        return 0;
    }
    header.biClrUsed = 0;
    header.biSizeImage = ImageSize(header);
    if (bits == nullptr) {
        return 1;
    }

    // The rows asked for, as a window of rows counted from the top of a DIB
    // `dibHeight` rows high; `offset` maps window rows to bitmap rows. Scan
    // lines are counted from the bottom in both orientations, as on Windows.
    const bool topDown = header.biHeight < 0;
    std::int64_t windowTop = 0;
    std::int64_t windowBottom = dibHeight;
    std::int64_t offset;
    if (!topDown) {
        offset = -start;
        lines = std::min(lines, dibHeight - start);
        windowTop = dibHeight - lines;
    } else {
        offset = dibHeight - lines - start;
        if (offset < 0) {
            offset = 0;
            lines = dibHeight - start;
        }
        windowBottom = std::min(lines, dibHeight);
    }
    const std::int64_t srcTop = std::max<std::int64_t>(windowTop + offset, 0);
    const std::int64_t srcBottom = std::min<std::int64_t>(windowBottom + offset, bitmap->height);
    const std::int64_t columns = std::min<std::int64_t>(dibWidth, bitmap->width);
    // Rows past the bitmap's last row come out as zeros.
    const std::int64_t visibleBottom = srcBottom - offset;
    const std::uint64_t stride = Stride(dibWidth, 32);
    BYTE* out = static_cast<BYTE*>(bits);
    if (!topDown) {
        ZeroRows(out, stride, 0, std::min(dibHeight - visibleBottom, lines), lines);
    } else {
        ZeroRows(out, stride, visibleBottom, visibleBottom + std::min(lines - visibleBottom, lines),
                 lines);
    }
    if (srcTop >= srcBottom || columns <= 0) {
        return 0;
    }

    for (std::int64_t row = srcTop; row < srcBottom; ++row) {
        // Buffer row of bitmap row `row`: window row row - offset, stored
        // top first or bottom first.
        const std::int64_t windowRow = row - offset;
        const std::int64_t bufferRow = topDown ? windowRow : dibHeight - 1 - windowRow;
        std::uint32_t* dst =
            reinterpret_cast<std::uint32_t*>(out + static_cast<std::size_t>(bufferRow) * stride);
        const std::uint32_t* src =
            bitmap->pixels.get() +
            static_cast<std::size_t>(row) * static_cast<std::size_t>(bitmap->width);
        std::memcpy(dst, src, static_cast<std::size_t>(columns) * sizeof(std::uint32_t));
        std::fill(dst + columns, dst + dibWidth, 0u);
    }
    return static_cast<int>(srcBottom - srcTop);
}
