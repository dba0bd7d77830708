// Windows-1252, the code page of an ANSI window on a Western Windows: the
// byte that WM_CHAR carries for a character typed as Unicode.
//
// A character of the code page gets its own byte, one it lacks the default
// character '?'.
#include "platform/user/window_manager.h"

namespace {

// Bytes 0x80 to 0x9F, by code point; 0 where the byte is unassigned and
// stands for the C1 control of the same value.
const char16_t kHighBytes[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                 0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

namespace platform {
namespace user {

unsigned char AnsiFromCodePoint(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<unsigned char>(codePoint);
    }
    for (int i = 0; i < 32; ++i) {
        const char32_t mapped =
            kHighBytes[i] != 0 ? kHighBytes[i] : static_cast<char32_t>(0x80 + i);
        if (codePoint == mapped) {
            return static_cast<unsigned char>(0x80 + i);
        }
    }
    return '?';
}

}  // namespace user
}  // namespace platform
