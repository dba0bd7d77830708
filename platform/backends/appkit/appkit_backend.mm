// The AppKit display.
//
// Each Win32 window is one NSWindow with a title bar, a close button,
// resizing and miniaturising; its content view is the client area. The
// view keeps a copy of the client pixels last presented, as an
// NSBitmapImageRep the size of the client area, and draws it unflipped
// with the image's top row at the view's top, so that its pixels go to the
// screen unchanged: a device RGB colour space (no colour matching) and no
// interpolation (a Retina screen doubles pixels, it does not blur them).
//
// Only the AppKit API that Apple's AppKit and GNUstep share is used, with
// manual retain and release (appkit_shared.h names the few constants whose
// spelling differs). Everything runs on the main thread. Nothing here
// catches an Objective-C exception: g++'s Objective-C++ cannot catch those
// of GCC's run-time (its C++ personality routine crashes on them), so one
// that AppKit raises ends the program through EndOnUncaughtException.
#include "platform/backends/appkit/appkit_win32.h"
// After the window manager's headers, which it includes.
#include "platform/backends/appkit/appkit_backend.h"

#import <AppKit/AppKit.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <unordered_map>

#include "platform/backends/appkit/appkit_log.h"
#include "platform/backends/appkit/appkit_shared.h"
#include "platform/backends/failure_line.h"

namespace platform {
namespace appkit {
class AppKitBackend;
}  // namespace appkit
}  // namespace platform

// Reports what happens to one window to the back end.
@interface OstrevaneWindowDelegate : NSObject {
@public
    platform::appkit::AppKitBackend* backend;
    platform::WindowId window;
}
@end

// The client area: shows the pixels presented and takes the keys typed.
@interface OstrevaneClientView : NSView {
@public
    platform::appkit::AppKitBackend* backend;
    platform::WindowId window;
    NSBitmapImageRep* pixels;  // retained; nil until the first Present
}
@end

namespace platform {
namespace appkit {

namespace {

// The display's name in the program's one-line failures.
const char kDisplayName[] = "the AppKit display";

// The application-defined event that wakes the wait for the next NSEvent
// when AppKit has reported something outside one (its subtype).
const short kWakeSubtype = 0x4F57;

// Releases what was autoreleased in its scope.
class Pool {
public:
    Pool() : pool_([[NSAutoreleasePool alloc] init]) {}
    ~Pool() { [pool_ drain]; }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

private:
    NSAutoreleasePool* pool_;
};

// The primary screen: the one whose bottom-left corner is AppKit's origin.
// It is the first of [NSScreen screens]; +mainScreen is the one with the
// key window, which may be another.
NSScreen* PrimaryScreen() {
    NSArray* screens = [NSScreen screens];
    return [screens count] > 0 ? [screens objectAtIndex:0] : nil;
}

double PrimaryHeight() {
    NSScreen* screen = PrimaryScreen();
    return screen != nil ? [screen frame].size.height : 0;
}

NSString* TitleString(const char* title) {
    if (title == nullptr) {
        return @"";
    }
    // The window manager's code page is Windows-1252.
    NSString* text = [[[NSString alloc] initWithBytes:title
                                               length:std::strlen(title)
                                             encoding:NSWindowsCP1252StringEncoding] autorelease];
    return text != nil ? text : @"";
}

struct NativeWindow {
    NSWindow* window = nil;                   // retained
    OstrevaneClientView* view = nil;          // retained
    OstrevaneWindowDelegate* delegate = nil;  // retained
    RECT reported = {0, 0, 0, 0};             // the client area last reported
    WindowShow show = WindowShow::kHidden;
};

}  // namespace

class AppKitBackend : public Backend {
public:
    explicit AppKitBackend(const std::string& program) : program_(program) {}

    ~AppKitBackend() override {
        Pool pool;
        while (!windows_.empty()) {
            DestroyNativeWindow(windows_.begin()->first);
        }
    }

    void GetScreenSize(int* width, int* height) override {
        Pool pool;
        NSScreen* screen = PrimaryScreen();
        NSSize size = screen != nil ? [screen frame].size : NSMakeSize(0, 0);
        ScreenSizeFromPoints(size.width, size.height, width, height);
    }

    bool CreateNativeWindow(WindowId id, const char*, const char* title,
                            const RECT& rect) override {
        if (windows_.count(id) != 0) {
            return false;
        }
        Pool pool;
        CocoaRect place = CocoaFromScreenRect(rect, PrimaryHeight());
        NSRect content = NSMakeRect(place.x, place.y, place.width, place.height);
        NSUInteger style = NSWindowStyleMaskTitled | NSWindowStyleMaskClosable |
                           NSWindowStyleMaskMiniaturizable | NSWindowStyleMaskResizable;
        NativeWindow native;
        native.window = [[NSWindow alloc] initWithContentRect:content
                                                    styleMask:style
                                                      backing:NSBackingStoreBuffered
                                                        defer:NO];
        if (native.window == nil) {
            return false;
        }
        // The window manager destroys the window; closing only hides it.
        [native.window setReleasedWhenClosed:NO];
        [native.window setTitle:TitleString(title)];
        [native.window setContentMinSize:NSMakeSize(1, 1)];
        [native.window setContentMaxSize:NSMakeSize(kMaxSurfaceSide, kMaxSurfaceSide)];
        native.view =
            [[OstrevaneClientView alloc] initWithFrame:NSMakeRect(0, 0, place.width, place.height)];
        native.view->backend = this;
        native.view->window = id;
        [native.window setContentView:native.view];
        [native.window makeFirstResponder:native.view];
        native.delegate = [[OstrevaneWindowDelegate alloc] init];
        native.delegate->backend = this;
        native.delegate->window = id;
        [native.window setDelegate:native.delegate];
        native.reported = ContentRect(native.window);
        windows_[id] = native;
        return true;
    }

    void DestroyNativeWindow(WindowId id) override {
        auto found = windows_.find(id);
        if (found == windows_.end()) {
            return;
        }
        Pool pool;
        NativeWindow native = found->second;
        windows_.erase(found);
        [native.window setDelegate:nil];
        native.view->backend = nullptr;
        [native.window orderOut:nil];
        [native.window close];
        [native.window release];
        [native.view release];
        [native.delegate release];
        // What it had queued is of no use now.
        events_.erase(std::remove_if(events_.begin(), events_.end(),
                                     [id](const BackendEvent& e) { return e.window == id; }),
                      events_.end());
    }

    void ShowNativeWindow(WindowId id, WindowShow show) override {
        auto found = windows_.find(id);
        if (found == windows_.end()) {
            return;
        }
        Pool pool;
        NativeWindow& native = found->second;
        NSWindow* window = native.window;
        WindowShow before = native.show;
        native.show = show;
        switch (show) {
            case WindowShow::kHidden:
                [window orderOut:nil];
                break;
            case WindowShow::kNormal:
                if ([window isMiniaturized]) {
                    [window deminiaturize:nil];
                }
                if (before == WindowShow::kMaximized && [window isZoomed]) {
                    [window zoom:nil];
                }
                [window makeKeyAndOrderFront:nil];
                break;
            case WindowShow::kMinimized:
                [window orderFront:nil];
                [window miniaturize:nil];
                break;
            case WindowShow::kMaximized:
                [window makeKeyAndOrderFront:nil];
                if (![window isZoomed]) {
                    [window zoom:nil];
                }
                break;
        }
        if (show == WindowShow::kNormal || show == WindowShow::kMaximized) {
            [NSApp activateIgnoringOtherApps:YES];
            // What was on screen before it was shown is not kept.
            Push(ExposeAll(id, native));
        }
    }

    void Present(WindowId id, const ClientPixels& source, const RECT& area) override {
        auto found = windows_.find(id);
        if (found == windows_.end()) {
            return;
        }
        Pool pool;
        RECT copied = area;
        OstrevaneClientView* view = found->second.view;
        NSBitmapImageRep* pixels = view->pixels;
        if (pixels == nil || [pixels pixelsWide] != source.width ||
            [pixels pixelsHigh] != source.height) {
            pixels = NewImage(source.width, source.height);
            if (pixels == nil) {
                return;
            }
            [view->pixels release];
            view->pixels = pixels;
            // All of it is new.
            copied = RECT{0, 0, source.width, source.height};
        }
        unsigned char* data = [pixels bitmapData];
        const NSInteger stride = [pixels bytesPerRow];
        for (LONG y = copied.top; y < copied.bottom; ++y) {
            const std::uint32_t* from =
                source.rows + static_cast<std::size_t>(y) * source.stride + copied.left;
            unsigned char* to = data + y * stride + copied.left * 4;
            for (LONG x = copied.left; x < copied.right; ++x, ++from, to += 4) {
                to[0] = static_cast<unsigned char>(*from >> 16);
                to[1] = static_cast<unsigned char>(*from >> 8);
                to[2] = static_cast<unsigned char>(*from);
                to[3] = 0xFF;
            }
        }
        // Unflipped: the client area's row y is (height - y) points up.
        const CGFloat height = [view bounds].size.height;
        [view setNeedsDisplayInRect:NSMakeRect(copied.left, height - copied.bottom,
                                               copied.right - copied.left,
                                               copied.bottom - copied.top)];
    }

    WaitResult NextEvent(BackendEvent* event, bool wait) override {
        for (;;) {
            if (!events_.empty()) {
                *event = events_.front();
                events_.pop_front();
                return WaitResult::kEvent;
            }
            Pool pool;
            // All output is on the screen before waiting.
            for (auto& entry : windows_) {
                [entry.second.window displayIfNeeded];
            }
            NSEvent* next =
                [NSApp nextEventMatchingMask:kAnyEventMask
                                   untilDate:wait ? [NSDate distantFuture] : [NSDate distantPast]
                                      inMode:NSDefaultRunLoopMode
                                     dequeue:YES];
            if (next == nil) {
                if (!wait && events_.empty()) {
                    return WaitResult::kNoEvent;
                }
                continue;
            }
            if ([next type] == kApplicationDefinedEvent && [next subtype] == kWakeSubtype) {
                wakePosted_ = false;
                continue;
            }
            [NSApp sendEvent:next];
        }
    }

    // From the delegate and the view.

    void Push(const BackendEvent& event) {
        events_.push_back(event);
        // AppKit may call us from inside the wait without an event coming
        // out of it: an event of our own ends that wait.
        if (!wakePosted_) {
            NSEvent* wake = [NSEvent otherEventWithType:kApplicationDefinedEvent
                                               location:NSMakePoint(0, 0)
                                          modifierFlags:0
                                              timestamp:0
                                           windowNumber:0
                                                context:nil
                                                subtype:kWakeSubtype
                                                  data1:0
                                                  data2:0];
            if (wake != nil) {
                [NSApp postEvent:wake atStart:NO];
                wakePosted_ = true;
            }
        }
    }

    void Close(WindowId id) {
        if (windows_.count(id) != 0) {
            BackendEvent event;
            event.type = BackendEvent::kClose;
            event.window = id;
            Push(event);
        }
    }

    // The window moved or changed size; a new size shows nothing yet.
    void Configured(WindowId id) {
        auto found = windows_.find(id);
        if (found == windows_.end()) {
            return;
        }
        NativeWindow& native = found->second;
        RECT now = ContentRect(native.window);
        RECT was = native.reported;
        if (std::memcmp(&now, &was, sizeof(RECT)) == 0) {
            return;
        }
        native.reported = now;
        BackendEvent event;
        event.type = BackendEvent::kConfigure;
        event.window = id;
        event.rect = now;
        Push(event);
        if (now.right - now.left != was.right - was.left ||
            now.bottom - now.top != was.bottom - was.top) {
            Push(ExposeAll(id, native));
        }
    }

    void Exposed(WindowId id) {
        auto found = windows_.find(id);
        if (found != windows_.end()) {
            Push(ExposeAll(id, found->second));
        }
    }

    void Typed(WindowId id, NSString* text) {
        if (windows_.count(id) == 0 || text == nil) {
            return;
        }
        BackendEvent event;
        event.type = BackendEvent::kChars;
        event.window = id;
        const int capacity = static_cast<int>(sizeof(event.chars) / sizeof(event.chars[0]));
        unichar units[2 * capacity];
        NSUInteger length = std::min<NSUInteger>([text length], 2 * capacity);
        [text getCharacters:units range:NSMakeRange(0, length)];
        static_assert(sizeof(unichar) == sizeof(std::uint16_t), "unichar is UTF-16");
        event.charCount = CodePointsFromKeyText(reinterpret_cast<const std::uint16_t*>(units),
                                                static_cast<int>(length), event.chars, capacity);
        if (event.charCount > 0) {
            Push(event);
        }
    }

private:
    static RECT ContentRect(NSWindow* window) {
        NSRect frame = [window contentRectForFrameRect:[window frame]];
        CocoaRect cocoa;
        cocoa.x = frame.origin.x;
        cocoa.y = frame.origin.y;
        cocoa.width = frame.size.width;
        cocoa.height = frame.size.height;
        return ScreenRectFromCocoa(cocoa, PrimaryHeight());
    }

    static BackendEvent ExposeAll(WindowId id, const NativeWindow& native) {
        BackendEvent event;
        event.type = BackendEvent::kExpose;
        event.window = id;
        NSSize size = [native.view bounds].size;
        RECT rect = ScreenRectFromCocoa(CocoaRect{0, 0, size.width, size.height}, size.height);
        event.rect = RECT{0, 0, rect.right - rect.left, rect.bottom - rect.top};
        return event;
    }

    // An image of `width` x `height` pixels, 8-bit RGBA with opaque alpha,
    // in the device's own colours.
    static NSBitmapImageRep* NewImage(int width, int height) {
        NSBitmapImageRep* image =
            [[NSBitmapImageRep alloc] initWithBitmapDataPlanes:nullptr
                                                    pixelsWide:width
                                                    pixelsHigh:height
                                                 bitsPerSample:8
                                               samplesPerPixel:4
                                                      hasAlpha:YES
                                                      isPlanar:NO
                                                colorSpaceName:NSDeviceRGBColorSpace
                                                   bytesPerRow:width * 4
                                                  bitsPerPixel:32];
        if (image == nil || [image bitmapData] == nullptr) {
            [image release];
            return nil;
        }
        // One point per pixel.
        [image setSize:NSMakeSize(width, height)];
        std::memset([image bitmapData], 0xFF, static_cast<std::size_t>(width) * height * 4);
        return image;
    }

    std::string program_;
    std::unordered_map<WindowId, NativeWindow> windows_;
    std::deque<BackendEvent> events_;
    bool wakePosted_ = false;
};

std::unique_ptr<Backend> OpenAppKit(const std::string& programName, std::string* error) {
    // AppKit's log lines go to the back end from the start: opening may
    // log why it failed. A display lost while opening ends the program too,
    // and so does an exception AppKit raises (no display to connect to).
    KeepLogFromTerminal();
    EndOnUncaughtException(programName, DescribeFailure(Failure::kCannotOpen, kDisplayName, ""));
    WatchDisplay(programName);
    PrepareProcess(programName);
    Pool pool;
    // No application icon window of GNUstep's own beside ours.
    [[NSUserDefaults standardUserDefaults]
        registerDefaults:[NSDictionary dictionaryWithObject:@"YES" forKey:@"GSSuppressAppIcon"]];
    [NSApplication sharedApplication];
    PrepareApplication();
    [NSApp finishLaunching];
    if (NSApp == nil || PrimaryScreen() == nil) {
        std::string logged = LastLogLine();
        *error = DescribeFailure(Failure::kCannotOpen, kDisplayName,
                                 logged.empty() ? std::string("no screen") : logged);
        return nullptr;
    }
    EndOnUncaughtException(programName, std::string(kDisplayName) + " failed");
    return std::unique_ptr<Backend>(new AppKitBackend(programName));
}

}  // namespace appkit
}  // namespace platform

@implementation OstrevaneWindowDelegate

- (BOOL)windowShouldClose:(id)sender {
    (void)sender;
    if (backend != nullptr) {
        backend->Close(window);
    }
    // The window manager decides, and destroys the window if it goes.
    return NO;
}

- (void)windowDidMove:(NSNotification*)notification {
    (void)notification;
    if (backend != nullptr) {
        backend->Configured(window);
    }
}

- (void)windowDidResize:(NSNotification*)notification {
    (void)notification;
    if (backend != nullptr) {
        backend->Configured(window);
    }
}

- (void)windowDidDeminiaturize:(NSNotification*)notification {
    (void)notification;
    if (backend != nullptr) {
        backend->Exposed(window);
    }
}

@end

@implementation OstrevaneClientView

- (void)dealloc {
    [pixels release];
    [super dealloc];
}

- (BOOL)isOpaque {
    return YES;
}

- (BOOL)isFlipped {
    return NO;
}

- (BOOL)acceptsFirstResponder {
    return YES;
}

- (void)drawRect:(NSRect)dirty {
    NSRect bounds = [self bounds];
    // Beyond the pixels presented so far, white, as a new window's surface.
    [[NSColor whiteColor] set];
    NSRectFill(dirty);
    if (pixels == nil) {
        return;
    }
    NSGraphicsContext* context = [NSGraphicsContext currentContext];
    [context saveGraphicsState];
    [context setImageInterpolation:NSImageInterpolationNone];
    const CGFloat width = [pixels pixelsWide];
    const CGFloat height = [pixels pixelsHigh];
    // The image's top row at the view's top.
    [pixels drawInRect:NSMakeRect(0, bounds.size.height - height, width, height)];
    [context restoreGraphicsState];
}

- (void)keyDown:(NSEvent*)event {
    if (backend != nullptr) {
        backend->Typed(window, [event characters]);
    }
}

// Keys are the window's: no key equivalents, no beep for unhandled ones.
- (BOOL)performKeyEquivalent:(NSEvent*)event {
    (void)event;
    return NO;
}

- (void)keyUp:(NSEvent*)event {
    (void)event;
}

@end
