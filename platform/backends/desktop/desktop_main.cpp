// The entry point of programs for Linux desktops: open the display that
// ChooseDisplays picks from the table of displays (a Wayland compositor or
// an X server, or GNUstep's AppKit), then run WinMain on it.
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/backends/backend.h"
#include "platform/backends/desktop/display_choice.h"
#include "platform/backends/display_module.h"
#include "platform/backends/failure_line.h"

namespace {

using platform::desktop::Display;

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

// A module's display, seen through its table of C functions.
class ModuleDisplay : public platform::Backend {
public:
    ModuleDisplay(const OstrevaneDisplayModule* module, OstrevaneDisplay* display)
        : module_(module), display_(display) {}
    ~ModuleDisplay() override { module_->close(display_); }

    void GetScreenSize(int* width, int* height) override {
        module_->get_screen_size(display_, width, height);
    }
    bool CreateNativeWindow(platform::WindowId window, const char* className, const char* title,
                            const RECT& rect) override {
        return module_->create_window(display_, window, className, title, &rect) != 0;
    }
    void DestroyNativeWindow(platform::WindowId window) override {
        module_->destroy_window(display_, window);
    }
    void ShowNativeWindow(platform::WindowId window, platform::WindowShow show) override {
        module_->show_window(display_, window, static_cast<int>(show));
    }
    void Present(platform::WindowId window, const platform::ClientPixels& pixels,
                 const RECT& area) override {
        module_->present(display_, window, &pixels, &area);
    }
    platform::WaitResult NextEvent(platform::BackendEvent* event, bool wait) override {
        return static_cast<platform::WaitResult>(module_->next_event(display_, event, wait));
    }
    int LossGraceMilliseconds() const override {
        return module_->loss_grace_milliseconds(display_);
    }

private:
    const OstrevaneDisplayModule* module_;
    OstrevaneDisplay* display_;
};

// The module's table, if it is the one this program was built for.
bool UsableModule(const OstrevaneDisplayModule* module) {
    return module != nullptr && module->version == OSTREVANE_DISPLAY_MODULE_VERSION &&
           module->eventSize == sizeof(platform::BackendEvent) &&
           module->pixelsSize == sizeof(platform::ClientPixels);
}

// Loads the module of `display`: installed in the program's library
// directory, or beside the program in a build tree. The module stays loaded
// for the life of the process, also when its display could not be used:
// what it loaded (libdecor's plugin, pango's threads, the Objective-C
// run-time) may outlive the back end. On failure returns null and sets
// `error`.
void* LoadModule(const Display& display, const std::string& title, std::string* error) {
    const std::string directory = ProgramDirectory();
    std::string tried;
    for (const char* place : {OSTREVANE_MODULE_DIR_FROM_BIN, "."}) {
        if (directory.empty()) {
            break;
        }
        const std::string path = directory + "/" + place + "/" + display.moduleFile;
        struct stat info;
        if (stat(path.c_str(), &info) != 0) {
            continue;
        }
        void* loaded = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (loaded != nullptr) {
            return loaded;
        }
        const char* reason = dlerror();
        tried = reason != nullptr ? reason : path;
    }
    *error = "cannot load " + title + " (" +
             (tried.empty() ? std::string(display.moduleFile) + " not found" : tried) + ")";
    return nullptr;
}

// Opens `display`: through its opener, or its module's.
std::unique_ptr<platform::Backend> Open(const Display& display, const std::string& program,
                                        std::string* error) {
    if (display.open != nullptr) {
        return display.open(program, error);
    }
    const std::string title = std::string("the ") + display.title + " display";
    void* loaded = LoadModule(display, title, error);
    if (loaded == nullptr) {
        return nullptr;
    }
    auto entryPoint =
        reinterpret_cast<OstrevaneDisplayModuleEntry>(dlsym(loaded, display.moduleEntry));
    const OstrevaneDisplayModule* module = entryPoint != nullptr ? entryPoint() : nullptr;
    if (!UsableModule(module)) {
        *error = "cannot load " + title + " (" + display.moduleFile + " is from another build)";
        return nullptr;
    }
    char reason[512] = {};
    OstrevaneDisplay* opened = module->open(program.c_str(), reason, sizeof(reason));
    if (opened == nullptr) {
        *error = reason;
        return nullptr;
    }
    return std::make_unique<ModuleDisplay>(module, opened);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program = platform::ProgramName(argc, argv);
    platform::desktop::Environment environment;
    environment.variable = [](const char* name) { return std::getenv(name); };
    environment.exists = [](const std::string& path) {
        struct stat info;
        return stat(path.c_str(), &info) == 0;
    };
    const platform::desktop::DisplayChoice choice =
        platform::desktop::ChooseDisplays(platform::desktop::DesktopDisplays(), environment);
    if (!choice.error.empty()) {
        platform::PrintFailureLine(program, choice.error);
        return 1;
    }
    // Every reason for a display that did not open, on one line.
    std::string failures = choice.skipped;
    for (const Display* display : choice.order) {
        std::string error;
        std::unique_ptr<platform::Backend> opened = Open(*display, program, &error);
        if (opened != nullptr) {
            int result = platform::RunWinMain(argc, argv, opened.get());
            opened.reset();
            return result;
        }
        failures += (failures.empty() ? "" : "; ") + error;
    }
    platform::PrintFailureLine(program, failures);
    return 1;
}
