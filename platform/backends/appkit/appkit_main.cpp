// The entry point on macOS, where AppKit is the only display: open it and
// run WinMain on it.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/backends/appkit/appkit_backend.h"

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
    std::unique_ptr<platform::Backend> display = platform::appkit::OpenAppKit(program, &error);
    if (display == nullptr) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), error.c_str());
        return 1;
    }
    int result = platform::RunWinMain(argc, argv, display.get());
    display.reset();
    return result;
}
