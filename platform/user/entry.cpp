// The program's start: WinMain called the way Windows calls it.
#include <cstring>
#include <string>
#include <vector>

#include "platform/user/window_manager.h"

namespace {

// The module handle WinMain receives. Windows' classic image base; only
// ever compared and passed back, never dereferenced.
const std::uintptr_t kInstanceHandle = 0x00400000;

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
    user::StartRun();
    int result = user::FinishRun(
        WinMain(reinterpret_cast<HINSTANCE>(kInstanceHandle), NULL, buffer.data(), SW_SHOWDEFAULT),
        backend);
    ResetWindowManager();
    InstallBackend(nullptr);
    return result;
}

}  // namespace platform
