// Draws a fixed set of one-pixel lines, each alone on a cleared canvas, and
// prints the pixels each one lit. Built against platform/ and against
// Windows' own GDI (run under Wine); the two outputs must be identical.
//
// Output, one line per drawn line:
//   <canvas> <x0> <y0> <x1> <y1>: <x>,<y> <x>,<y> ...
// listing lit pixels in rows from the top, left to right. A lit pixel that is
// not the pen's red is followed by =RRGGBB; a current position other than the
// end point afterwards is reported as "pos <x>,<y>".
#include <windows.h>

#include <limits.h>
#include <stdio.h>

#include <vector>

namespace {

struct Canvas {
    const char* name;
    int width;
    int height;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    std::vector<DWORD> pixels;
};

bool MakeCanvas(Canvas& canvas, HDC screen) {
    canvas.dc = CreateCompatibleDC(screen);
    canvas.bitmap = CreateCompatibleBitmap(screen, canvas.width, canvas.height);
    if (canvas.dc == NULL || canvas.bitmap == NULL) {
        return false;
    }
    canvas.oldBitmap = SelectObject(canvas.dc, canvas.bitmap);
    canvas.pixels.resize(static_cast<size_t>(canvas.width) * canvas.height);
    return canvas.oldBitmap != NULL;
}

void FreeCanvas(Canvas& canvas) {
    SelectObject(canvas.dc, canvas.oldBitmap);
    DeleteObject(canvas.bitmap);
    DeleteDC(canvas.dc);
}

// Draws (x0, y0) -> (x1, y1) alone and prints what it lit.
bool DrawAndDump(Canvas& canvas, int x0, int y0, int x1, int y1) {
    if (!PatBlt(canvas.dc, 0, 0, canvas.width, canvas.height, BLACKNESS) ||
        !MoveToEx(canvas.dc, x0, y0, NULL) || !LineTo(canvas.dc, x1, y1)) {
        fprintf(stderr, "drawing %d %d %d %d failed\n", x0, y0, x1, y1);
        return false;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = canvas.width;
    info.bmiHeader.biHeight = -canvas.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    if (GetDIBits(canvas.dc, canvas.bitmap, 0, canvas.height, &canvas.pixels[0], &info,
                  DIB_RGB_COLORS) != canvas.height) {
        fprintf(stderr, "reading %d %d %d %d failed\n", x0, y0, x1, y1);
        return false;
    }
    printf("%s %d %d %d %d:", canvas.name, x0, y0, x1, y1);
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            DWORD pixel = canvas.pixels[static_cast<size_t>(y) * canvas.width + x] & 0x00FFFFFF;
            if (pixel == 0) {
                continue;
            }
            printf(" %d,%d", x, y);
            if (pixel != 0x00FF0000) {
                printf("=%06lx", static_cast<unsigned long>(pixel));
            }
        }
    }
    POINT position;
    MoveToEx(canvas.dc, 0, 0, &position);
    if (position.x != x1 || position.y != y1) {
        printf(" pos %ld,%ld", static_cast<long>(position.x), static_cast<long>(position.y));
    }
    printf("\n");
    return true;
}

// A fixed pseudo-random sequence, the same on every platform.
unsigned int seed = 12345u;
int Random(int low, int high) {
    seed = seed * 1103515245u + 12345u;
    unsigned int span = static_cast<unsigned int>(high - low) + 1u;
    return low + static_cast<int>((seed >> 8) % span);
}

bool DrawAll(Canvas& c) {
    const int w = c.width;
    const int h = c.height;
    bool ok = true;

    // Every direction and length up to 12 from points inside, on and past
    // the edges: all octants both ways, exact halves, diagonals, zero length.
    const int starts[][2] = {{w / 2, h / 2}, {0, 0}, {w - 1, h - 1}, {-4, -3},
                             {w + 3, h / 3}, {5, h}, {w / 3, -1}};
    for (const auto& s : starts) {
        for (int dy = -12; dy <= 12; ++dy) {
            for (int dx = -12; dx <= 12; ++dx) {
                ok = DrawAndDump(c, s[0], s[1], s[0] + dx, s[1] + dy) && ok;
            }
        }
    }

    // Long lines of every slope through the canvas, from far outside.
    const int reach[] = {100,        1000,       100000,     10000000, 0x0FFFFFFF,
                         0x10000000, 0x10000007, 1000000000, INT_MAX};
    for (int r : reach) {
        for (int k = 0; k < 16; ++k) {
            int cx = w / 2 + Random(-3, 3);
            int cy = h / 2 + Random(-3, 3);
            int mx = Random(-1000, 1000);
            int my = Random(-1000, 1000);
            long long scale = static_cast<long long>(r) / 1000;
            long long ax = cx - mx * scale, ay = cy - my * scale;
            long long bx = cx + mx * scale, by = cy + my * scale;
            if (ax < INT_MIN || ax > INT_MAX || ay < INT_MIN || ay > INT_MAX || bx < INT_MIN ||
                bx > INT_MAX || by < INT_MIN || by > INT_MAX) {
                continue;
            }
            ok = DrawAndDump(c, static_cast<int>(ax), static_cast<int>(ay), static_cast<int>(bx),
                             static_cast<int>(by)) &&
                 ok;
            ok = DrawAndDump(c, static_cast<int>(bx), static_cast<int>(by), static_cast<int>(ax),
                             static_cast<int>(ay)) &&
                 ok;
        }
    }

    // Nearly horizontal and nearly vertical lines, very long, crossing the
    // canvas at every offset: the clipped start must land on the same pixels.
    for (int k = 0; k < 40; ++k) {
        int distance = Random(1000, 5000000);
        int y0 = Random(-3, h + 3), y1 = Random(-3, h + 3);
        ok = DrawAndDump(c, -distance, y0, distance + Random(0, 9), y1) && ok;
        ok = DrawAndDump(c, distance, y1, -distance - Random(0, 9), y0) && ok;
        int x0 = Random(-3, w + 3), x1 = Random(-3, w + 3);
        ok = DrawAndDump(c, x0, -distance, x1, distance + Random(0, 9)) && ok;
        ok = DrawAndDump(c, x1, distance, x0, -distance - Random(0, 9)) && ok;
    }

    // Extreme coordinates in every combination.
    const int extremes[] = {INT_MIN, INT_MIN + 1, -0x10000000, -0x0FFFFFFF, -1,          0,      3,
                            w - 1,   w,           0x0FFFFFFF,  0x10000000,  INT_MAX - 1, INT_MAX};
    const int n = sizeof(extremes) / sizeof(extremes[0]);
    for (int i = 0; i < n * n; ++i) {
        for (int j = 0; j < n * n; j += 7) {
            int a = extremes[i / n], b = extremes[i % n];
            int p = extremes[j / n], q = extremes[(j + i) % n];
            ok = DrawAndDump(c, a, b, p, q) && ok;
        }
    }
    // Axis-parallel lines from and to the ends of the int range.
    const int edges[] = {INT_MIN, INT_MIN + 1, -5, 0, 2, w - 1, INT_MAX - 1, INT_MAX};
    for (int a : edges) {
        for (int b : edges) {
            ok = DrawAndDump(c, a, h / 2, b, h / 2) && ok;
            ok = DrawAndDump(c, w / 2, a, w / 2, b) && ok;
            ok = DrawAndDump(c, a, 0, b, 0) && ok;
            ok = DrawAndDump(c, w - 1, a, w - 1, b) && ok;
        }
    }

    // Random lines around and across the canvas.
    for (int k = 0; k < 4000; ++k) {
        int x0 = Random(-2 * w, 3 * w), y0 = Random(-2 * h, 3 * h);
        int x1 = Random(-2 * w, 3 * w), y1 = Random(-2 * h, 3 * h);
        ok = DrawAndDump(c, x0, y0, x1, y1) && ok;
    }
    return ok;
}

}  // namespace

int main() {
    static char buffer[1 << 16];
    setvbuf(stdout, buffer, _IOFBF, sizeof(buffer));

    HDC screen = GetDC(NULL);
    if (screen == NULL) {
        fprintf(stderr, "no screen device context\n");
        return 1;
    }
    Canvas canvases[] = {{"A", 61, 47, NULL, NULL, NULL, {}}, {"B", 7, 5, NULL, NULL, NULL, {}}};
    bool ok = true;
    for (Canvas& canvas : canvases) {
        if (!MakeCanvas(canvas, screen)) {
            fprintf(stderr, "no %dx%d canvas\n", canvas.width, canvas.height);
            return 1;
        }
        // Width 0 and width 1 are both the one-pixel cosmetic pen.
        HPEN pen = CreatePen(PS_SOLID, canvas.width > 10 ? 1 : 0, RGB(255, 0, 0));
        HGDIOBJ oldPen = SelectObject(canvas.dc, pen);
        ok = DrawAll(canvas) && ok;
        SelectObject(canvas.dc, oldPen);
        DeleteObject(pen);
        FreeCanvas(canvas);
    }
    ReleaseDC(NULL, screen);
    fflush(stdout);
    return ok ? 0 : 1;
}
