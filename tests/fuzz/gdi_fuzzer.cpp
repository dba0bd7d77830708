// Arbitrary sequences of GDI calls on platform/'s software GDI: device
// contexts (memory, screen, window), bitmaps of arbitrary (bounded) sizes,
// pens, brushes, selections, deletions, fills, blits, lines, pixel and DIB
// reads, with arbitrary int arguments and handles that are valid, stale,
// deleted, of the wrong kind or forged.
//
// Beyond what the sanitizers catch, every drawing call is checked against a
// shadow of the small bitmaps: a call may only change pixels of the bitmap
// selected into its device context, and only inside the area it was given.
// Two canary bitmaps that no call is ever given must keep their pixels, and
// every object made during a run must be gone once the run deletes it.
#include <windows.h>
#include <platform_extras.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/backends/headless/headless_control.h"
#include "platform/gdi/line_raster.h"
#include "platform/gdi/objects.h"
#include "platform/gdi/raster.h"
#include "tests/fuzz/fuzz_input.h"

namespace gdi = platform::gdi;
namespace headless = platform::headless;

// Values are taken from the input one statement each, never two in one
// call's arguments: compilers evaluate arguments in different orders, and an
// input must mean the same in the fuzzer (clang) and in its replay (any
// compiler).

namespace {

// Bounds that keep one run small: handles and windows a run keeps track of,
// pixels of one bitmap, the client size of a window.
const std::size_t kMaxHandles = 48;
const std::size_t kMaxWindows = 4;
const std::int64_t kMaxBitmapPixels = std::int64_t(1) << 18;
const int kMaxWindowSide = 200;
// Bitmaps up to this many pixels are compared pixel by pixel around every
// drawing call.
const std::int64_t kShadowPixels = std::int64_t(1) << 14;
// Sizes CreateCompatibleBitmap must refuse (see platform/gdi/dc.cpp).
const std::int64_t kRefusedSide = 0x7FFFFFF;
const std::int64_t kRefusedBytes = 0x7FFFFFFF;
// A message loop that is still busy after this many messages never idles.
const int kMaxMessagesPerPump = 2000;

const char kClassName[] = "GdiFuzzWindow";

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "gdi_fuzzer: %s\n", what);
    std::abort();
}

// What a line observer does while LineTo is under way.
struct ObserverAction {
    HDC hdc = nullptr;
    int kind = 0;  // 0 nothing, 1 delete the DC, 2 delete its bitmap, 3 select, 4 draw again
    HGDIOBJ object = nullptr;
    int depth = 0;
};

struct Run {
    std::vector<HGDIOBJ> handles;  // everything made during the run, live or not
    std::vector<HWND> windows;
    std::vector<std::unique_ptr<ObserverAction>> observers;
};

struct Canaries {
    HDC dc = nullptr;
    HBITMAP selected = nullptr;  // held by `dc`
    HBITMAP loose = nullptr;     // held by nothing
};
Canaries canaries;

std::uint32_t CanaryPixel(std::size_t i) {
    return static_cast<std::uint32_t>(i * 2654435761u) & 0x00FFFFFF;
}

void PaintCanary(HBITMAP handle) {
    gdi::Bitmap* bitmap = gdi::LookupBitmap(handle);
    if (bitmap == nullptr) {
        Fail("a canary bitmap could not be made");
    }
    const std::size_t count = static_cast<std::size_t>(bitmap->width) * bitmap->height;
    bitmap->zeroed = false;  // written behind the GDI's back
    for (std::size_t i = 0; i < count; ++i) {
        bitmap->pixels[i] = CanaryPixel(i);
    }
}

void CheckCanary(HBITMAP handle) {
    const gdi::Bitmap* bitmap = gdi::LookupBitmap(handle);
    if (bitmap == nullptr) {
        Fail("a canary bitmap went away though nothing was given its handle");
    }
    const std::size_t count = static_cast<std::size_t>(bitmap->width) * bitmap->height;
    for (std::size_t i = 0; i < count; ++i) {
        if (bitmap->pixels[i] != CanaryPixel(i)) {
            Fail("a canary bitmap's pixels changed though nothing was given its handle");
        }
    }
}

bool IsCanary(const void* handle) {
    return handle != nullptr &&
           (handle == canaries.dc || handle == canaries.selected || handle == canaries.loose);
}

// A handle a fuzzed call may receive: the canaries never pass.
template <typename H>
H Admit(H handle) {
    return IsCanary(handle) ? nullptr : handle;
}

LRESULT CALLBACK FuzzWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void Setup() {
    static bool done = false;
    if (done) {
        return;
    }
    done = true;
    headless::Start(320, 240);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = FuzzWindowProc;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kClassName;
    if (RegisterClassExA(&wc) == 0) {
        Fail("cannot register the window class");
    }
    HDC screen = GetDC(NULL);
    canaries.dc = CreateCompatibleDC(screen);
    canaries.selected = CreateCompatibleBitmap(screen, 23, 19);
    canaries.loose = CreateCompatibleBitmap(screen, 17, 29);
    ReleaseDC(NULL, screen);
    if (SelectObject(canaries.dc, canaries.selected) == NULL) {
        Fail("cannot select the canary bitmap");
    }
    PaintCanary(canaries.selected);
    PaintCanary(canaries.loose);
}

// --- Picking handles ----------------------------------------------------------

HGDIOBJ FromRun(fuzz::Input& in, const Run& run) {
    if (run.handles.empty()) {
        return nullptr;
    }
    return run.handles[in.Index(run.handles.size())];
}

HGDIOBJ PickObject(fuzz::Input& in, const Run& run) {
    const std::uintptr_t kGenerationShift = 24;
    switch (in.Byte() % 12) {
        case 0:
            return nullptr;
        case 1:  // forged
            return Admit(reinterpret_cast<HGDIOBJ>(in.Take<std::uintptr_t>()));
        case 2: {  // a real handle's slot under another kind
            const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(FromRun(in, run));
            return Admit(reinterpret_cast<HGDIOBJ>(value ^ (1 + in.Byte() % 15)));
        }
        case 3: {  // a real handle's slot under another generation
            const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(FromRun(in, run));
            const unsigned bit = kGenerationShift + in.Byte() % 40;
            return Admit(reinterpret_cast<HGDIOBJ>(value ^ (std::uintptr_t(1) << bit)));
        }
        case 4:
            return GetStockObject(in.Byte() % 24);
        default:  // made during this run, possibly deleted since
            return FromRun(in, run);
    }
}

HDC PickDc(fuzz::Input& in, const Run& run) { return static_cast<HDC>(PickObject(in, run)); }

HWND PickWindow(fuzz::Input& in, const Run& run) {
    switch (in.Byte() % 6) {
        case 0:
            return NULL;
        case 1:
            return reinterpret_cast<HWND>(in.Take<std::uintptr_t>());
        default:
            return run.windows.empty() ? NULL : run.windows[in.Index(run.windows.size())];
    }
}

// Adds a new object to the run; once the run has enough, it is deleted at
// once instead.
void Keep(Run& run, HGDIOBJ handle) {
    if (handle == nullptr) {
        return;
    }
    if (run.handles.size() < kMaxHandles) {
        run.handles.push_back(handle);
    } else if (gdi::KindOf(handle) == gdi::Kind::Dc) {
        DeleteDC(static_cast<HDC>(handle));
    } else {
        DeleteObject(handle);
    }
}

COLORREF PickColour(fuzz::Input& in) {
    switch (in.Byte() % 4) {
        case 0:
            return RGB(255, 0, 0);
        case 1:
            return in.Bool() ? RGB(0, 0, 0) : RGB(255, 255, 255);
        default:
            return in.Take<COLORREF>();
    }
}

DWORD PickRop(fuzz::Input& in) {
    static const DWORD kRops[] = {SRCCOPY, PATCOPY, PATINVERT, DSTINVERT, BLACKNESS, WHITENESS};
    if (in.Byte() % 4 != 0) {
        return kRops[in.Index(sizeof(kRops) / sizeof(kRops[0]))];
    }
    return in.Take<DWORD>();
}

// --- The shadow ---------------------------------------------------------------

struct Area {
    std::int64_t left = 0, top = 0, right = 0, bottom = 0;
    bool Contains(std::int64_t x, std::int64_t y) const {
        return x >= left && x < right && y >= top && y < bottom;
    }
};

// The pixels a blit of width x height at (x, y) may touch; a negative extent
// reaches back from the origin and covers it.
Area BlitArea(int x, int y, int width, int height) {
    Area area;
    area.left = width >= 0 ? x : std::int64_t(x) + width + 1;
    area.right = width >= 0 ? std::int64_t(x) + width : std::int64_t(x) + 1;
    area.top = height >= 0 ? y : std::int64_t(y) + height + 1;
    area.bottom = height >= 0 ? std::int64_t(y) + height : std::int64_t(y) + 1;
    return area;
}

struct Snapshot {
    HBITMAP handle = nullptr;
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

const gdi::Bitmap* ShadowedBitmap(const void* handle) {
    const gdi::Bitmap* bitmap = gdi::LookupBitmap(handle);
    if (bitmap == nullptr || bitmap->isDefault || bitmap->pixels == nullptr ||
        std::int64_t(bitmap->width) * bitmap->height > kShadowPixels) {
        return nullptr;
    }
    return bitmap;
}

std::vector<Snapshot> TakeSnapshots(const Run& run) {
    std::vector<const void*> handles(run.handles.begin(), run.handles.end());
    handles.push_back(canaries.selected);
    handles.push_back(canaries.loose);
    std::sort(handles.begin(), handles.end());
    handles.erase(std::unique(handles.begin(), handles.end()), handles.end());
    std::vector<Snapshot> snapshots;
    for (const void* handle : handles) {
        const gdi::Bitmap* bitmap = ShadowedBitmap(handle);
        if (bitmap == nullptr) {
            continue;
        }
        Snapshot snapshot;
        snapshot.handle = static_cast<HBITMAP>(const_cast<void*>(handle));
        snapshot.width = bitmap->width;
        snapshot.height = bitmap->height;
        const std::size_t count = static_cast<std::size_t>(bitmap->width) * bitmap->height;
        snapshot.pixels.assign(bitmap->pixels.get(), bitmap->pixels.get() + count);
        snapshots.push_back(std::move(snapshot));
    }
    return snapshots;
}

// The bitmap a memory device context draws into; null for other device
// contexts and for one holding the default bitmap (it is never drawn on).
HBITMAP TargetBitmap(HDC hdc) {
    const gdi::Dc* dc = gdi::LookupDc(hdc);
    if (dc == nullptr || dc->type != gdi::DcType::Memory) {
        return nullptr;
    }
    return dc->bitmap;
}

// Every shadowed bitmap but `target` is as it was; `target` changed only
// inside `allowed`.
void CheckShadow(const std::vector<Snapshot>& before, HBITMAP target, const Area& allowed) {
    for (const Snapshot& snapshot : before) {
        const gdi::Bitmap* bitmap = gdi::LookupBitmap(snapshot.handle);
        if (bitmap == nullptr) {
            continue;  // deleted by a line observer
        }
        if (bitmap->width != snapshot.width || bitmap->height != snapshot.height) {
            Fail("a bitmap changed its size");
        }
        for (int y = 0; y < snapshot.height; ++y) {
            for (int x = 0; x < snapshot.width; ++x) {
                const std::uint32_t now =
                    bitmap->pixels[static_cast<std::size_t>(y) * snapshot.width + x];
                if (now == snapshot.At(x, y)) {
                    continue;
                }
                if (snapshot.handle != target) {
                    Fail("a drawing call changed a bitmap its device context does not hold");
                }
                if (!allowed.Contains(x, y)) {
                    Fail("a drawing call changed a pixel outside the area it was given");
                }
                if ((now & 0xFF000000) != 0) {
                    Fail("a drawing call left a pixel with bits above 0x00FFFFFF");
                }
            }
        }
    }
}

const Snapshot* Find(const std::vector<Snapshot>& snapshots, const void* handle) {
    for (const Snapshot& snapshot : snapshots) {
        if (snapshot.handle == handle) {
            return &snapshot;
        }
    }
    return nullptr;
}

// BLACKNESS and WHITENESS fill every pixel of the area inside the bitmap.
void CheckConstantFill(const std::vector<Snapshot>& before, HBITMAP target, const Area& area,
                       DWORD rop) {
    const Snapshot* snapshot = Find(before, target);
    const gdi::Bitmap* bitmap = gdi::LookupBitmap(target);
    if (snapshot == nullptr || bitmap == nullptr || (rop != BLACKNESS && rop != WHITENESS)) {
        return;
    }
    const std::uint32_t want = rop == BLACKNESS ? gdi::kBlackPixel : gdi::kWhitePixel;
    for (int y = 0; y < bitmap->height; ++y) {
        for (int x = 0; x < bitmap->width; ++x) {
            if (area.Contains(x, y) &&
                bitmap->pixels[static_cast<std::size_t>(y) * bitmap->width + x] != want) {
                Fail("a constant fill missed a pixel of its area");
            }
        }
    }
}

// SRCCOPY between 32-bit bitmaps: each covered pixel whose source lies in
// the source bitmap is that source pixel as it was before the copy.
void CheckCopy(const std::vector<Snapshot>& before, HBITMAP target, HBITMAP source,
               const Area& destination, int srcX, int srcY, int width, int height) {
    const Snapshot* dst = Find(before, target);
    const Snapshot* src = Find(before, source);
    const gdi::Bitmap* dstBitmap = gdi::LookupBitmap(target);
    const gdi::Bitmap* srcBitmap = gdi::LookupBitmap(source);
    if (dst == nullptr || src == nullptr || dstBitmap == nullptr || srcBitmap == nullptr ||
        dstBitmap->bitsPerPixel != 32 || srcBitmap->bitsPerPixel != 32) {
        return;
    }
    const Area sourceArea = BlitArea(srcX, srcY, width, height);
    const std::int64_t dx = destination.left - sourceArea.left;
    const std::int64_t dy = destination.top - sourceArea.top;
    for (int y = 0; y < dst->height; ++y) {
        for (int x = 0; x < dst->width; ++x) {
            if (!destination.Contains(x, y)) {
                continue;
            }
            const std::int64_t sx = x - dx;
            const std::int64_t sy = y - dy;
            const std::uint32_t now =
                dstBitmap->pixels[static_cast<std::size_t>(y) * dst->width + x];
            const bool inside = sx >= 0 && sy >= 0 && sx < src->width && sy < src->height;
            const std::uint32_t want =
                inside ? src->At(static_cast<int>(sx), static_cast<int>(sy)) : dst->At(x, y);
            if (now != want) {
                Fail("SRCCOPY gave a pixel other than its source");
            }
        }
    }
}

// --- Line observers -----------------------------------------------------------

void Observe(void* context, int, int, int, int) {
    ObserverAction* action = static_cast<ObserverAction*>(context);
    if (action->depth > 1) {
        return;
    }
    ++action->depth;
    switch (action->kind) {
        case 1:
            DeleteDC(action->hdc);
            break;
        case 2:
            DeleteObject(TargetBitmap(action->hdc));
            break;
        case 3:
            SelectObject(action->hdc, action->object);
            break;
        case 4:
            LineTo(action->hdc, 3, 5);
            break;
        default:
            break;
    }
    --action->depth;
}

// --- Operations ---------------------------------------------------------------

int BitmapSide(fuzz::Input& in) {
    switch (in.Byte() % 4) {
        case 0:
            return 1 + in.Byte() % 8;
        case 1:
            return 1 + in.Byte();
        default:
            return in.Int();
    }
}

void MakeBitmap(fuzz::Input& in, Run& run) {
    HDC hdc = PickDc(in, run);
    int width = BitmapSide(in);
    int height = BitmapSide(in);
    const std::int64_t pixels = std::int64_t(width) * height;
    const bool empty = width == 0 || height == 0;
    const bool refused = !empty && (width < 0 || height < 0 || width > kRefusedSide ||
                                    height > kRefusedSide || pixels * 4 > kRefusedBytes);
    if (!empty && !refused && pixels > kMaxBitmapPixels) {
        // Would be made: keep it to a size a run can afford.
        width = 1 + width % 512;
        height = 1 + height % 512;
    }
    HBITMAP bitmap = CreateCompatibleBitmap(hdc, width, height);
    if (refused && bitmap != NULL) {
        Fail("CreateCompatibleBitmap made a bitmap of a size it must refuse");
    }
    if (empty && bitmap != GetStockObject(20)) {
        Fail("CreateCompatibleBitmap of an empty size did not give the default bitmap");
    }
    Keep(run, bitmap);
}

void DoPatBlt(fuzz::Input& in, Run& run) {
    HDC hdc = PickDc(in, run);
    const int x = in.Int(), y = in.Int(), width = in.Int(), height = in.Int();
    const DWORD rop = PickRop(in);
    const std::vector<Snapshot> before = TakeSnapshots(run);
    const HBITMAP target = TargetBitmap(hdc);
    const Area area = BlitArea(x, y, width, height);
    const BOOL done = PatBlt(hdc, x, y, width, height, rop);
    CheckShadow(before, target, area);
    if (done) {
        CheckConstantFill(before, target, area, rop);
    }
}

void DoBitBlt(fuzz::Input& in, Run& run) {
    HDC dest = PickDc(in, run);
    HDC src = in.Byte() % 4 == 0 ? dest : PickDc(in, run);
    const int x = in.Int(), y = in.Int(), width = in.Int(), height = in.Int();
    const int srcX = in.Int(), srcY = in.Int();
    const DWORD rop = PickRop(in);
    const std::vector<Snapshot> before = TakeSnapshots(run);
    const HBITMAP target = TargetBitmap(dest);
    const HBITMAP source = TargetBitmap(src);
    const Area area = BlitArea(x, y, width, height);
    const BOOL done = BitBlt(dest, x, y, width, height, src, srcX, srcY, rop);
    CheckShadow(before, target, area);
    if (done && rop == SRCCOPY) {
        CheckCopy(before, target, source, area, srcX, srcY, width, height);
    }
    if (done) {
        CheckConstantFill(before, target, area, rop);
    }
}

void DoLineTo(fuzz::Input& in, Run& run) {
    HDC hdc = PickDc(in, run);
    const int x = in.Int(), y = in.Int();
    const gdi::Dc* dc = gdi::LookupDc(hdc);
    const POINT start = dc != nullptr ? dc->position : POINT{0, 0};
    const std::vector<Snapshot> before = TakeSnapshots(run);
    const BOOL done = LineTo(hdc, x, y);
    // An observer may have swapped the bitmap: the line goes where the DC
    // points when it is drawn.
    const HBITMAP target = TargetBitmap(hdc);
    Area allowed;
    const gdi::LineEnds ends = gdi::DeviceLineEnds(start.x, start.y, x, y);
    if (done && ends.drawn) {
        allowed.left = std::min(ends.x0, ends.x1);
        allowed.right = std::max(ends.x0, ends.x1) + 1;
        allowed.top = std::min(ends.y0, ends.y1);
        allowed.bottom = std::max(ends.y0, ends.y1) + 1;
    }
    CheckShadow(before, target, allowed);
}

void DoGetPixel(fuzz::Input& in, Run& run) {
    HDC hdc = PickDc(in, run);
    const int x = in.Int(), y = in.Int();
    const COLORREF colour = GetPixel(hdc, x, y);
    if (colour != CLR_INVALID && (colour & 0xFF000000) != 0) {
        Fail("GetPixel gave a colour with bits above 0x00FFFFFF");
    }
    const gdi::Bitmap* bitmap = gdi::LookupBitmap(TargetBitmap(hdc));
    if (bitmap != nullptr && bitmap->pixels != nullptr && x >= 0 && y >= 0 && x < bitmap->width &&
        y < bitmap->height &&
        colour !=
            gdi::RgbFromPixel(bitmap->pixels[static_cast<std::size_t>(y) * bitmap->width + x])) {
        Fail("GetPixel disagrees with the bitmap");
    }
}

void DoGetDIBits(fuzz::Input& in, Run& run) {
    HDC hdc = PickDc(in, run);
    HBITMAP bitmap = static_cast<HBITMAP>(PickObject(in, run));
    // A header followed by the three colour masks a 32-bit query may be
    // answered with; nothing past it may be written.
    const std::size_t infoSize = sizeof(BITMAPINFOHEADER) + 3 * sizeof(DWORD);
    std::unique_ptr<unsigned char[]> infoBytes(new unsigned char[infoSize]());
    BITMAPINFO* info = reinterpret_cast<BITMAPINFO*>(infoBytes.get());
    BITMAPINFOHEADER& header = info->bmiHeader;
    header.biSize = in.Byte() % 8 == 0 ? in.Take<DWORD>() : sizeof(BITMAPINFOHEADER);
    header.biWidth = in.Int();
    header.biHeight = in.Int();
    if (header.biWidth > 1024 || header.biWidth < -1024) {
        header.biWidth %= 1025;
    }
    if (header.biHeight > 1024 || header.biHeight < -1024) {
        header.biHeight %= 1025;
    }
    header.biPlanes = in.Byte() % 8 == 0 ? 0 : 1;
    static const WORD kBitCounts[] = {32, 32, 32, 0, 0, 1, 24};
    header.biBitCount = in.Byte() % 8 == 7 ? in.Take<WORD>() : kBitCounts[in.Index(7)];
    header.biCompression = in.Byte() % 8 == 0 ? in.Take<DWORD>() : BI_RGB;
    const UINT start = static_cast<UINT>(in.Int());
    const UINT lines = static_cast<UINT>(in.Int());
    const UINT usage = in.Byte() % 4 == 0 ? in.Take<UINT>() : DIB_RGB_COLORS;

    // Room for exactly the rows asked for, as 32-bit rows of biWidth pixels.
    const std::int64_t dibHeight =
        header.biHeight < 0 ? -std::int64_t(header.biHeight) : header.biHeight;
    const std::int64_t rows = std::min<std::int64_t>(lines, dibHeight);
    const std::int64_t stride = header.biWidth > 0 ? std::int64_t(header.biWidth) * 4 : 0;
    std::vector<std::uint8_t> buffer;
    void* bits = nullptr;
    if (in.Byte() % 4 != 0) {
        buffer.resize(static_cast<std::size_t>(rows * stride));
        buffer.shrink_to_fit();
        bits = buffer.empty() ? nullptr : buffer.data();
    }
    // A query (biBitCount 0) answers with the bitmap's height instead.
    const bool query = header.biBitCount == 0;
    const int copied = GetDIBits(hdc, bitmap, start, lines, bits, info, usage);
    if (bits != nullptr && !query && copied > rows) {
        Fail("GetDIBits reported more rows than it was asked for");
    }
}

void DoSelect(fuzz::Input& in, Run& run) {
    HDC hdc = PickDc(in, run);
    HGDIOBJ object = PickObject(in, run);
    HGDIOBJ previous = SelectObject(hdc, object);
    Keep(run, previous);
}

void MakeWindow(fuzz::Input& in, Run& run) {
    if (run.windows.size() >= kMaxWindows) {
        return;
    }
    const int width = 1 + in.Byte() % kMaxWindowSide;
    const int height = 1 + in.Byte() % kMaxWindowSide;
    const DWORD style = WS_OVERLAPPEDWINDOW | (in.Bool() ? WS_VISIBLE : 0);
    const int x = in.Int(), y = in.Int();
    HWND hwnd =
        CreateWindowExA(0, kClassName, "fuzz", style, x, y, width, height, NULL, NULL, NULL, NULL);
    if (hwnd != NULL) {
        run.windows.push_back(hwnd);
    }
}

// Dispatches until the queue and the display have nothing more.
void Pump() {
    MSG msg;
    for (int i = 0; i < kMaxMessagesPerPump; ++i) {
        if (GetMessageA(&msg, NULL, 0, 0) <= 0) {
            return;
        }
        DispatchMessageA(&msg);
    }
    Fail("the message loop never runs out of messages");
}

void ResizeWindow(fuzz::Input& in, Run& run) {
    HWND hwnd = PickWindow(in, run);
    const int x = static_cast<int>(in.Take<std::int16_t>());
    const int y = static_cast<int>(in.Take<std::int16_t>());
    const int width = 1 + in.Byte() % kMaxWindowSide;
    const int height = 1 + in.Byte() % kMaxWindowSide;
    headless::InjectConfigure(hwnd, RECT{x, y, x + width, y + height});
    if (in.Bool()) {
        headless::InjectExpose(hwnd, RECT{in.Int(), in.Int(), in.Int(), in.Int()});
    }
    Pump();
}

void InstallObserver(fuzz::Input& in, Run& run) {
    HDC hdc = PickDc(in, run);
    if (gdi::LookupDc(hdc) == nullptr || in.Byte() % 4 == 0) {
        PlatformObserveLines(hdc, nullptr, nullptr);
        return;
    }
    auto action = std::make_unique<ObserverAction>();
    action->hdc = hdc;
    action->kind = in.Byte() % 5;
    action->object = PickObject(in, run);
    PlatformObserveLines(hdc, Observe, action.get());
    run.observers.push_back(std::move(action));
}

void Step(fuzz::Input& in, Run& run) {
    switch (in.Byte() % 22) {
        case 0:
            Keep(run, CreateCompatibleDC(PickDc(in, run)));
            break;
        case 1:
        case 2:
            MakeBitmap(in, run);
            break;
        case 3:
            Keep(run, GetStockObject(in.Int()));
            break;
        case 4: {
            const int style = in.Int(), width = in.Int();
            Keep(run, CreatePen(style, width, PickColour(in)));
            break;
        }
        case 5:
            Keep(run, CreateSolidBrush(PickColour(in)));
            break;
        case 6:
        case 7:
            DoSelect(in, run);
            break;
        case 8:
            DeleteObject(PickObject(in, run));
            break;
        case 9:
            DeleteDC(PickDc(in, run));
            break;
        case 10:
            DoPatBlt(in, run);
            break;
        case 11:
            DoBitBlt(in, run);
            break;
        case 12: {
            HDC hdc = PickDc(in, run);
            POINT previous = {0, 0};
            const int x = in.Int(), y = in.Int();
            MoveToEx(hdc, x, y, in.Bool() ? &previous : nullptr);
            break;
        }
        case 13:
        case 14:
            DoLineTo(in, run);
            break;
        case 15:
            DoGetPixel(in, run);
            break;
        case 16:
            DoGetDIBits(in, run);
            break;
        case 17:
            Keep(run, GetDC(PickWindow(in, run)));
            break;
        case 18: {
            HWND hwnd = PickWindow(in, run);
            ReleaseDC(hwnd, PickDc(in, run));
            break;
        }
        case 19:
            if (in.Bool()) {
                MakeWindow(in, run);
            } else {
                DestroyWindow(PickWindow(in, run));
            }
            break;
        case 20:
            ResizeWindow(in, run);
            break;
        case 21:
            InstallObserver(in, run);
            break;
    }
}

int CountDcs() {
    int count = 0;
    gdi::ForEachDc([&count](HDC, gdi::Dc*) { ++count; });
    return count;
}

// Takes down everything the run made and checks that it is all gone.
void Finish(Run& run) {
    for (HWND hwnd : run.windows) {
        DestroyWindow(hwnd);
    }
    for (HGDIOBJ handle : run.handles) {
        if (gdi::KindOf(handle) == gdi::Kind::Dc) {
            DeleteDC(static_cast<HDC>(handle));
        }
    }
    for (HGDIOBJ handle : run.handles) {
        DeleteObject(handle);
    }
    for (HGDIOBJ handle : run.handles) {
        const gdi::Object* object = gdi::Lookup(handle, gdi::KindOf(handle));
        if (object != nullptr && !object->stock) {
            Fail("an object outlived its deletion");
        }
    }
    CheckCanary(canaries.selected);
    CheckCanary(canaries.loose);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Setup();
    const int dcsBefore = CountDcs();
    fuzz::Input in(data, size);
    Run run;
    while (!in.Empty()) {
        Step(in, run);
    }
    Pump();
    Finish(run);
    if (CountDcs() != dcsBefore) {
        Fail("device contexts were left behind");
    }
    return 0;
}
