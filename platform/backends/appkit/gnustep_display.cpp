// GNUstep's AppKit draws through an X server, and GNUstep installs no
// handler for the loss of its connection: Xlib's own would print several
// lines and exit. The program's handler says once which display was lost
// and exits with code 1: after an I/O error neither Xlib nor GNUstep can
// carry on.
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/backends/failure_line.h"

namespace platform {
namespace appkit {

namespace {

std::string program;
std::string display;

int OnIoError(Display*) {
    PrintFailureLine(program, DescribeFailure(Failure::kLost, "display \"" + display + "\"", ""));
    _exit(1);
}

}  // namespace

void WatchX11Display(const std::string& programName) {
    program = programName;
    const char* name = std::getenv("DISPLAY");
    display = name != nullptr ? name : "";
    XSetIOErrorHandler(OnIoError);
}

}  // namespace appkit
}  // namespace platform
