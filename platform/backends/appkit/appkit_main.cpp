// The entry point on macOS, where AppKit is the only display: open it and
// run WinMain on it.
#include <memory>
#include <string>

#include "platform/backends/appkit/appkit_backend.h"
#include "platform/backends/failure_line.h"

int main(int argc, char** argv) {
    const std::string program = platform::ProgramName(argc, argv);
    std::string error;
    std::unique_ptr<platform::Backend> display = platform::appkit::OpenAppKit(program, &error);
    if (display == nullptr) {
        platform::PrintFailureLine(program, error);
        return 1;
    }
    int result = platform::RunWinMain(argc, argv, display.get());
    display.reset();
    return result;
}
