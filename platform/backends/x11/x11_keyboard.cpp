// Key presses: the characters each one typed, through Xlib's input method
// (dead keys and Compose sequences) where the locale has one, as Latin-1
// otherwise; and the decoding of the input method's UTF-8.
#include <algorithm>
#include <clocale>
#include <iterator>
#include <string>
#include <vector>

#include "platform/backends/x11/x11_backend.h"
#include "platform/backends/x11/x11_display.h"

namespace platform {
namespace x11 {

namespace {

// Xlib's own input method, never an input-method server (whatever
// XMODIFIERS says): it composes dead keys and Compose sequences by the
// table of the user's character set, and hands out text as UTF-8 whatever
// the locale. Xlib takes both from the C library's LC_CTYPE as the method
// opens; the program runs in the "C" locale, so the user's is set for that
// moment only and put back: the program's own locale never changes.
XIM OpenInputMethod(Display* display) {
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    const std::string saved = current != nullptr ? current : "C";
    if (std::setlocale(LC_CTYPE, "") == nullptr || !XSupportsLocale()) {
        std::setlocale(LC_CTYPE, saved.c_str());
    }
    XIM method = nullptr;
    if (XSupportsLocale() && XSetLocaleModifiers("@im=none") != nullptr) {
        method = XOpenIM(display, nullptr, nullptr, nullptr);
    }
    std::setlocale(LC_CTYPE, saved.c_str());
    return method;
}

// The characters a key press typed, through the window's input context:
// none while it composes.
int TypedWithInputMethod(XIC ic, XKeyEvent* key, char32_t* chars, int capacity) {
    char text[64];
    std::vector<char> larger;
    char* buffer = text;
    KeySym keysym = 0;
    Status status = XLookupNone;
    int count = Xutf8LookupString(ic, key, text, static_cast<int>(sizeof(text)), &keysym, &status);
    if (status == XBufferOverflow && count > 0) {
        larger.resize(static_cast<std::size_t>(count));
        buffer = larger.data();
        count = Xutf8LookupString(ic, key, buffer, count, &keysym, &status);
    }
    if ((status != XLookupChars && status != XLookupBoth) || count <= 0) {
        return 0;
    }
    return DecodeUtf8(buffer, static_cast<std::size_t>(count), chars, capacity);
}

// Without an input method: Latin-1, whose bytes are their own code points.
int TypedAsLatin1(XKeyEvent* key, char32_t* chars, int capacity) {
    KeySym keysym = 0;
    char text[16];
    int count = XLookupString(key, text, static_cast<int>(sizeof(text)), &keysym, nullptr);
    count = std::clamp(count, 0, capacity);
    for (int i = 0; i < count; ++i) {
        chars[i] = static_cast<unsigned char>(text[i]);
    }
    return count;
}

}  // namespace

// The window's input context, made at its first key press: the input
// method is opened then too, so that none of it comes before the first
// frame. Null where Xlib has no input method for the locale.
XIC X11Backend::InputContext(NativeWindow& window) {
    if (window.ic == nullptr && !Process().lost) {
        if (!inputMethodTried_) {
            inputMethodTried_ = true;
            inputMethod_ = OpenInputMethod(display_);
        }
        if (inputMethod_ != nullptr) {
            window.ic = XCreateIC(inputMethod_, XNInputStyle,
                                  static_cast<long>(XIMPreeditNothing | XIMStatusNothing),
                                  XNClientWindow, window.xid, XNFocusWindow, window.xid, nullptr);
        }
    }
    return window.ic;
}

bool X11Backend::KeyPressed(XEvent& xevent, NativeWindow& window, BackendEvent* event) {
    // The input method keeps the keys of a compose sequence,
    // and puts back one key press that carries what they made.
    XIC ic = InputContext(window);
    if (ic != nullptr && XFilterEvent(&xevent, None)) {
        return false;
    }
    const int capacity = static_cast<int>(std::size(event->chars));
    event->charCount = ic != nullptr
                           ? TypedWithInputMethod(ic, &xevent.xkey, event->chars, capacity)
                           : TypedAsLatin1(&xevent.xkey, event->chars, capacity);
    if (event->charCount <= 0) {
        return false;
    }
    event->type = BackendEvent::kChars;
    return true;
}

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
