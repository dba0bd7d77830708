// The entry point of programs that link the X11 display: open the display,
// then run WinMain on it.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/backends/backend.h"
#include "platform/backends/x11/x11_backend.h"

int main(int argc, char** argv) {
    std::string program = "ostrevane";
    if (argc > 0 && argv != nullptr && argv[0] != nullptr && argv[0][0] != '\0') {
        const char* slash = std::strrchr(argv[0], '/');
        program = slash != nullptr ? slash + 1 : argv[0];
    }
    if (program.empty()) {
        program = "ostrevane";
    }
    std::string error;
    std::unique_ptr<platform::Backend> display = platform::x11::OpenDisplay(program, &error);
    if (display == nullptr) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), error.c_str());
        return 1;
    }
    int result = platform::RunWinMain(argc, argv, display.get());
    display.reset();
    return result;
}
