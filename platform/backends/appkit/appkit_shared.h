// Where Apple's AppKit and GNUstep's differ for this back end: the spelling
// of two constants, the activation policy a program outside a bundle needs
// on macOS, and what GNUstep's X11 side needs watched.
#ifndef OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_SHARED_H
#define OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_SHARED_H

#import <AppKit/AppKit.h>

#include <string>

namespace platform {
namespace appkit {

// Apple renamed these in macOS 10.12 and deprecated the old names, which
// GNUstep still uses alone.
#if defined(GNUSTEP)
const NSUInteger kAnyEventMask = NSAnyEventMask;
const NSEventType kApplicationDefinedEvent = NSApplicationDefined;
#else
const NSEventMask kAnyEventMask = NSEventMaskAny;
const NSEventType kApplicationDefinedEvent = NSEventTypeApplicationDefined;
#endif

// After +sharedApplication, before -finishLaunching.
inline void PrepareApplication() {
#if !defined(GNUSTEP)
    // Started from a terminal rather than as Ostrevane.app, a program is
    // not a regular application until it says so: no Dock icon, no key
    // window.
    [NSApp setActivationPolicy:NSApplicationActivationPolicyRegular];
#endif
}

#if defined(GNUSTEP)
// GNUstep draws through an X server (gnustep_display.cpp).
void WatchX11Display(const std::string& programName);
#endif

// A lost display ends the program with one line on stderr. On macOS the
// window server does not go away under a running program.
inline void WatchDisplay(const std::string& programName) {
#if defined(GNUSTEP)
    WatchX11Display(programName);
#else
    (void)programName;
#endif
}

}  // namespace appkit
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_SHARED_H
