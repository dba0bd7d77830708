// The program's window shell (WindowProc, MainWindow, WinMain) on the
// headless display: what it draws, when, and what it leaves alone.
//
// The test links with --wrap for DeleteDC, DeleteObject, PostQuitMessage and
// DefWindowProcA, so that every call the shell makes to them is logged in
// order before it goes through.
#include <windows.h>

#include <gtest/gtest.h>
#include <platform_extras.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/canvas.h"
#include "common/screen_metrics.h"
#include "platform/backends/headless/headless_control.h"
#include "render/figure.h"
#include "shell/main_window.h"
#include "shell/window_proc.h"
#include "tests/support/win32_test_support.h"

namespace headless = platform::headless;

// --- Call log through the linker's --wrap -----------------------------------

namespace {

struct Call {
    std::string function;
    std::uintptr_t argument;
};
std::vector<Call> calls;

void Log(const char* function, std::uintptr_t argument) {
    calls.push_back(Call{function, argument});
}

std::uintptr_t Value(const void* handle) { return reinterpret_cast<std::uintptr_t>(handle); }

}  // namespace

extern "C" {
BOOL __real_DeleteDC(HDC hdc);
BOOL __real_DeleteObject(HGDIOBJ object);
void __real_PostQuitMessage(int exitCode);
LRESULT __real_DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

BOOL __wrap_DeleteDC(HDC hdc) {
    Log("DeleteDC", Value(hdc));
    return __real_DeleteDC(hdc);
}
BOOL __wrap_DeleteObject(HGDIOBJ object) {
    Log("DeleteObject", Value(object));
    return __real_DeleteObject(object);
}
void __wrap_PostQuitMessage(int exitCode) {
    Log("PostQuitMessage", static_cast<std::uintptr_t>(exitCode));
    __real_PostQuitMessage(exitCode);
}
LRESULT __wrap_DefWindowProcA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Log("DefWindowProcA", message);
    return __real_DefWindowProcA(hwnd, message, wParam, lParam);
}
}

namespace {

const std::uint32_t kRed = 0xFF0000;
const std::uint32_t kWhite = 0xFFFFFF;

using test_support::PumpUntilIdle;

// Messages that reached the window procedure, in order.
test_support::MessageLog messageLog;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    messageLog.Record(hwnd, message, wParam, lParam);
    return WindowProc(hwnd, message, wParam, lParam);
}

int Count(UINT message) { return messageLog.Count(message); }

bool Called(const char* function, std::uintptr_t argument) {
    for (const Call& call : calls) {
        if (call.function == function && call.argument == argument) {
            return true;
        }
    }
    return false;
}

// The program's canvas as it is now.
std::vector<std::uint32_t> Canvas() {
    int scans = 0;
    std::vector<std::uint32_t> pixels = test_support::ProgramCanvasPixels(&scans);
    EXPECT_EQ(scans, screenHeight);
    return pixels;
}

// The figure on a black screen-sized canvas, drawn apart from any window;
// the program's globals are left as they were.
std::vector<std::uint32_t> ReferenceCanvas(int width, int height) {
    const int saved[] = {screenWidth, screenHeight, centreX, centreY};
    HDC savedDC = memoryDC;
    HBITMAP savedBitmap = bitmap;
    test_support::MakeProgramCanvas(width, height);
    DrawFigure(kFigureScale);
    std::vector<std::uint32_t> pixels = Canvas();
    __real_DeleteDC(memoryDC);
    __real_DeleteObject(bitmap);
    memoryDC = savedDC;
    bitmap = savedBitmap;
    screenWidth = saved[0];
    screenHeight = saved[1];
    centreX = saved[2];
    centreY = saved[3];
    return pixels;
}

int CountRed(const std::vector<std::uint32_t>& pixels) {
    return static_cast<int>(std::count(pixels.begin(), pixels.end(), kRed));
}

// Compares what the display shows of the window with the canvas: inside the
// canvas the canvas's pixel, beyond it white. Returns the first mismatch.
::testing::AssertionResult ShowsCanvas(HWND hwnd, const std::vector<std::uint32_t>& canvas,
                                       int canvasWidth, int canvasHeight) {
    headless::WindowView view;
    if (!headless::GetWindowView(hwnd, &view)) {
        return ::testing::AssertionFailure() << "no window on the display";
    }
    for (int y = 0; y < view.Height(); ++y) {
        for (int x = 0; x < view.Width(); ++x) {
            std::uint32_t want = x < canvasWidth && y < canvasHeight
                                     ? canvas[static_cast<std::size_t>(y) * canvasWidth + x]
                                     : kWhite;
            if (view.Pixel(x, y) != want) {
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") of " << view.Width() << "x"
                       << view.Height() << " shows " << std::hex << view.Pixel(x, y)
                       << ", expected " << want;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

void CountLines(void* context, int, int, int, int) { ++*static_cast<int*>(context); }

class ShellTest : public ::testing::Test {
protected:
    static constexpr int kWidth = 800;
    static constexpr int kHeight = 600;

    void SetUp() override {
        headless::Start(kWidth, kHeight);
        messageLog.Clear();
        calls.clear();
        memoryDC = NULL;
        bitmap = NULL;
    }
    void TearDown() override { headless::Stop(); }

    // The program's MainWindow with the recording procedure in front of
    // WindowProc.
    HWND CreateMain(MainWindow* window, int showCommand) {
        window->Create("Ostrevane", showCommand);
        return window->hwnd;
    }

    // Shows the program's window; what follows must keep the canvas it made.
    HWND Show(MainWindow* window) {
        HWND hwnd = CreateMain(window, SW_SHOWNORMAL);
        canvas_ = Canvas();
        canvasDC_ = memoryDC;
        canvasBitmap_ = bitmap;
        EXPECT_TRUE(PlatformObserveLines(memoryDC, CountLines, &lines_));
        calls.clear();
        return hwnd;
    }
    void ExpectCanvasKept() {
        EXPECT_EQ(lines_, 0) << "lines were drawn on the canvas";
        EXPECT_EQ(memoryDC, canvasDC_);
        EXPECT_EQ(bitmap, canvasBitmap_);
        int scans = 0;  // read at its own size, whatever the screen's now
        EXPECT_EQ(test_support::ReadPixels(canvasDC_, canvasBitmap_, kWidth, kHeight, &scans),
                  canvas_);
        EXPECT_EQ(scans, kHeight);
    }

    HINSTANCE instance_ = reinterpret_cast<HINSTANCE>(0x400000);
    std::vector<std::uint32_t> canvas_;
    HDC canvasDC_ = NULL;
    HBITMAP canvasBitmap_ = NULL;
    int lines_ = 0;
};

TEST_F(ShellTest, CreationDrawsTheFigureBeforeCreateWindowReturns) {
    std::vector<std::uint32_t> reference = ReferenceCanvas(kWidth, kHeight);
    ASSERT_GT(CountRed(reference), 1000);

    MainWindow window(instance_, "MyWindow", RecordingProc);
    HWND hwnd =
        CreateWindowExA(0, "MyWindow", "Ostrevane", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, instance_, NULL);
    ASSERT_NE(hwnd, nullptr);
    // Both creation messages were handled inside the call, in order.
    const std::vector<UINT> messages = messageLog.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0], static_cast<UINT>(WM_NCCREATE));
    EXPECT_EQ(messages[1], static_cast<UINT>(WM_CREATE));
    EXPECT_EQ(Count(WM_CREATE), 1);

    EXPECT_EQ(screenWidth, kWidth);
    EXPECT_EQ(screenHeight, kHeight);
    EXPECT_EQ(centreX, kWidth / 2);
    EXPECT_EQ(centreY, kHeight / 2);
    ASSERT_NE(memoryDC, nullptr);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(Canvas(), reference);
}

TEST_F(ShellTest, ShowingPaintsTheCanvasAtOnce) {
    MainWindow window(instance_, "MyWindow", RecordingProc);
    HWND hwnd = CreateMain(&window, SW_SHOWDEFAULT);
    ASSERT_NE(hwnd, nullptr);
    // UpdateWindow painted before Create returned; no loop has run.
    EXPECT_EQ(Count(WM_PAINT), 1);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    headless::WindowView view;
    ASSERT_TRUE(headless::GetWindowView(hwnd, &view));
    EXPECT_EQ(view.show, platform::WindowShow::kNormal);
    EXPECT_EQ(view.title, "Ostrevane");
    EXPECT_EQ(view.className, "MyWindow");
    EXPECT_TRUE(ShowsCanvas(hwnd, Canvas(), kWidth, kHeight));
}

TEST_F(ShellTest, PaintingCopiesTheCanvasWithoutRedrawingIt) {
    MainWindow window(instance_, "MyWindow", RecordingProc);
    HWND hwnd = Show(&window);

    // Paint requests of every kind: the display's, the program's own, and
    // a partial one.
    RECT part = {10, 20, 300, 200};
    ASSERT_TRUE(headless::InjectExpose(hwnd, part));
    ASSERT_TRUE(InvalidateRect(hwnd, NULL, TRUE));
    EXPECT_EQ(PumpUntilIdle(), -1);
    ASSERT_TRUE(InvalidateRect(hwnd, &part, FALSE));
    ASSERT_TRUE(UpdateWindow(hwnd));

    EXPECT_EQ(Count(WM_PAINT), 3);
    ExpectCanvasKept();
    EXPECT_TRUE(ShowsCanvas(hwnd, canvas_, kWidth, kHeight));
    // Validated: nothing is left to paint.
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(Count(WM_PAINT), 3);
}

TEST_F(ShellTest, TypedCharactersAreSwallowed) {
    MainWindow window(instance_, "MyWindow", RecordingProc);
    HWND hwnd = Show(&window);

    ASSERT_TRUE(headless::InjectChars(hwnd, U"q\x1b\r \x03\x17"));
    EXPECT_EQ(PumpUntilIdle(), -1);
    EXPECT_EQ(SendMessageA(hwnd, WM_CHAR, 'x', 1), 0);

    EXPECT_EQ(Count(WM_CHAR), 7);
    for (const Call& call : calls) {
        EXPECT_FALSE(call.function == "DefWindowProcA" && call.argument == WM_CHAR)
            << "WM_CHAR was passed on";
        EXPECT_NE(call.function, "PostQuitMessage");
    }
    EXPECT_TRUE(IsWindow(hwnd));
    ExpectCanvasKept();
    EXPECT_TRUE(ShowsCanvas(hwnd, canvas_, kWidth, kHeight));
}

TEST_F(ShellTest, PositionChangesRefreshOnlyTheScreenMetrics) {
    MainWindow window(instance_, "MyWindow", RecordingProc);
    HWND hwnd = Show(&window);

    // The screen shrinks, then the window is moved and resized.
    headless::SetScreenSize(640, 480);
    ASSERT_TRUE(headless::InjectConfigure(hwnd, RECT{15, 25, 15 + 500, 25 + 400}));
    EXPECT_EQ(PumpUntilIdle(), -1);

    EXPECT_EQ(Count(WM_WINDOWPOSCHANGED), 1);
    EXPECT_EQ(Count(WM_SIZE), 0);
    EXPECT_EQ(Count(WM_MOVE), 0);
    EXPECT_FALSE(Called("DefWindowProcA", WM_WINDOWPOSCHANGED));
    EXPECT_EQ(screenWidth, 640);
    EXPECT_EQ(screenHeight, 480);
    EXPECT_EQ(centreX, 320);
    EXPECT_EQ(centreY, 240);
    ExpectCanvasKept();
}

TEST_F(ShellTest, DestructionDeletesTheDCThenTheBitmapThenPostsQuit) {
    MainWindow window(instance_, "MyWindow", RecordingProc);
    HWND hwnd = CreateMain(&window, SW_SHOWNORMAL);
    const std::uintptr_t canvasDC = Value(memoryDC);
    const std::uintptr_t canvasBitmap = Value(bitmap);
    calls.clear();

    ASSERT_TRUE(headless::InjectClose(hwnd));
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, NULL, 0, 0), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_CLOSE));
    DispatchMessageA(&msg);

    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(Count(WM_DESTROY), 1);
    // The shell's own calls, in order: the canvas's DC, its bitmap, quit.
    std::vector<std::string> order;
    for (const Call& call : calls) {
        if ((call.function == "DeleteDC" && call.argument == canvasDC) ||
            (call.function == "DeleteObject" && call.argument == canvasBitmap) ||
            call.function == "PostQuitMessage") {
            order.push_back(call.function);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"DeleteDC", "DeleteObject", "PostQuitMessage"}));
    EXPECT_TRUE(Called("PostQuitMessage", 0));
    // Both are really gone.
    EXPECT_FALSE(__real_DeleteDC(reinterpret_cast<HDC>(canvasDC)));
    EXPECT_FALSE(__real_DeleteObject(reinterpret_cast<HGDIOBJ>(canvasBitmap)));

    int paintsBefore = Count(WM_PAINT);
    ASSERT_EQ(GetMessageA(&msg, NULL, 0, 0), FALSE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_EQ(Count(WM_PAINT), paintsBefore) << "painted after WM_DESTROY";
}

TEST_F(ShellTest, ClientAreaBeyondTheScreenStaysWhite) {
    headless::Start(320, 240);
    MainWindow window(instance_, "MyWindow", RecordingProc);
    HWND hwnd = CreateMain(&window, SW_SHOWNORMAL);
    std::vector<std::uint32_t> canvas = Canvas();

    ASSERT_TRUE(headless::InjectConfigure(hwnd, RECT{0, 0, 450, 330}));
    EXPECT_EQ(PumpUntilIdle(), -1);

    headless::WindowView view;
    ASSERT_TRUE(headless::GetWindowView(hwnd, &view));
    ASSERT_EQ(view.Width(), 450);
    ASSERT_EQ(view.Height(), 330);
    EXPECT_TRUE(ShowsCanvas(hwnd, canvas, 320, 240));  // white beyond it
}

TEST_F(ShellTest, SmallWindowShowsTheTopLeftOfTheCanvas) {
    MainWindow window(instance_, "MyWindow", RecordingProc);
    HWND hwnd = CreateMain(&window, SW_SHOWNORMAL);
    std::vector<std::uint32_t> canvas = Canvas();

    // Narrower and lower than the figure, which is centred at (400, 300).
    ASSERT_TRUE(headless::InjectConfigure(hwnd, RECT{100, 50, 100 + 430, 50 + 310}));
    EXPECT_EQ(PumpUntilIdle(), -1);
    headless::WindowView view;
    ASSERT_TRUE(headless::GetWindowView(hwnd, &view));
    EXPECT_GT(CountRed(view.pixels), 100);
    EXPECT_TRUE(ShowsCanvas(hwnd, canvas, kWidth, kHeight));

    // Smaller than the distance to the figure: black only.
    ASSERT_TRUE(headless::InjectConfigure(hwnd, RECT{100, 50, 100 + 90, 50 + 60}));
    EXPECT_EQ(PumpUntilIdle(), -1);
    ASSERT_TRUE(headless::GetWindowView(hwnd, &view));
    EXPECT_EQ(CountRed(view.pixels), 0);
    EXPECT_TRUE(ShowsCanvas(hwnd, canvas, kWidth, kHeight));
}

TEST_F(ShellTest, HiddenOrMinimisedStartsStillDrawTheCanvas) {
    std::vector<std::uint32_t> reference = ReferenceCanvas(kWidth, kHeight);
    for (int showCommand : {SW_HIDE, SW_SHOWMINIMIZED, SW_SHOWMINNOACTIVE}) {
        headless::Start(kWidth, kHeight);
        messageLog.Clear();
        MainWindow window(instance_, "MyWindow", RecordingProc);
        HWND hwnd = CreateMain(&window, showCommand);
        ASSERT_NE(hwnd, nullptr) << showCommand;
        EXPECT_EQ(Canvas(), reference) << showCommand;
        headless::WindowView view;
        ASSERT_TRUE(headless::GetWindowView(hwnd, &view));
        EXPECT_EQ(view.show, showCommand == SW_HIDE ? platform::WindowShow::kHidden
                                                    : platform::WindowShow::kMinimized);
        if (showCommand == SW_HIDE) {
            EXPECT_FALSE(IsWindowVisible(hwnd));
            EXPECT_EQ(PumpUntilIdle(), -1);
            EXPECT_EQ(Count(WM_PAINT), 0);
            // Shown later, it paints the canvas.
            ShowWindow(hwnd, SW_SHOWNORMAL);
            EXPECT_EQ(PumpUntilIdle(), -1);
            EXPECT_TRUE(ShowsCanvas(hwnd, reference, kWidth, kHeight));
        }
        DestroyWindow(hwnd);
    }
}

// --- The whole program -------------------------------------------------------

TEST(WinMainTest, RunsUntilTheWindowIsClosedAndReturnsZero) {
    headless::Start(1024, 768);
    std::vector<std::uint32_t> reference = ReferenceCanvas(1024, 768);
    int idleCalls = 0;
    bool showedCanvas = false;
    headless::SetIdleHandler([&]() {
        ++idleCalls;
        std::vector<HWND> windows = headless::Windows();
        if (idleCalls == 1 && windows.size() == 1) {
            showedCanvas = static_cast<bool>(ShowsCanvas(windows[0], reference, 1024, 768));
            headless::InjectChars(windows[0], U"xyz");
            headless::InjectConfigure(windows[0], RECT{5, 5, 605, 405});
        } else if (idleCalls == 2 && windows.size() == 1) {
            headless::InjectClose(windows[0]);
        }
    });
    char program[] = "ostrevane";
    char option[] = "--size";
    char value[] = "1x1";
    char* argv[] = {program, option, value, nullptr};
    int result = platform::RunWinMain(3, argv, headless::GetBackend());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(idleCalls, 2);
    EXPECT_TRUE(showedCanvas);
    EXPECT_TRUE(headless::Windows().empty());
    headless::Stop();
}

TEST(WinMainTest, ReturnsOneWhenTheQueueBreaks) {
    // The display goes away (the headless one reports itself broken when
    // nothing could ever arrive): the loop stops instead of spinning.
    headless::Start(640, 480);
    char program[] = "ostrevane";
    char* argv[] = {program, nullptr};
    EXPECT_EQ(platform::RunWinMain(1, argv, headless::GetBackend()), 1);
    headless::Stop();
}

// The headless display, except that once a native window has gone away on
// its own the display only shows itself lost after `lateness` more looks
// (an X server that shuts down destroys its windows before its connection
// closes). A negative lateness never shows a loss.
class LateLossDisplay : public platform::Backend {
public:
    explicit LateLossDisplay(int lateness) : lateness_(lateness) {}

    void GetScreenSize(int* width, int* height) override {
        headless::GetBackend()->GetScreenSize(width, height);
    }
    bool CreateNativeWindow(platform::WindowId id, const char* className, const char* title,
                            const RECT& rect) override {
        return headless::GetBackend()->CreateNativeWindow(id, className, title, rect);
    }
    void DestroyNativeWindow(platform::WindowId id) override {
        headless::GetBackend()->DestroyNativeWindow(id);
    }
    void ShowNativeWindow(platform::WindowId id, platform::WindowShow show) override {
        headless::GetBackend()->ShowNativeWindow(id, show);
    }
    void Present(platform::WindowId id, const platform::ClientPixels& pixels,
                 const RECT& area) override {
        headless::GetBackend()->Present(id, pixels, area);
    }
    platform::WaitResult NextEvent(platform::BackendEvent* event, bool wait) override {
        if (windowGone_ && lateness_ >= 0 && looks_++ >= lateness_) {
            return platform::WaitResult::kBroken;
        }
        platform::WaitResult result = headless::GetBackend()->NextEvent(event, wait);
        if (result == platform::WaitResult::kEvent &&
            event->type == platform::BackendEvent::kDestroyed) {
            windowGone_ = true;
        }
        return result;
    }

private:
    int lateness_;
    bool windowGone_ = false;
    int looks_ = 0;
};

// WinMain's result when the display takes the program's window away and
// then (lateness as in LateLossDisplay) is lost.
int ResultAfterTheWindowIsTakenAway(int lateness) {
    headless::Start(640, 480);
    LateLossDisplay display(lateness);
    headless::SetIdleHandler([]() {
        std::vector<HWND> windows = headless::Windows();
        if (windows.size() == 1) {
            headless::InjectDestroyed(windows[0]);
        }
    });
    char program[] = "ostrevane";
    char* argv[] = {program, nullptr};
    int result = platform::RunWinMain(1, argv, &display);
    headless::Stop();
    return result;
}

TEST(WinMainTest, ReturnsOneWhenTheDisplayIsLostAfterTakingTheWindowAway) {
    // The program quits through WM_DESTROY before the loss shows: still a
    // failure, not a success. Looks 0 and 1 are the message loop's own.
    for (int lateness : {0, 2, 5}) {
        EXPECT_EQ(ResultAfterTheWindowIsTakenAway(lateness), 1) << "lateness " << lateness;
    }
}

TEST(WinMainTest, ReturnsZeroWhenAWindowIsTakenAwayFromALiveDisplay) {
    EXPECT_EQ(ResultAfterTheWindowIsTakenAway(-1), 0);
}

TEST(WinMainTest, ReturnsOneWhenTheWindowCannotBeMade) {
    // No display installed: creation fails, and the entry point gives up
    // rather than waiting for a quit request nobody would post.
    headless::Stop();
    char program[] = "ostrevane";
    char* argv[] = {program, nullptr};
    EXPECT_EQ(platform::RunWinMain(1, argv, nullptr), 1);
}

}  // namespace
