// The first-frame baseline: the least an Xlib program does to show the
// picture ostrevane shows. Like ostrevane's window it is three quarters of
// the screen each way at the top left, and it puts one image of that size.
// It maps the window, waits for it to be exposed, puts the image (with
// MIT-SHM given --shm and a local server that has it, otherwise with
// XPutImage), and runs until WM_DELETE_WINDOW. Its picture sits in memory
// that faults in by huge pages, as ostrevane's client pixels do.
//
//   bare_xlib_window [--shm]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool attachFailed = false;
int OnError(Display*, XErrorEvent*) {
    attachFailed = true;
    return 0;
}

// A shared-memory image of the given size, or nullptr.
XImage* CreateSharedImage(Display* display, int screen, unsigned width, unsigned height,
                          XShmSegmentInfo* segment) {
    if (!XShmQueryExtension(display)) {
        return nullptr;
    }
    XImage* image = XShmCreateImage(display, DefaultVisual(display, screen), 24, ZPixmap, nullptr,
                                    segment, width, height);
    if (image == nullptr) {
        return nullptr;
    }
    segment->shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image->bytes_per_line) * height,
                            IPC_CREAT | 0600);
    if (segment->shmid < 0) {
        XDestroyImage(image);
        return nullptr;
    }
    segment->shmaddr = image->data = static_cast<char*>(shmat(segment->shmid, nullptr, 0));
    segment->readOnly = False;
    XErrorHandler previous = XSetErrorHandler(OnError);
    bool attached = image->data != reinterpret_cast<char*>(-1) && XShmAttach(display, segment);
    XSync(display, False);
    XSetErrorHandler(previous);
    shmctl(segment->shmid, IPC_RMID, nullptr);
    if (!attached || attachFailed) {
        if (image->data != reinterpret_cast<char*>(-1)) {
            shmdt(image->data);
        }
        image->data = nullptr;
        XDestroyImage(image);
        return nullptr;
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    bool shm = argc > 1 && std::strcmp(argv[1], "--shm") == 0;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "bare_xlib_window: cannot open display\n");
        return 1;
    }
    int screen = DefaultScreen(display);
    unsigned width = static_cast<unsigned>(DisplayWidth(display, screen)) * 3 / 4;
    unsigned height = static_cast<unsigned>(DisplayHeight(display, screen)) * 3 / 4;
    Window root = RootWindow(display, screen);

    XSetWindowAttributes attributes = {};
    attributes.background_pixmap = None;
    attributes.event_mask = ExposureMask | StructureNotifyMask;
    Window window =
        XCreateWindow(display, root, 0, 0, width, height, 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWBackPixmap | CWEventMask, &attributes);
    XStoreName(display, window, "bare_xlib_window");
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    XMapWindow(display, window);

    // A black picture with a red diagonal, in the server's 32-bit format.
    XShmSegmentInfo segment = {};
    XImage* image = shm ? CreateSharedImage(display, screen, width, height, &segment) : nullptr;
    std::uint32_t* data = nullptr;
    if (image != nullptr) {
        data = reinterpret_cast<std::uint32_t*>(image->data);
        std::memset(data, 0, static_cast<std::size_t>(width) * height * 4);
    } else {
        shm = false;
        // Zeros from the kernel, 2 MiB-aligned, in huge pages where it can.
        const std::size_t huge = 2 * 1024 * 1024;
        std::size_t bytes = (static_cast<std::size_t>(width) * height * 4 + huge - 1) & ~(huge - 1);
        void* block =
            mmap(nullptr, bytes + huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) {
            std::fprintf(stderr, "bare_xlib_window: out of memory\n");
            return 1;
        }
        data = reinterpret_cast<std::uint32_t*>(
            (reinterpret_cast<std::uintptr_t>(block) + huge - 1) & ~(huge - 1));
        madvise(data, bytes, MADV_HUGEPAGE);
        image = XCreateImage(display, DefaultVisual(display, screen), 24, ZPixmap, 0,
                             reinterpret_cast<char*>(data), width, height, 32, 0);
    }
    for (unsigned i = 0; i < width && i < height; ++i) {
        data[static_cast<std::size_t>(i) * width + i] = 0xFF0000;
    }
    GC gc = XCreateGC(display, window, 0, nullptr);

    bool drawn = false;
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == Expose && !drawn) {
            if (shm) {
                XShmPutImage(display, window, gc, image, 0, 0, 0, 0, width, height, False);
            } else {
                XPutImage(display, window, gc, image, 0, 0, 0, 0, width, height);
            }
            XFlush(display);
            drawn = true;
        } else if (event.type == ClientMessage &&
                   static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) {
            break;
        }
    }
    if (shm) {
        XShmDetach(display, &segment);
        XSync(display, False);
        shmdt(segment.shmaddr);
    }
    image->data = nullptr;  // the pixels belong to the mapping or the segment
    XDestroyImage(image);
    XFreeGC(display, gc);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return 0;
}
