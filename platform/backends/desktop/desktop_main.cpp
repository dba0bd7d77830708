// The entry point of programs for Linux desktops: open a Wayland compositor
// or an X server (or GNUstep's AppKit), as ChooseDisplays says, then run
// WinMain on it.
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/backends/backend.h"
#include "platform/backends/desktop/display_choice.h"
#include "platform/backends/x11/x11_backend.h"
#if OSTREVANE_HAVE_WAYLAND
#include "platform/backends/wayland/wayland_module.h"
#endif
#if OSTREVANE_HAVE_APPKIT
#include "platform/backends/appkit/appkit_module.h"
#endif

namespace {

#if OSTREVANE_HAVE_WAYLAND || OSTREVANE_HAVE_APPKIT
// The directory the running program was started from, or "".
std::string ProgramDirectory() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) {
        return "";
    }
    path[length] = '\0';
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? std::string(path, static_cast<std::size_t>(slash - path)) : "";
}

// A display's module and the entry point it exports; both modules' entries
// have the same type.
struct DisplayModule {
    const char* file;
    const char* entry;
    const char* display;  // for errors: "the Wayland display"
};
typedef platform::Backend* (*ModuleEntry)(const char*, char*, std::size_t);

// Opens a display through its module: installed in the program's library
// directory, or beside the program in a build tree. The module stays loaded
// for the life of the process, also when the display could not be used:
// what it loaded (libdecor's plugin, pango's threads, the Objective-C
// run-time) may outlive the back end.
std::unique_ptr<platform::Backend> OpenModule(const DisplayModule& module,
                                              const std::string& program, std::string* error) {
    const std::string directory = ProgramDirectory();
    std::string tried;
    void* loaded = nullptr;
    for (const char* place : {OSTREVANE_MODULE_DIR_FROM_BIN, "."}) {
        if (directory.empty()) {
            break;
        }
        const std::string path = directory + "/" + place + "/" + module.file;
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            continue;
        }
        loaded = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (loaded != nullptr) {
            break;
        }
        const char* reason = dlerror();
        tried = reason != nullptr ? reason : path;
    }
    if (loaded == nullptr) {
        *error = std::string("cannot load ") + module.display + " (" +
                 (tried.empty() ? std::string(module.file) + " not found" : tried) + ")";
        return nullptr;
    }
    auto entry = reinterpret_cast<ModuleEntry>(dlsym(loaded, module.entry));
    if (entry == nullptr) {
        *error = std::string("cannot load ") + module.display + " (" + module.file +
                 " is from another build)";
        return nullptr;
    }
    char reason[512] = {};
    std::unique_ptr<platform::Backend> backend(entry(program.c_str(), reason, sizeof(reason)));
    if (backend == nullptr) {
        *error = reason;
    }
    return backend;
}
#endif

std::unique_ptr<platform::Backend> Open(platform::desktop::DisplayKind kind,
                                        const std::string& program, std::string* error) {
#if OSTREVANE_HAVE_WAYLAND
    static_assert(std::is_same<WaylandModuleEntry, ModuleEntry>::value, "one entry type");
    if (kind == platform::desktop::DisplayKind::kWayland) {
        return OpenModule(
            {OSTREVANE_WAYLAND_MODULE_FILE, OSTREVANE_WAYLAND_MODULE_ENTRY, "the Wayland display"},
            program, error);
    }
#endif
#if OSTREVANE_HAVE_APPKIT
    static_assert(std::is_same<AppKitModuleEntry, ModuleEntry>::value, "one entry type");
    if (kind == platform::desktop::DisplayKind::kAppKit) {
        return OpenModule(
            {OSTREVANE_APPKIT_MODULE_FILE, OSTREVANE_APPKIT_MODULE_ENTRY, "the AppKit display"},
            program, error);
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
        std::getenv("XDG_RUNTIME_DIR"), OSTREVANE_HAVE_WAYLAND != 0,
        [](const std::string& path) {
            struct stat info;
            return stat(path.c_str(), &info) == 0;
        },
        OSTREVANE_HAVE_APPKIT != 0);
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
