// Prints the WM_CHAR byte that a window of an ANSI class receives for each
// character of the Basic Multilingual Plane, surrogates aside, one
// "XXXX YY" line each (code point, byte, in hex). Built for Windows, where
// the character is sent as a wide WM_CHAR and the system converts it (run
// under Wine), and against platform/, where the headless display delivers it
// as a typed character; the two outputs must be identical.
#include <windows.h>

#include <stdio.h>

#include <vector>

#ifndef _WIN32
#include "platform/backends/headless/headless_control.h"
#endif

namespace {

std::vector<WPARAM> received;

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CHAR) {
        received.push_back(wParam);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

bool IsSurrogate(unsigned c) { return c >= 0xD800 && c <= 0xDFFF; }

#ifdef _WIN32
HINSTANCE StartDisplay() { return GetModuleHandleA(NULL); }

HWND MakeWindow(HINSTANCE instance, const char* className) {
    return CreateWindowExA(0, className, "chars", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, instance,
                           NULL);
}

// The system converts the wide character for the ANSI procedure.
bool Deliver(HWND hwnd, const std::vector<unsigned>& chars) {
    for (unsigned c : chars) {
        SendMessageW(hwnd, WM_CHAR, c, 1);
    }
    return true;
}
#else
HINSTANCE StartDisplay() {
    platform::headless::Start(640, 480);
    return NULL;
}

HWND MakeWindow(HINSTANCE instance, const char* className) {
    return CreateWindowExA(0, className, "chars", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL, NULL,
                           instance, NULL);
}

// Typed on the display, as key presses of up to 16 characters each (all
// that one display event holds), pumped before the message queue fills.
bool Deliver(HWND hwnd, const std::vector<unsigned>& chars) {
    const size_t kPerPress = 16;
    const size_t kPerPump = 640;
    for (size_t start = 0; start < chars.size(); start += kPerPress) {
        std::u32string press;
        for (size_t i = start; i < chars.size() && i < start + kPerPress; ++i) {
            press += static_cast<char32_t>(chars[i]);
        }
        if (!platform::headless::InjectChars(hwnd, press)) {
            return false;
        }
        if ((start + kPerPress) % kPerPump == 0 || start + kPerPress >= chars.size()) {
            // The headless display reports itself broken once nothing is
            // queued: GetMessageA's -1 ends the pump.
            MSG msg;
            while (GetMessageA(&msg, NULL, 0, 0) > 0) {
                DispatchMessageA(&msg);
            }
        }
    }
    return true;
}
#endif

}  // namespace

int main() {
    HINSTANCE instance = StartDisplay();
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = RecordingProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "CharHarness";
    if (RegisterClassExA(&windowClass) == 0) {
        fprintf(stderr, "RegisterClassExA failed\n");
        return 1;
    }
    HWND hwnd = MakeWindow(instance, "CharHarness");
    if (hwnd == NULL) {
        fprintf(stderr, "CreateWindowExA failed\n");
        return 1;
    }
    std::vector<unsigned> chars;
    for (unsigned c = 0; c <= 0xFFFF; ++c) {
        if (!IsSurrogate(c)) {
            chars.push_back(c);
        }
    }
    if (!Deliver(hwnd, chars) || received.size() != chars.size()) {
        fprintf(stderr, "%u characters sent, %u WM_CHARs received\n",
                static_cast<unsigned>(chars.size()), static_cast<unsigned>(received.size()));
        return 1;
    }
    for (size_t i = 0; i < chars.size(); ++i) {
        printf("%04X %02X\n", chars[i], static_cast<unsigned>(received[i]));
    }
    return 0;
}
