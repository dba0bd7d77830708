// Device contexts for the screen as a whole, for the window manager's
// GetDC(NULL) / ReleaseDC(NULL, hdc).
//
// A screen device context has 32 bits per pixel: it is the reference for
// CreateCompatibleDC and CreateCompatibleBitmap. It has no pixels of its own,
// so drawing on it draws nothing and reading from it reads nothing.
#ifndef OSTREVANE_PLATFORM_GDI_SCREEN_DC_H
#define OSTREVANE_PLATFORM_GDI_SCREEN_DC_H

#include <windows.h>

namespace platform {

// A new screen device context; null if none can be made. Release it with
// ReleaseScreenDC (or DeleteDC).
HDC CreateScreenDC();

// Deletes `hdc` if it is a screen device context; false otherwise (nothing
// happens to other device contexts).
bool ReleaseScreenDC(HDC hdc);

}  // namespace platform

#endif  // OSTREVANE_PLATFORM_GDI_SCREEN_DC_H
