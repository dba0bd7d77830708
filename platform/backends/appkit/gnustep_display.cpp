// GNUstep's AppKit draws through an X server, and GNUstep installs no
// handler for the loss of its connection: Xlib's own would print several
// lines and exit. The program's handler says once which display was lost
// and exits with code 1: after an I/O error neither Xlib nor GNUstep can
// carry on. Xlib only learns of the loss when the program next talks to
// the server, and GNUstep's start waits for its helper daemons without
// doing so: a thread of its own watches the connection for the server's
// end and reports it at once.
#include <X11/Xlib.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/backends/failure_line.h"

namespace platform {
namespace appkit {

namespace {

std::string program;
std::string display;

// Once, from whichever thread sees the loss first; the other waits for the
// process to end.
[[noreturn]] void EndLost() {
    static std::atomic_flag reported = ATOMIC_FLAG_INIT;
    if (reported.test_and_set()) {
        for (;;) {
            pause();
        }
    }
    PrintFailureLine(program,
                     DescribeFailure(Failure::kLost, NamedDisplay("display", display), ""));
    _exit(1);
}

int OnIoError(Display*) { EndLost(); }

}  // namespace

void WatchX11Display(const std::string& programName) {
    program = programName;
    const char* name = std::getenv("DISPLAY");
    display = name != nullptr ? name : "";
    XSetIOErrorHandler(OnIoError);
}

void WatchX11Connection(void* connection) {
    if (connection == nullptr) {
        return;
    }
    const int fd = XConnectionNumber(static_cast<Display*>(connection));
    std::thread([fd] {
        // No events asked for: Xlib reads. Only the server's end of the
        // connection (or an error on it) wakes the poll.
        pollfd watched = {fd, 0, 0};
        int ready;
        do {
            ready = poll(&watched, 1, -1);
        } while (ready < 0 && errno == EINTR);
        if (ready > 0 && (watched.revents & (POLLHUP | POLLERR)) != 0) {
            EndLost();
        }
    }).detach();
}

}  // namespace appkit
}  // namespace platform
