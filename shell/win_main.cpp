#include <windows.h>

#include "shell/main_window.h"
#include "shell/window_proc.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow) {
    MainWindow window(hInstance, "MyWindow", WindowProc);
    window.Create("Ostrevane", nCmdShow);
    if (window.hwnd == NULL) {
        // Nobody would ever post the quit request.
        return 1;
    }
    return window.MessageLoop();
}
