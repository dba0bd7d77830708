// Client pixels (32-bit 0x00RRGGBB, which matches a 24-bit true-colour
// visual byte for byte) go up in bands of rows. On a local server with
// MIT-SHM, from the second frame on, each band is copied into one small
// shared-memory segment and put with XShmPutImage, so that the pixels never
// pass through the socket; the first frame, and everything when there is no
// segment (a remote display, a server without the extension, a segment the
// server cannot attach), go with XPutImage, or as fills where those cost
// fewer bytes (x11_encode.h), straight from the window manager's pixels.
// Either way they are read during Present only.
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/backends/x11/x11_display.h"

namespace platform {
namespace x11 {

namespace {

// Rows of one XPutImage request are kept to about this many bytes.
const int kBandBytes = 256 * 1024;
// The shared-memory segment: the rows of one XShmPutImage. Small, so that
// it adds little to the program's memory, and large enough that a full
// frame takes only a few round trips.
const int kSharedBytes = 1024 * 1024;

// Shared memory only works with a server on this machine: one reached
// through a local socket.
bool IsLocalConnection(Display* display) {
    sockaddr_storage address = {};
    socklen_t length = sizeof(address);
    return getpeername(ConnectionNumber(display), reinterpret_cast<sockaddr*>(&address), &length) ==
               0 &&
           address.ss_family == AF_UNIX;
}

}  // namespace

bool FindTrueColourVisual(Display* display, Visual** visual, int* depth) {
    int screen = DefaultScreen(display);
    XVisualInfo info = {};
    if (!XMatchVisualInfo(display, screen, 24, TrueColor, &info) || info.red_mask != 0xFF0000 ||
        info.green_mask != 0x00FF00 || info.blue_mask != 0x0000FF) {
        return false;
    }
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
    bool thirtyTwoBits = false;
    for (int i = 0; i < count; ++i) {
        if (formats[i].depth == 24 && formats[i].bits_per_pixel == 32) {
            thirtyTwoBits = true;
        }
    }
    if (formats != nullptr) {
        XFree(formats);
    }
    Visual* preferred = DefaultVisual(display, screen);
    *visual = preferred->visualid == info.visualid ? preferred : info.visual;
    *depth = 24;
    return thirtyTwoBits;
}

void X11Backend::StartPixels() {
    // Whether the server has MIT-SHM is asked after the first frame.
    shm_ = IsLocalConnection(display_) ? ShmState::kUntried : ShmState::kUnavailable;
}

void X11Backend::Present(WindowId id, const ClientPixels& pixels, const RECT& area) {
    auto found = windows_.find(id);
    if (found == windows_.end() || Process().lost || !found->second.exposed) {
        return;
    }
    if (PutShared(found->second, pixels, area)) {
        return;
    }
    // The image spans whole rows of what the window shows, which may
    // be a bitmap wider than the window.
    XImage image = PixelImage(const_cast<char*>(reinterpret_cast<const char*>(pixels.rows)),
                              static_cast<int>(pixels.stride), pixels.height);
    if (!XInitImage(&image)) {
        return;
    }
    // Each band goes out as soon as it is planned, so that the server
    // draws one while the next is read.
    const int bandRows = std::max(1, kBandBytes / ((area.right - area.left) * 4));
    for (int y = area.top; y < area.bottom && !Process().lost; y += bandRows) {
        PutBand(found->second, pixels, &image,
                RECT{area.left, y, area.right, std::min<LONG>(y + bandRows, area.bottom)});
        XFlush(display_);
    }
    AfterFirstFrame();
}

// Makes the shared segment and asks the server to attach it, if the
// server has MIT-SHM.
void X11Backend::StartSharedSegment() {
    shm_ = ShmState::kUnavailable;
    int opcode = 0;
    int shmEvent = 0;
    int shmError = 0;
    // On a connection that has just died, Xlib answers extension queries
    // with whatever its reply buffer held, and libXext then registers
    // event numbers out of range, complaining on stderr: Xlib's own query
    // first, and none of libXext's once the display is gone.
    if (!XQueryExtension(display_, "MIT-SHM", &opcode, &shmEvent, &shmError) || Process().lost ||
        !XShmQueryExtension(display_) || Process().lost) {
        return;
    }
    int id = shmget(IPC_PRIVATE, kSharedBytes, IPC_CREAT | 0600);
    if (id < 0) {
        return;
    }
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return;
    }
    shared_ = XShmSegmentInfo();
    shared_.shmid = id;
    shared_.shmaddr = static_cast<char*>(address);
    shared_.readOnly = True;
    // An error in the attach request means the server could not attach
    // the segment: pixels then go through the socket.
    bool sent = false;
    {
        ExpectedErrorRange attach(display_, ExpectedErrors::kNoSharedSegment, 0);
        sent = XShmAttach(display_, &shared_);
    }
    if (!sent) {
        StopExpecting(ExpectedErrors::kNoSharedSegment, 0);
        shmdt(address);
        shmctl(id, IPC_RMID, nullptr);
        shared_ = XShmSegmentInfo();
        return;
    }
    XFlush(display_);
    shm_ = ShmState::kAttaching;
}

// The one round trip that tells whether the server could attach the
// segment; XPutImage from then on if it could not.
void X11Backend::ConfirmSharedSegment() {
    if (!Process().lost) {
        XSync(display_, False);
    }
    const bool failed = StopExpecting(ExpectedErrors::kNoSharedSegment, 0);
    // Marked for removal now that both sides have it: it goes when both
    // have detached, even if the program is killed.
    shmctl(shared_.shmid, IPC_RMID, nullptr);
    if (failed || Process().lost) {
        shmdt(shared_.shmaddr);
        shared_ = XShmSegmentInfo();
        shm_ = ShmState::kUnavailable;
        return;
    }
    shm_ = ShmState::kReady;
}

void X11Backend::ReleaseSharedSegment() {
    if (shm_ == ShmState::kAttaching) {
        ConfirmSharedSegment();
    }
    if (shm_ != ShmState::kReady) {
        return;
    }
    if (!Process().lost) {
        XShmDetach(display_, &shared_);
    }
    // The server keeps its own attachment until it has read the detach.
    shmdt(shared_.shmaddr);
    shared_ = XShmSegmentInfo();
    shm_ = ShmState::kUnavailable;
}

// Puts `area` through the shared segment, a band at a time; false if there
// is no segment.
bool X11Backend::PutShared(NativeWindow& window, const ClientPixels& pixels, const RECT& area) {
    if (shm_ == ShmState::kAttaching) {
        ConfirmSharedSegment();
    }
    if (shm_ != ShmState::kReady) {
        return false;
    }
    const int left = area.left;
    const int width = area.right - area.left;
    const int bandRows = std::max(1, kSharedBytes / (width * 4));
    XImage image = PixelImage(shared_.shmaddr, width, 0);
    image.obdata = reinterpret_cast<char*>(&shared_);
    for (int y = area.top; y < area.bottom && !Process().lost; y += bandRows) {
        const int rows = std::min(bandRows, static_cast<int>(area.bottom) - y);
        // The server must have read the previous band before the segment
        // is written again; requests are handled in order, so one round
        // trip is enough.
        if (sharedBusy_) {
            XSync(display_, False);
            sharedBusy_ = false;
            if (Process().lost) {
                break;
            }
        }
        std::uint32_t* band = reinterpret_cast<std::uint32_t*>(shared_.shmaddr);
        for (int row = 0; row < rows; ++row) {
            std::memcpy(band + static_cast<std::size_t>(row) * width,
                        pixels.rows + static_cast<std::size_t>(y + row) * pixels.stride + left,
                        static_cast<std::size_t>(width) * 4);
        }
        image.height = rows;
        if (!XInitImage(&image)) {
            return false;
        }
        XShmPutImage(display_, window.xid, window.gc, &image, 0, 0, left, y,
                     static_cast<unsigned>(width), static_cast<unsigned>(rows), False);
        sharedBusy_ = true;
    }
    return true;
}

// Sends a band of rows through the socket: as a fill and rectangles
// where that costs fewer bytes than its image (x11_encode.h), otherwise
// as the image. Only the part inside the ink is read: the rest of the
// band is black, and goes first as one black fill.
void X11Backend::PutBand(NativeWindow& window, const ClientPixels& pixels, XImage* image,
                         const RECT& band) {
    const RECT& ink = pixels.ink;
    const RECT part = {std::max(band.left, ink.left), std::max(band.top, ink.top),
                       std::min(band.right, ink.right), std::min(band.bottom, ink.bottom)};
    const bool whole = part.left == band.left && part.top == band.top && part.right == band.right &&
                       part.bottom == band.bottom;
    if (!whole) {
        XSetForeground(display_, window.gc, 0);
        XFillRectangle(display_, window.xid, window.gc, band.left, band.top,
                       static_cast<unsigned>(band.right - band.left),
                       static_cast<unsigned>(band.bottom - band.top));
        if (part.right <= part.left || part.bottom <= part.top) {
            return;
        }
    }
    const int width = part.right - part.left;
    const int rows = part.bottom - part.top;
    PlanBand(pixels.rows + static_cast<std::size_t>(part.top) * pixels.stride + part.left,
             pixels.stride, part.left, part.top, width, rows, &plan_);
    if (!plan_.fills) {
        XPutImage(display_, window.xid, window.gc, image, part.left, part.top, part.left, part.top,
                  static_cast<unsigned>(width), static_cast<unsigned>(rows));
        return;
    }
    static_assert(sizeof(FillRect) == sizeof(XRectangle), "FillRect is XRectangle's layout");
    if (whole || plan_.background != 0) {
        XSetForeground(display_, window.gc, plan_.background);
        XFillRectangle(display_, window.xid, window.gc, part.left, part.top,
                       static_cast<unsigned>(width), static_cast<unsigned>(rows));
    }
    for (const ColourRects& colour : plan_.colours) {
        XSetForeground(display_, window.gc, colour.colour);
        XFillRectangles(display_, window.xid, window.gc,
                        reinterpret_cast<XRectangle*>(plan_.rects.data() + colour.first),
                        static_cast<int>(colour.count));
    }
}

// An image of `width` x `height` pixels in the surfaces' format
// (0x00RRGGBB in 32 bits, rows `width` pixels apart) over `data`.
XImage X11Backend::PixelImage(char* data, int width, int height) const {
    XImage image = {};
    image.width = width;
    image.height = height;
    image.format = ZPixmap;
    image.data = data;
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    image.byte_order = MSBFirst;
    image.bitmap_bit_order = MSBFirst;
#else
    image.byte_order = LSBFirst;
    image.bitmap_bit_order = LSBFirst;
#endif
    image.bitmap_unit = 32;
    image.bitmap_pad = 32;
    image.depth = depth_;
    image.bytes_per_line = width * 4;
    image.bits_per_pixel = 32;
    image.red_mask = 0xFF0000;
    image.green_mask = 0x00FF00;
    image.blue_mask = 0x0000FF;
    return image;
}

}  // namespace x11
}  // namespace platform
