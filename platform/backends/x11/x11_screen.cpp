// The screen: the primary monitor's size, which is RandR's primary output
// where the server names one, otherwise the whole X screen. It is read once
// and kept; what changes it (RandR's reports, the root window resized)
// marks it for reading again.
#include <X11/extensions/Xrandr.h>

#include "platform/backends/x11/x11_display.h"

namespace platform {
namespace x11 {

void X11Backend::StartScreen(bool randr, bool randrPrimary) {
    // Without a primary output the screen is the one the connection set-up
    // gave, and RandR is asked to report changes only after the first frame
    // (AfterFirstFrame).
    randrDeferred_ = randr && !randrPrimary;
    if (randrPrimary) {
        SubscribeRandr();
    }
    XSelectInput(display_, root_, StructureNotifyMask);
    ReadScreenSize();
}

void X11Backend::GetScreenSize(int* width, int* height) {
    if (screenStale_ && !Process().lost) {
        ReadScreenSize();
    }
    *width = screenWidth_;
    *height = screenHeight_;
}

// RandR through Xlib's library, which starts with several round trips of
// its own, and its reports of changes to the screen. Whatever changed
// before they were asked for is read again.
void X11Backend::SubscribeRandr() {
    randrDeferred_ = false;
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    // Nothing more is asked of RandR once the connection is gone.
    randr_ = XRRQueryExtension(display_, &eventBase, &errorBase) && !Process().lost &&
             XRRQueryVersion(display_, &major, &minor) && !Process().lost &&
             (major > 1 || (major == 1 && minor >= 3));
    randrEventBase_ = eventBase;
    if (randr_) {
        XRRSelectInput(
            display_, root_,
            RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    }
    screenStale_ = true;
}

void X11Backend::ReadScreenSize() {
    screenStale_ = false;
    if (randr_ && ReadPrimaryOutputSize()) {
        return;
    }
    // Xlib's record of the screen, kept current from the server's own
    // screen-change and root configure events (see ScreenEvent).
    screenWidth_ = DisplayWidth(display_, screen_);
    screenHeight_ = DisplayHeight(display_, screen_);
}

bool X11Backend::ReadPrimaryOutputSize() {
    RROutput primary = XRRGetOutputPrimary(display_, root_);
    if (primary == None || Process().lost) {
        return false;
    }
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display_, root_);
    if (resources == nullptr) {
        return false;
    }
    bool found = false;
    XRROutputInfo* output = XRRGetOutputInfo(display_, resources, primary);
    if (output != nullptr && output->crtc != None) {
        XRRCrtcInfo* crtc = XRRGetCrtcInfo(display_, resources, output->crtc);
        if (crtc != nullptr && crtc->width > 0 && crtc->height > 0) {
            screenWidth_ = static_cast<int>(crtc->width);
            screenHeight_ = static_cast<int>(crtc->height);
            found = true;
        }
        if (crtc != nullptr) {
            XRRFreeCrtcInfo(crtc);
        }
    }
    if (output != nullptr) {
        XRRFreeOutputInfo(output);
    }
    XRRFreeScreenResources(resources);
    return found;
}

bool X11Backend::ScreenEvent(XEvent& xevent) {
    const bool changeNotify = randr_ && xevent.type == randrEventBase_ + RRScreenChangeNotify;
    if (xevent.xany.window != root_ && !changeNotify &&
        !(randr_ && xevent.type == randrEventBase_ + RRNotify)) {
        return false;
    }
    // Forged events must not change the screen Xlib records.
    if (!xevent.xany.send_event && (changeNotify || xevent.type == ConfigureNotify)) {
        XRRUpdateConfiguration(&xevent);
    }
    screenStale_ = true;
    return true;
}

}  // namespace x11
}  // namespace platform
