// The main window's procedure and the off-screen canvas it owns.
#ifndef OSTREVANE_SHELL_WINDOW_PROC_H
#define OSTREVANE_SHELL_WINDOW_PROC_H

#include <windows.h>

// Handles creation (canvas and figure), painting (copy of the canvas),
// position changes (screen metrics), typed characters (ignored) and
// destruction (canvas freed, quit posted); everything else goes to
// DefWindowProcA.
LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// Reads the screen size into the screen metrics, then makes the canvas: a
// screen-sized bitmap compatible with the window, in its own memory device
// context, filled black.
void CreateCanvas(HWND hwnd);

#endif  // OSTREVANE_SHELL_WINDOW_PROC_H
