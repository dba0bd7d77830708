// The program's start: WinMain called the way Windows calls it.
#include <time.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/user/window_manager.h"

namespace {

// The module handle WinMain receives. Windows' classic image base; only
// ever compared and passed back, never dereferenced.
const std::uintptr_t kInstanceHandle = 0x00400000;

// How often to look for a display's loss while it may still show.
const int kLossPollMilliseconds = 20;

// True if the display is gone. A display that is going away can take
// windows with it before its connection closes (an X server destroys them
// as it shuts down), so the program may quit through WM_DESTROY before the
// loss shows; after such a destruction the display gets the time it says
// to show it. Events still queued are read and dropped.
bool DisplayLost(platform::Backend* backend, bool windowTakenAway) {
    const int grace = windowTakenAway ? backend->LossGraceMilliseconds() : 0;
    int waited = 0;
    for (;;) {
        for (int drained = 0; drained < 1024; ++drained) {
            platform::BackendEvent event;
            platform::WaitResult result = backend->NextEvent(&event, false);
            if (result == platform::WaitResult::kBroken) {
                return true;
            }
            if (result == platform::WaitResult::kNoEvent) {
                break;
            }
        }
        if (waited >= grace) {
            return false;
        }
        timespec pause = {0, kLossPollMilliseconds * 1000000L};
        nanosleep(&pause, nullptr);
        waited += kLossPollMilliseconds;
    }
}

}  // namespace

namespace platform {

std::string ProgramName(int argc, char** argv) {
    if (argc < 1 || argv == nullptr || argv[0] == nullptr) {
        return "ostrevane";
    }
    const char* slash = std::strrchr(argv[0], '/');
    const std::string name = slash != nullptr ? slash + 1 : argv[0];
    return name.empty() ? "ostrevane" : name;
}

int RunWinMain(int argc, char** argv, Backend* backend) {
    // The command line after the program name, as Windows hands it over.
    std::string commandLine;
    for (int i = 1; i < argc && argv != nullptr; ++i) {
        if (argv[i] == nullptr) {
            break;
        }
        if (i > 1) {
            commandLine += ' ';
        }
        commandLine += argv[i];
    }
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');

    InstallBackend(backend);
    user::GetState().windowTakenAway = false;
    int result =
        WinMain(reinterpret_cast<HINSTANCE>(kInstanceHandle), NULL, buffer.data(), SW_SHOWDEFAULT);
    // A program that quit because its display went away has failed,
    // whatever WinMain made of it.
    if (result != 1 && backend != nullptr &&
        DisplayLost(backend, user::GetState().windowTakenAway)) {
        result = 1;
    }
    ResetWindowManager();
    InstallBackend(nullptr);
    return result;
}

}  // namespace platform
