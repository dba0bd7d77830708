// The program's one top-level window: its class, the window and its
// message loop.
#ifndef OSTREVANE_SHELL_MAIN_WINDOW_H
#define OSTREVANE_SHELL_MAIN_WINDOW_H

#include <windows.h>

class MainWindow {
public:
    // Fills the window class and registers it.
    MainWindow(HINSTANCE hInstance, const char* className, WNDPROC windowProc);

    // Creates, shows and paints the window. The canvas and the figure are
    // made inside creation. hwnd stays NULL if creation fails.
    void Create(const char* caption, int showCommand);

    // Dispatches messages until the quit request and returns its code;
    // returns 1 if the message queue reports an error.
    int MessageLoop();

    HWND hwnd;
    MSG msg;
    WNDCLASSEXA wndClass;
};

#endif  // OSTREVANE_SHELL_MAIN_WINDOW_H
