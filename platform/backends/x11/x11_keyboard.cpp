// The X11 display's keyboard: the text the input method hands out.
#include "platform/backends/x11/x11_backend.h"

namespace platform {
namespace x11 {

int DecodeUtf8(const char* text, std::size_t length, char32_t* out, int capacity) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    int written = 0;
    std::size_t i = 0;
    while (i < length && written < capacity) {
        const unsigned lead = bytes[i];
        // How many bytes follow the lead, and the range of the first of
        // them, which rules out overlong forms, surrogates and code points
        // beyond U+10FFFF.
        int more = 0;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        char32_t point = lead;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
            point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            point = lead & 0x0F;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            point = lead & 0x07;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else if (lead >= 0x80) {
            point = 0xFFFD;  // a continuation byte, or one that starts nothing
        }
        ++i;
        for (int k = 0; k < more; ++k, ++i, low = 0x80, high = 0xBF) {
            if (i >= length || bytes[i] < low || bytes[i] > high) {
                // Cut short: what was read so far is one U+FFFD, and the
                // byte that broke it off starts afresh.
                point = 0xFFFD;
                break;
            }
            point = (point << 6) | (bytes[i] & 0x3F);
        }
        out[written++] = point;
    }
    return written;
}

}  // namespace x11
}  // namespace platform
