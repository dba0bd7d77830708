#include "shell/main_window.h"

MainWindow::MainWindow(HINSTANCE hInstance, const char* className, WNDPROC windowProc)
    : hwnd(NULL), msg(), wndClass() {
    wndClass.cbSize = sizeof(wndClass);
    wndClass.style = 0;
    wndClass.lpfnWndProc = windowProc;
    wndClass.cbClsExtra = 0;
    wndClass.cbWndExtra = 0;
    wndClass.hInstance = hInstance;
    wndClass.hIcon = LoadIconA(NULL, IDI_APPLICATION);
    wndClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wndClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wndClass.lpszMenuName = NULL;
    wndClass.lpszClassName = className;
    wndClass.hIconSm = LoadIconA(NULL, IDI_APPLICATION);
    RegisterClassExA(&wndClass);
}

void MainWindow::Create(const char* caption, int showCommand) {
    hwnd = CreateWindowExA(0, wndClass.lpszClassName, caption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL,
                           wndClass.hInstance, NULL);
    ShowWindow(hwnd, showCommand);
    UpdateWindow(hwnd);
}

int MainWindow::MessageLoop() {
    for (;;) {
        BOOL result = GetMessageA(&msg, NULL, 0, 0);
        if (result == 0) {
            return static_cast<int>(msg.wParam);
        }
        if (result == -1) {
            // The queue is broken; waiting on it again would spin forever.
            return 1;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
