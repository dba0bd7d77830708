// Where Apple's AppKit and GNUstep's differ for this back end: the spelling
// of two constants, the command line GNUstep would read, the activation
// policy a program outside a bundle needs on macOS, and what GNUstep's X11
// side needs watched.
#ifndef OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_SHARED_H
#define OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_SHARED_H

#import <AppKit/AppKit.h>
#if defined(GNUSTEP)
#import <GNUstepGUI/GSDisplayServer.h>
#endif

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

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

// Before anything of Foundation's is used. GNUstep decodes the command
// line and the environment in the locale's encoding, and ends the process
// (exit code 1, nothing said) at the first argument that is not valid in
// it: as Latin-1, every byte string is valid and comes back unchanged. The
// program ignores its command line; GNUstep would read it as user defaults
// (-NSDisplay, -GSBackend, ...), so it is given the program's name alone.
inline void PrepareProcess(const std::string& programName) {
#if defined(GNUSTEP)
    setenv("GNUSTEP_STRING_ENCODING", "NSISOLatin1StringEncoding", 1);
    char* arguments[] = {const_cast<char*>(programName.c_str()), nullptr};
    GSInitializeProcess(1, arguments, environ);
#else
    (void)programName;
#endif
}

#if defined(GNUSTEP)
// GNUstep draws through an X server (gnustep_display.cpp): its I/O errors
// end the program, from before the connection is made; once made, the
// connection (`connection`: its Display) is watched for the server's end.
void WatchX11Display(const std::string& programName);
void WatchX11Connection(void* connection);
#endif

// After +sharedApplication, before -finishLaunching.
inline void PrepareApplication() {
#if defined(GNUSTEP)
    // GNUstep's X11 side answers SIGTERM and SIGINT with -terminate:, from
    // the signal handler, which does not end a program outside -run: the
    // program would ignore kill and Ctrl+C. They end it, as elsewhere.
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    // -finishLaunching waits for GNUstep's helpers without reading from
    // the X server: a server gone meanwhile is reported at once.
    WatchX11Connection([GSCurrentServer() serverDevice]);
#else
    // Started from a terminal rather than as Ostrevane.app, a program is
    // not a regular application until it says so: no Dock icon, no key
    // window.
    [NSApp setActivationPolicy:NSApplicationActivationPolicyRegular];
#endif
}

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
