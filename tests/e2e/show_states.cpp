// A window that goes through the show states as keys are typed at it, on
// whichever display the desktop entry point opens:
//   h  hidden and at once shown again (a new native window role)
//   m  maximised        r  restored
//   n  minimised and at once restored
//   c  painted again, grey and white in turn
// It ends with exit code 0 when closed. The end-to-end tests type at it and
// watch that the display takes each change without a protocol error.
#include <windows.h>

namespace {

bool grey = false;

LRESULT CALLBACK StatesProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CHAR:
            switch (static_cast<char>(wParam)) {
                case 'h':
                    ShowWindow(hwnd, SW_HIDE);
                    ShowWindow(hwnd, SW_SHOWNORMAL);
                    break;
                case 'm':
                    ShowWindow(hwnd, SW_SHOWMAXIMIZED);
                    break;
                case 'r':
                    ShowWindow(hwnd, SW_RESTORE);
                    break;
                case 'n':
                    ShowWindow(hwnd, SW_MINIMIZE);
                    ShowWindow(hwnd, SW_RESTORE);
                    break;
                case 'c':
                    grey = !grey;
                    InvalidateRect(hwnd, NULL, TRUE);
                    break;
            }
            return 0;
        case WM_ERASEBKGND:
            if (grey) {
                HDC dc = reinterpret_cast<HDC>(wParam);
                RECT client;
                GetClientRect(hwnd, &client);
                HGDIOBJ old = SelectObject(dc, GetStockObject(GRAY_BRUSH));
                PatBlt(dc, 0, 0, client.right, client.bottom, PATCOPY);
                SelectObject(dc, old);
                return 1;
            }
            break;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = StatesProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = "ShowStates";
    if (RegisterClassExA(&windowClass) == 0) {
        return 1;
    }
    HWND hwnd = CreateWindowExA(0, "ShowStates", "Show states", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 320, 240, NULL, NULL, instance, NULL);
    if (hwnd == NULL) {
        return 1;
    }
    ShowWindow(hwnd, showCommand);
    UpdateWindow(hwnd);
    MSG msg;
    BOOL result;
    while ((result = GetMessageA(&msg, NULL, 0, 0)) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return result == 0 ? static_cast<int>(msg.wParam) : 1;
}
