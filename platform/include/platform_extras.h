// Facilities of our Win32 subset that real Windows does not have. Tools and
// tests use them; the program itself never does.
#ifndef OSTREVANE_PLATFORM_EXTRAS_H
#define OSTREVANE_PLATFORM_EXTRAS_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Called for every LineTo on the device context, before it draws, with the
// current position and the end point as passed. One observer per device
// context; NULL removes it. Returns FALSE for an invalid device context.
typedef void (*PlatformLineObserver)(void* context, int x0, int y0, int x1, int y1);
BOOL PlatformObserveLines(HDC hdc, PlatformLineObserver observer, void* context);

#ifdef __cplusplus
}
#endif

#endif  // OSTREVANE_PLATFORM_EXTRAS_H
