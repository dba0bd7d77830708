// Placeholder until the window manager lands: the quit request only.
#include <windows.h>

namespace {
bool quitPosted = false;
int quitCode = 0;
}  // namespace

void WINAPI PostQuitMessage(int exitCode) {
    quitPosted = true;
    quitCode = exitCode;
}
