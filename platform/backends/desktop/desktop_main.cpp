// The entry point of programs for Linux desktops: open a Wayland compositor
// or an X server, as ChooseDisplays says, then run WinMain on it.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/backends/backend.h"
#include "platform/backends/desktop/display_choice.h"
#include "platform/backends/x11/x11_backend.h"
#if OSTREVANE_HAVE_WAYLAND
#include "platform/backends/wayland/wayland_backend.h"
#endif

namespace {

std::unique_ptr<platform::Backend> Open(platform::desktop::DisplayKind kind,
                                        const std::string& program, std::string* error) {
#if OSTREVANE_HAVE_WAYLAND
    if (kind == platform::desktop::DisplayKind::kWayland) {
        return platform::wayland::OpenCompositor(program, error);
    }
#endif
    (void)kind;
    return platform::x11::OpenDisplay(program, error);
}

}  // namespace

int main(int argc, char** argv) {
    std::string program = "ostrevane";
    if (argc > 0 && argv != nullptr && argv[0] != nullptr && argv[0][0] != '\0') {
        const char* slash = std::strrchr(argv[0], '/');
        program = slash != nullptr ? slash + 1 : argv[0];
    }
    if (program.empty()) {
        program = "ostrevane";
    }
    platform::desktop::DisplayChoice choice = platform::desktop::ChooseDisplays(
        std::getenv("OSTREVANE_BACKEND"), std::getenv("WAYLAND_DISPLAY"),
        std::getenv("XDG_RUNTIME_DIR"), OSTREVANE_HAVE_WAYLAND != 0, [](const std::string& path) {
            struct stat info;
            return stat(path.c_str(), &info) == 0;
        });
    if (!choice.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), choice.error.c_str());
        return 1;
    }
    // Every reason for a display that did not open, on one line.
    std::string failures = choice.waylandSkipped;
    for (platform::desktop::DisplayKind kind : choice.order) {
        std::string error;
        std::unique_ptr<platform::Backend> display = Open(kind, program, &error);
        if (display != nullptr) {
            int result = platform::RunWinMain(argc, argv, display.get());
            display.reset();
            return result;
        }
        failures += (failures.empty() ? "" : "; ") + error;
    }
    std::fprintf(stderr, "%s: %s\n", program.c_str(), failures.c_str());
    return 1;
}
