// The window manager (platform/user) on the headless display, with a test
// window procedure: classes, creation, handles, the message queue, painting,
// device contexts and the display's events.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/backends/headless/headless_control.h"
#include "tests/support/win32_test_support.h"

namespace headless = platform::headless;

namespace {

const std::uint32_t kWhite = 0xFFFFFF;
const std::uint32_t kBlue = 0x0000FF;  // RGB(0, 0, 255) as 0x00RRGGBB

using test_support::PumpUntilIdle;
using test_support::Received;

// The test procedure records every message; `handler` may answer one
// instead of DefWindowProcA (returning true and setting *result).
test_support::MessageLog messageLog;
std::vector<Received>& received = messageLog.received;
std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)> handler;

LRESULT CALLBACK TestProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    messageLog.Record(hwnd, message, wParam, lParam);
    LRESULT result = 0;
    if (handler && handler(hwnd, message, wParam, lParam, &result)) {
        return result;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

std::vector<UINT> Messages() { return messageLog.Messages(); }
int Count(UINT message) { return messageLog.Count(message); }

WNDCLASSEXA TestClass(const char* name) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = TestProc;
    wc.hInstance = reinterpret_cast<HINSTANCE>(0x400000);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = name;
    return wc;
}

// A rectangle's left, top, right and bottom, to compare in one go.
std::array<LONG, 4> Corners(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

headless::WindowView View(HWND hwnd) {
    headless::WindowView view;
    EXPECT_TRUE(headless::GetWindowView(hwnd, &view));
    return view;
}

// Fills a part of the window black through a window DC.
void FillBlack(HWND hwnd, int x, int y, int width, int height) {
    HDC dc = GetDC(hwnd);
    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    PatBlt(dc, x, y, width, height, PATCOPY);
    ReleaseDC(hwnd, dc);
}

// A handler that paints nothing and keeps the update rectangle of each
// WM_PAINT.
std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)> KeepPaintRect(RECT* painted) {
    return [painted](HWND h, UINT message, WPARAM, LPARAM, LRESULT*) {
        PAINTSTRUCT paint;
        if (message != WM_PAINT || BeginPaint(h, &paint) == nullptr) {
            return false;
        }
        *painted = paint.rcPaint;
        EndPaint(h, &paint);
        return true;
    };
}

class WindowManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        headless::Start(1000, 800);
        received.clear();
        handler = nullptr;
        WNDCLASSEXA wc = TestClass("TestWindow");
        atom_ = RegisterClassExA(&wc);
        ASSERT_NE(atom_, 0);
    }
    void TearDown() override {
        handler = nullptr;
        headless::Stop();
    }

    HWND Create(int x, int y, int width, int height, DWORD style = WS_OVERLAPPEDWINDOW) {
        return CreateWindowExA(0, "TestWindow", "Test", style, x, y, width, height, NULL, NULL,
                               NULL, NULL);
    }
    // Created and shown, first paint done, nothing recorded yet.
    HWND Shown(int width = 200, int height = 100) {
        HWND hwnd = Create(10, 20, width, height);
        ShowWindow(hwnd, SW_SHOWNORMAL);
        UpdateWindow(hwnd);
        received.clear();
        return hwnd;
    }

    ATOM atom_ = 0;
};

// --- Classes -----------------------------------------------------------------

TEST_F(WindowManagerTest, RegisterClassRejectsBadClasses) {
    EXPECT_EQ(RegisterClassExA(NULL), 0);
    WNDCLASSEXA wc = TestClass("Other");
    wc.cbSize = sizeof(wc) - 1;
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    wc = TestClass("Other");
    wc.lpfnWndProc = NULL;
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    wc = TestClass(NULL);
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    wc = TestClass("");
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    wc = TestClass(MAKEINTATOM(5));
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    wc = TestClass("Other");
    wc.cbWndExtra = -1;
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    std::string longName(300, 'n');
    wc = TestClass(longName.c_str());
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    // Names are case-insensitive: the same class twice is refused.
    wc = TestClass("testWINDOW");
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    wc = TestClass("Other");
    ATOM other = RegisterClassExA(&wc);
    EXPECT_GE(other, 0xC000);
    EXPECT_NE(other, atom_);
}

// --- Creation ----------------------------------------------------------------

TEST_F(WindowManagerTest, CreationSendsNcCreateThenCreateWithTheCreateStruct) {
    int marker = 0;
    std::vector<CREATESTRUCTA> seen;
    handler = [&](HWND hwnd, UINT message, WPARAM, LPARAM lParam, LRESULT*) {
        if (message == WM_NCCREATE || message == WM_CREATE) {
            seen.push_back(*reinterpret_cast<CREATESTRUCTA*>(lParam));
            EXPECT_TRUE(IsWindow(hwnd));
        }
        return false;
    };
    HWND hwnd = CreateWindowExA(0, "TestWindow", "Caption", WS_OVERLAPPEDWINDOW, 30, 40, 300, 200,
                                NULL, NULL, NULL, &marker);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE}));
    ASSERT_EQ(seen.size(), 2u);
    for (const CREATESTRUCTA& cs : seen) {
        EXPECT_EQ(cs.lpCreateParams, &marker);
        EXPECT_EQ(cs.x, 30);
        EXPECT_EQ(cs.y, 40);
        EXPECT_EQ(cs.cx, 300);
        EXPECT_EQ(cs.cy, 200);
        EXPECT_STREQ(cs.lpszName, "Caption");
        EXPECT_EQ(cs.style, static_cast<LONG>(WS_OVERLAPPEDWINDOW));
    }
    RECT client;
    ASSERT_TRUE(GetClientRect(hwnd, &client));
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);
    headless::WindowView view = View(hwnd);
    EXPECT_EQ(view.rect.left, 30);
    EXPECT_EQ(view.rect.top, 40);
    EXPECT_EQ(view.title, "Caption");
    // Created hidden: nothing painted, nothing shown.
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_EQ(view.show, platform::WindowShow::kHidden);
}

TEST_F(WindowManagerTest, DefaultPlacementIsThreeQuartersOfTheScreen) {
    HWND hwnd = Create(CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT);
    ASSERT_NE(hwnd, nullptr);
    headless::WindowView view = View(hwnd);
    EXPECT_EQ(view.rect.left, 0);
    EXPECT_EQ(view.rect.top, 0);
    EXPECT_EQ(view.Width(), 750);
    EXPECT_EQ(view.Height(), 600);
}

TEST_F(WindowManagerTest, CreationByAtomAndVisibleStyle) {
    HWND hwnd = CreateWindowExA(0, MAKEINTATOM(atom_), "Atom", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                0, 50, 40, NULL, NULL, NULL, NULL);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(View(hwnd).show, platform::WindowShow::kNormal);
}

TEST_F(WindowManagerTest, CreationFailsForUnknownClassesAndWithoutADisplay) {
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "x", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL),
              nullptr);
    EXPECT_EQ(CreateWindowExA(0, NULL, "x", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL), nullptr);
    EXPECT_EQ(CreateWindowExA(0, MAKEINTATOM(0xC123), "x", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL),
              nullptr);
    EXPECT_EQ(Create(0x7FFFFFF0, 0, 100, 100), nullptr) << "right edge beyond the int range";
    EXPECT_TRUE(received.empty());
    EXPECT_TRUE(headless::Windows().empty());

    platform::InstallBackend(nullptr);
    EXPECT_EQ(Create(0, 0, 10, 10), nullptr);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 0);
    platform::InstallBackend(headless::GetBackend());
}

TEST_F(WindowManagerTest, CreateReturningMinusOneDestroysTheWindow) {
    HWND during = NULL;
    handler = [&](HWND hwnd, UINT message, WPARAM, LPARAM, LRESULT* result) {
        if (message == WM_CREATE) {
            during = hwnd;
            *result = -1;
            return true;
        }
        return false;
    };
    EXPECT_EQ(Create(0, 0, 100, 100), nullptr);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(during));
    EXPECT_TRUE(headless::Windows().empty());
}

TEST_F(WindowManagerTest, NcCreateReturningFalseFailsCreation) {
    handler = [&](HWND, UINT message, WPARAM, LPARAM, LRESULT* result) {
        if (message == WM_NCCREATE) {
            *result = FALSE;
            return true;
        }
        return false;
    };
    EXPECT_EQ(Create(0, 0, 100, 100), nullptr);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_NCCREATE, WM_NCDESTROY}));
    EXPECT_TRUE(headless::Windows().empty());
}

TEST_F(WindowManagerTest, WindowDestroyedDuringCreateIsNotReturned) {
    handler = [&](HWND hwnd, UINT message, WPARAM, LPARAM, LRESULT*) {
        if (message == WM_CREATE) {
            EXPECT_TRUE(DestroyWindow(hwnd));
        }
        return false;
    };
    EXPECT_EQ(Create(0, 0, 100, 100), nullptr);
    EXPECT_EQ(Count(WM_DESTROY), 1);
    EXPECT_TRUE(headless::Windows().empty());
}

// --- Handles and destruction -------------------------------------------------

TEST_F(WindowManagerTest, DestroySendsDestroyThenNcDestroyOnce) {
    HWND hwnd = Shown();
    PostMessageA(hwnd, WM_USER, 1, 2);
    handler = [&](HWND h, UINT message, WPARAM, LPARAM, LRESULT*) {
        if (message == WM_DESTROY) {
            EXPECT_TRUE(IsWindow(h));
            EXPECT_FALSE(DestroyWindow(h)) << "destroyed twice";
        }
        return false;
    };
    EXPECT_TRUE(DestroyWindow(hwnd));
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(DestroyWindow(hwnd));
    EXPECT_TRUE(headless::Windows().empty());
    // The message posted to it went with it.
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Count(WM_USER), 0);
}

TEST_F(WindowManagerTest, StaleAndForgedHandlesFailCleanly) {
    HWND stale = Shown();
    ASSERT_TRUE(DestroyWindow(stale));
    // The freed slot is reused with a new handle; the old one stays dead.
    HWND fresh = Shown();
    ASSERT_NE(fresh, stale);
    received.clear();

    std::vector<HWND> bad = {
        stale,
        reinterpret_cast<HWND>(1),
        reinterpret_cast<HWND>(0x20),
        reinterpret_cast<HWND>(0xFFFF),
        reinterpret_cast<HWND>(~std::uintptr_t{0}),
        reinterpret_cast<HWND>(std::uintptr_t{0x12345678}),
        reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(fresh) ^ 0x10000),
        reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(fresh) |
                               (std::uintptr_t{1} << 40))};
    for (HWND hwnd : bad) {
        SCOPED_TRACE(reinterpret_cast<std::uintptr_t>(hwnd));
        RECT rect = {1, 2, 3, 4};
        PAINTSTRUCT paint;
        MSG msg = {};
        msg.hwnd = hwnd;
        msg.message = WM_USER;
        EXPECT_FALSE(IsWindow(hwnd));
        EXPECT_FALSE(IsWindowVisible(hwnd));
        EXPECT_FALSE(DestroyWindow(hwnd));
        EXPECT_FALSE(ShowWindow(hwnd, SW_SHOW));
        EXPECT_FALSE(UpdateWindow(hwnd));
        EXPECT_FALSE(InvalidateRect(hwnd, NULL, TRUE));
        EXPECT_FALSE(GetClientRect(hwnd, &rect));
        EXPECT_FALSE(GetWindowRect(hwnd, &rect));
        EXPECT_EQ(GetDC(hwnd), nullptr);
        EXPECT_EQ(ReleaseDC(hwnd, NULL), 0);
        EXPECT_EQ(BeginPaint(hwnd, &paint), nullptr);
        EXPECT_EQ(SendMessageA(hwnd, WM_USER, 0, 0), 0);
        EXPECT_FALSE(PostMessageA(hwnd, WM_USER, 0, 0));
        EXPECT_EQ(DispatchMessageA(&msg), 0);
        EXPECT_EQ(DefWindowProcA(hwnd, WM_CLOSE, 0, 0), 0);
        EXPECT_EQ(GetMessageA(&msg, hwnd, 0, 0), -1);
        EXPECT_FALSE(headless::InjectClose(hwnd));
    }
    EXPECT_TRUE(received.empty()) << "a bad handle reached a window procedure";
    EXPECT_TRUE(IsWindow(fresh));
}

// --- The message queue -------------------------------------------------------

TEST_F(WindowManagerTest, GetMessageTakesPostedThenQuitThenPaint) {
    HWND hwnd = Shown();
    InvalidateRect(hwnd, NULL, FALSE);
    PostMessageA(hwnd, WM_USER, 1, 0);
    PostQuitMessage(7);
    PostMessageA(NULL, WM_USER + 1, 2, 0);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, NULL, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));
    EXPECT_EQ(msg.hwnd, hwnd);
    ASSERT_EQ(GetMessageA(&msg, NULL, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
    EXPECT_EQ(msg.hwnd, nullptr);
    ASSERT_EQ(GetMessageA(&msg, NULL, 0, 0), FALSE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 7u);
    ASSERT_EQ(GetMessageA(&msg, NULL, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(msg.hwnd, hwnd);
    DispatchMessageA(&msg);
    // Nothing more: without any display event to come, the queue reports
    // that it cannot wait rather than blocking forever.
    EXPECT_EQ(GetMessageA(&msg, NULL, 0, 0), -1);
    EXPECT_EQ(GetMessageA(NULL, NULL, 0, 0), -1);
}

TEST_F(WindowManagerTest, GetMessageFilters) {
    HWND a = Shown();
    HWND b = Shown();
    PostMessageA(a, WM_USER + 5, 0, 0);
    PostMessageA(b, WM_USER + 6, 0, 0);
    PostMessageA(NULL, WM_USER + 7, 0, 0);
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, b, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 6));
    ASSERT_EQ(GetMessageA(&msg, reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1)), 0, 0),
              TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 7));
    ASSERT_EQ(GetMessageA(&msg, NULL, WM_USER + 5, WM_USER + 5), TRUE);
    EXPECT_EQ(msg.hwnd, a);
}

TEST_F(WindowManagerTest, PostedMessagesAreBounded) {
    HWND hwnd = Shown();
    int accepted = 0;
    for (int i = 0; i < 10050; ++i) {
        accepted += PostMessageA(hwnd, WM_USER, 0, 0) ? 1 : 0;
    }
    EXPECT_EQ(accepted, 10000);
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Count(WM_USER), 10000);
}

TEST_F(WindowManagerTest, SendMessageCallsTheProcedureAtOnce) {
    HWND hwnd = Shown();
    handler = [&](HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
        if (message == WM_USER) {
            *result = static_cast<LRESULT>(wParam + lParam);
            return true;
        }
        return false;
    };
    EXPECT_EQ(SendMessageA(hwnd, WM_USER, 40, 2), 42);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_FALSE(TranslateMessage(NULL));
}

// --- Painting ----------------------------------------------------------------

TEST_F(WindowManagerTest, UpdateWindowPaintsOnlyWhenSomethingIsInvalid) {
    HWND hwnd = Create(0, 0, 120, 80);
    EXPECT_TRUE(UpdateWindow(hwnd));
    EXPECT_EQ(Count(WM_PAINT), 0) << "painted while hidden";
    ShowWindow(hwnd, SW_SHOWNORMAL);
    EXPECT_EQ(Count(WM_PAINT), 0) << "ShowWindow painted by itself";
    EXPECT_TRUE(UpdateWindow(hwnd));
    EXPECT_EQ(Count(WM_PAINT), 1);
    EXPECT_TRUE(UpdateWindow(hwnd));
    EXPECT_EQ(Count(WM_PAINT), 1) << "DefWindowProcA did not validate";
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Count(WM_PAINT), 1);
}

TEST_F(WindowManagerTest, BeginPaintErasesWithTheClassBrushAndValidates) {
    HWND hwnd = Shown(200, 100);
    // Paint the whole client area blue without erasing.
    HDC dc = GetDC(hwnd);
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    HGDIOBJ old = SelectObject(dc, blue);
    PatBlt(dc, 0, 0, 200, 100, PATCOPY);
    SelectObject(dc, old);
    EXPECT_EQ(ReleaseDC(hwnd, dc), 1);
    EXPECT_EQ(View(hwnd).Pixel(150, 50), kBlue);

    RECT area = {20, 10, 70, 40};
    InvalidateRect(hwnd, &area, TRUE);
    PAINTSTRUCT seen = {};
    std::vector<UINT> insideBeginPaint;
    handler = [&](HWND h, UINT message, WPARAM, LPARAM, LRESULT*) {
        if (message == WM_PAINT) {
            std::size_t before = received.size();
            EXPECT_NE(BeginPaint(h, &seen), nullptr);
            for (std::size_t i = before; i < received.size(); ++i) {
                insideBeginPaint.push_back(received[i].message);
            }
            EndPaint(h, &seen);
            return true;
        }
        return false;
    };
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_PAINT, WM_ERASEBKGND}));
    EXPECT_EQ(insideBeginPaint, (std::vector<UINT>{WM_ERASEBKGND}));
    EXPECT_EQ(Corners(seen.rcPaint), Corners(RECT{20, 10, 70, 40}));
    EXPECT_FALSE(seen.fErase);
    headless::WindowView view = View(hwnd);
    EXPECT_EQ(view.Pixel(20, 10), kWhite);
    EXPECT_EQ(view.Pixel(69, 39), kWhite);
    EXPECT_EQ(view.Pixel(70, 39), kBlue) << "erased beyond the update region";
    EXPECT_EQ(view.Pixel(19, 10), kBlue);
    // Only the erased area went to the display.
    ASSERT_FALSE(view.presented.empty());
    EXPECT_EQ(view.presented.back().left, 20);
    EXPECT_EQ(view.presented.back().right, 70);
    DeleteObject(blue);

    // Invalidated without erasing: no WM_ERASEBKGND.
    received.clear();
    insideBeginPaint.clear();
    InvalidateRect(hwnd, &area, FALSE);
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_PAINT}));
    EXPECT_TRUE(insideBeginPaint.empty());
}

TEST_F(WindowManagerTest, EraseReportsWhenTheProcedureLeftItUndone) {
    HWND hwnd = Shown();
    InvalidateRect(hwnd, NULL, TRUE);
    PAINTSTRUCT seen = {};
    handler = [&](HWND h, UINT message, WPARAM, LPARAM, LRESULT* result) {
        if (message == WM_ERASEBKGND) {
            *result = 0;
            return true;
        }
        if (message == WM_PAINT) {
            BeginPaint(h, &seen);
            EndPaint(h, &seen);
            return true;
        }
        return false;
    };
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_TRUE(seen.fErase);
}

TEST_F(WindowManagerTest, EraseRequestsAreKeptUntilThePaint) {
    HWND hwnd = Shown(200, 100);
    FillBlack(hwnd, 0, 0, 200, 100);
    // An erasing request followed by a non-erasing one still erases.
    RECT first = {0, 0, 10, 10};
    RECT second = {50, 50, 60, 60};
    InvalidateRect(hwnd, &first, TRUE);
    InvalidateRect(hwnd, &second, FALSE);
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Count(WM_ERASEBKGND), 1);
    headless::WindowView view = View(hwnd);
    EXPECT_EQ(view.Pixel(5, 5), kWhite);
    EXPECT_EQ(view.Pixel(55, 55), kWhite);
    EXPECT_EQ(view.Pixel(30, 30), 0u) << "erased outside the update region";
}

TEST_F(WindowManagerTest, ALargerInvalidationTakesInTheSmallerPendingOne) {
    HWND hwnd = Shown(200, 100);
    RECT small = {30, 20, 40, 30}, large = {10, 10, 120, 80}, painted = {};
    InvalidateRect(hwnd, &small, TRUE);
    InvalidateRect(hwnd, &large, TRUE);
    handler = KeepPaintRect(&painted);
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Count(WM_PAINT), 1);
    EXPECT_EQ(Corners(painted), Corners(large));
    EXPECT_EQ(Corners(View(hwnd).presented.back()), Corners(large));
}

TEST_F(WindowManagerTest, ClassWithoutBrushIsNotErased) {
    WNDCLASSEXA wc = TestClass("NoBrush");
    wc.hbrBackground = NULL;
    ASSERT_NE(RegisterClassExA(&wc), 0);
    HWND hwnd = CreateWindowExA(0, "NoBrush", "", WS_VISIBLE, 0, 0, 30, 30, NULL, NULL, NULL, NULL);
    HDC dc = GetDC(hwnd);
    EXPECT_EQ(SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 0);
    ReleaseDC(hwnd, dc);
    // A brush handle that is no brush at all is refused, not used.
    WNDCLASSEXA forged = TestClass("ForgedBrush");
    forged.hbrBackground = reinterpret_cast<HBRUSH>(std::uintptr_t{6});
    ASSERT_NE(RegisterClassExA(&forged), 0);
    hwnd = CreateWindowExA(0, "ForgedBrush", "", WS_VISIBLE, 0, 0, 30, 30, NULL, NULL, NULL, NULL);
    ASSERT_NE(hwnd, nullptr);
    EXPECT_TRUE(UpdateWindow(hwnd));
    EXPECT_EQ(PumpUntilIdle(), -1);
    dc = GetDC(hwnd);
    EXPECT_EQ(SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 0);
    ReleaseDC(hwnd, dc);
}

TEST_F(WindowManagerTest, ExposedAreasArePaintedAgain) {
    HWND hwnd = Shown(300, 200);
    RECT painted = {};
    handler = KeepPaintRect(&painted);
    ASSERT_TRUE(headless::InjectExpose(hwnd, RECT{5, 6, 50, 60}));
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Count(WM_PAINT), 1);
    EXPECT_EQ(painted.left, 5);
    EXPECT_EQ(painted.bottom, 60);
    // An exposure reaching past the client area is clipped to it.
    ASSERT_TRUE(headless::InjectExpose(hwnd, RECT{250, 150, 900, 900}));
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(painted.right, 300);
    EXPECT_EQ(painted.bottom, 200);
}

TEST_F(WindowManagerTest, DrawingReachesTheDisplayOnlyForTheChangedArea) {
    HWND hwnd = Shown(300, 200);
    size_t before = View(hwnd).presented.size();
    FillBlack(hwnd, 100, 50, 10, 5);
    headless::WindowView view = View(hwnd);
    ASSERT_EQ(view.presented.size(), before + 1);
    EXPECT_EQ(Corners(view.presented.back()), Corners(RECT{100, 50, 110, 55}));
    EXPECT_EQ(view.Pixel(100, 50), 0u);
    EXPECT_EQ(view.Pixel(110, 50), kWhite);
}

TEST_F(WindowManagerTest, ReleaseDCNeedsTheRightWindowAndDC) {
    HWND a = Shown();
    HWND b = Shown();
    HDC dc = GetDC(a);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(ReleaseDC(b, dc), 0);
    EXPECT_EQ(ReleaseDC(NULL, dc), 0);
    EXPECT_EQ(ReleaseDC(a, dc), 1);
    EXPECT_EQ(ReleaseDC(a, dc), 0);
    HDC screen = GetDC(NULL);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(ReleaseDC(a, screen), 0);
    EXPECT_EQ(ReleaseDC(NULL, screen), 1);
    EXPECT_EQ(ReleaseDC(NULL, screen), 0);
}

TEST_F(WindowManagerTest, DCsOfADestroyedWindowGoWithIt) {
    HWND hwnd = Shown();
    HDC dc = GetDC(hwnd);
    PAINTSTRUCT paint;
    HDC paintDC = BeginPaint(hwnd, &paint);
    ASSERT_NE(paintDC, nullptr);
    ASSERT_TRUE(DestroyWindow(hwnd));
    // The window's DC was freed with it; the paint DC draws nothing, and
    // EndPaint still frees it.
    EXPECT_FALSE(DeleteDC(dc));
    SelectObject(paintDC, GetStockObject(BLACK_BRUSH));
    PatBlt(paintDC, 0, 0, 100, 100, PATCOPY);
    EXPECT_TRUE(EndPaint(hwnd, &paint));
    EXPECT_FALSE(DeleteDC(paintDC));
}

// --- The default procedure and the display's events ---------------------------

TEST_F(WindowManagerTest, CloseFromTheDisplayDestroysTheWindow) {
    HWND hwnd = Shown();
    ASSERT_TRUE(headless::InjectClose(hwnd));
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_CLOSE, WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_TRUE(headless::Windows().empty());
}

TEST_F(WindowManagerTest, NativeWindowDestroyedElsewhereDestroysTheWindow) {
    HWND hwnd = Shown();
    ASSERT_TRUE(headless::InjectDestroyed(hwnd));
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Messages(), (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    EXPECT_FALSE(IsWindow(hwnd));
}

TEST_F(WindowManagerTest, KeyPressesArePostedAsCharactersOfTheAnsiCodePage) {
    HWND hwnd = Shown();
    // é and ß are the same byte in Windows-1252, € moves into 0x80..0x9F,
    // U+0081 keeps its unassigned byte, Ω has its best fit 'O', and what the
    // code page lacks (an emoji, the C1 control U+0080, code points beyond
    // U+FFFF whose low 16 bits are é, € and Ω, one beyond Unicode) becomes
    // '?'.
    std::u32string typed =
        U"a\r\u00e9\u20ac\u00df\u0081\u03a9\U0001F600\u0080\U000100E9\U000120AC\U000103A9";
    typed += static_cast<char32_t>(0x1100E9);
    ASSERT_TRUE(headless::InjectChars(hwnd, typed));
    MSG msg;
    std::vector<WPARAM> chars;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        EXPECT_EQ(msg.hwnd, hwnd);
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_CHAR));
        EXPECT_EQ(LOWORD(msg.lParam), 1) << "repeat count";
        chars.push_back(msg.wParam);
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(chars, (std::vector<WPARAM>{'a', '\r', 0xE9, 0x80, 0xDF, 0x81, 'O', '?', '?', '?',
                                          '?', '?', '?'}));
    EXPECT_TRUE(IsWindow(hwnd));
}

TEST_F(WindowManagerTest, PositionChangesBecomeMoveAndSizeThroughTheDefaultProcedure) {
    HWND hwnd = Shown(200, 100);
    std::vector<WINDOWPOS> positions;
    handler = [&](HWND, UINT message, WPARAM, LPARAM lParam, LRESULT*) {
        if (message == WM_WINDOWPOSCHANGED) {
            positions.push_back(*reinterpret_cast<WINDOWPOS*>(lParam));
        }
        return false;
    };
    ASSERT_TRUE(headless::InjectConfigure(hwnd, RECT{40, 30, 240, 130}));  // moved only
    ASSERT_TRUE(headless::InjectConfigure(hwnd, RECT{40, 30, 340, 180}));  // resized only
    ASSERT_TRUE(headless::InjectConfigure(hwnd, RECT{40, 30, 340, 180}));  // no change
    EXPECT_EQ(PumpUntilIdle(), -1);

    ASSERT_EQ(positions.size(), 2u);
    EXPECT_EQ(positions[0].hwnd, hwnd);
    EXPECT_EQ(positions[0].x, 40);
    EXPECT_EQ(positions[0].y, 30);
    EXPECT_EQ(positions[0].flags & (SWP_NOMOVE | SWP_NOSIZE), static_cast<UINT>(SWP_NOSIZE));
    EXPECT_EQ(positions[1].cx, 300);
    EXPECT_EQ(positions[1].cy, 150);
    EXPECT_EQ(positions[1].flags & (SWP_NOMOVE | SWP_NOSIZE), static_cast<UINT>(SWP_NOMOVE));

    std::vector<Received> moves;
    for (const Received& r : received) {
        if (r.message == WM_MOVE || r.message == WM_SIZE) {
            moves.push_back(r);
        }
    }
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0].message, static_cast<UINT>(WM_MOVE));
    EXPECT_EQ(moves[0].lParam, MAKELPARAM(40, 30));
    EXPECT_EQ(moves[1].message, static_cast<UINT>(WM_SIZE));
    EXPECT_EQ(moves[1].wParam, static_cast<WPARAM>(SIZE_RESTORED));
    EXPECT_EQ(moves[1].lParam, MAKELPARAM(300, 150));
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 150);
    // The window on the screen is where the display last put it.
    RECT window = {};
    ASSERT_TRUE(GetWindowRect(hwnd, &window));
    EXPECT_EQ(Corners(window), Corners(RECT{40, 30, 340, 180}));
    EXPECT_FALSE(GetWindowRect(hwnd, nullptr));
}

TEST_F(WindowManagerTest, ResizingKeepsOldPixelsAndErasesTheNewArea) {
    HWND hwnd = Shown(100, 80);
    FillBlack(hwnd, 0, 0, 100, 80);
    RECT painted = {};
    handler = KeepPaintRect(&painted);
    ASSERT_TRUE(headless::InjectConfigure(hwnd, RECT{10, 20, 170, 140}));
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Count(WM_PAINT), 1);
    EXPECT_EQ(painted.left, 0);
    EXPECT_EQ(painted.right, 160);
    headless::WindowView view = View(hwnd);
    ASSERT_EQ(view.Width(), 160);
    EXPECT_EQ(view.Pixel(99, 79), 0u) << "old pixels were not kept";
    EXPECT_EQ(view.Pixel(100, 0), kWhite);
    EXPECT_EQ(view.Pixel(0, 80), kWhite);
    EXPECT_EQ(view.Pixel(159, 119), kWhite);

    // Shrinking needs no paint at all.
    received.clear();
    ASSERT_TRUE(headless::InjectConfigure(hwnd, RECT{10, 20, 60, 50}));
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Count(WM_PAINT), 0);
    EXPECT_EQ(View(hwnd).Pixel(49, 29), 0u);
}

TEST_F(WindowManagerTest, ShowWindowStatesAndResults) {
    HWND hwnd = Create(0, 0, 100, 100);
    EXPECT_FALSE(ShowWindow(hwnd, SW_SHOWMINIMIZED)) << "was hidden";
    EXPECT_EQ(View(hwnd).show, platform::WindowShow::kMinimized);
    EXPECT_TRUE(ShowWindow(hwnd, SW_SHOW)) << "was visible";
    EXPECT_EQ(View(hwnd).show, platform::WindowShow::kMinimized) << "SW_SHOW keeps the state";
    EXPECT_TRUE(ShowWindow(hwnd, SW_SHOWDEFAULT));
    EXPECT_EQ(View(hwnd).show, platform::WindowShow::kNormal);
    EXPECT_TRUE(ShowWindow(hwnd, SW_HIDE));
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_FALSE(ShowWindow(hwnd, SW_HIDE));
    EXPECT_FALSE(ShowWindow(hwnd, 99));
    EXPECT_FALSE(ShowWindow(hwnd, -1));
    EXPECT_EQ(View(hwnd).show, platform::WindowShow::kHidden);

    // Maximised, the display gives it the screen.
    received.clear();
    EXPECT_FALSE(ShowWindow(hwnd, SW_SHOWMAXIMIZED));
    EXPECT_EQ(PumpUntilIdle(), -1);
    RECT client;
    GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 1000);
    EXPECT_EQ(client.bottom, 800);
    EXPECT_EQ(Count(WM_SIZE), 1);
    EXPECT_EQ(received[0].message, static_cast<UINT>(WM_WINDOWPOSCHANGED));
}

TEST_F(WindowManagerTest, SystemMetricsFollowTheScreen) {
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1000);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 800);
    headless::SetScreenSize(1920, 1080);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 1080);
    EXPECT_EQ(GetSystemMetrics(2), 0);
    EXPECT_EQ(GetSystemMetrics(-1), 0);
}

TEST_F(WindowManagerTest, SystemIconAndCursor) {
    EXPECT_NE(LoadIconA(NULL, IDI_APPLICATION), nullptr);
    EXPECT_NE(LoadCursorA(NULL, IDC_ARROW), nullptr);
    EXPECT_EQ(LoadIconA(NULL, "custom"), nullptr);
    EXPECT_EQ(LoadCursorA(reinterpret_cast<HINSTANCE>(0x400000), IDC_ARROW), nullptr);
}

// --- The program's start -----------------------------------------------------

struct WinMainCall {
    int calls = 0;
    HINSTANCE instance = NULL;
    HINSTANCE previous = reinterpret_cast<HINSTANCE>(1);
    std::string commandLine;
    int showCommand = -1;
    bool hadDisplay = false;
} winMainCall;

}  // namespace

// This executable's WinMain, as RunWinMain calls it.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand) {
    ++winMainCall.calls;
    winMainCall.instance = instance;
    winMainCall.previous = previous;
    winMainCall.commandLine = commandLine;
    winMainCall.showCommand = showCommand;
    winMainCall.hadDisplay = GetSystemMetrics(SM_CXSCREEN) == 640;
    WNDCLASSEXA wc = TestClass("LeftOver");
    RegisterClassExA(&wc);
    CreateWindowExA(0, "LeftOver", "", WS_VISIBLE, 0, 0, 10, 10, NULL, NULL, instance, NULL);
    return 42;
}

namespace {

TEST(RunWinMainTest, PassesTheJoinedArgumentsAndForgetsWhatWinMainLeft) {
    headless::Start(640, 480);
    char program[] = "/usr/bin/ostrevane";
    char a[] = "--size";
    char b[] = "two words";
    char c[] = "";
    char d[] = "\xe9";
    char* argv[] = {program, a, b, c, d, nullptr};
    winMainCall = WinMainCall();
    EXPECT_EQ(platform::RunWinMain(5, argv, headless::GetBackend()), 42);
    EXPECT_EQ(winMainCall.calls, 1);
    EXPECT_NE(winMainCall.instance, nullptr);
    EXPECT_EQ(winMainCall.previous, nullptr);
    EXPECT_EQ(winMainCall.commandLine, "--size two words  \xe9");
    EXPECT_EQ(winMainCall.showCommand, SW_SHOWDEFAULT);
    EXPECT_TRUE(winMainCall.hadDisplay);
    // The window WinMain left behind is gone, and so is the display.
    EXPECT_TRUE(headless::Windows().empty());
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 0);

    char* bare[] = {program, nullptr};
    EXPECT_EQ(platform::RunWinMain(1, bare, headless::GetBackend()), 42);
    EXPECT_EQ(winMainCall.commandLine, "");
    headless::Stop();
}

}  // namespace
