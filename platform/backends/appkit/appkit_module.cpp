// The entry point of ostrevane-appkit.so; see appkit_module.h.
#include "platform/backends/appkit/appkit_module.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/backends/appkit/appkit_backend.h"

extern "C" __attribute__((visibility("default"))) platform::Backend* ostrevane_appkit_open_v1(
    const char* programName, char* error, std::size_t errorSize) {
    std::string reason;
    std::unique_ptr<platform::Backend> backend =
        platform::appkit::OpenAppKit(programName != nullptr ? programName : "", &reason);
    if (backend == nullptr && error != nullptr && errorSize > 0) {
        std::size_t length = std::min(reason.size(), errorSize - 1);
        std::memcpy(error, reason.data(), length);
        error[length] = '\0';
    }
    return backend.release();
}

static_assert(std::is_same<decltype(&ostrevane_appkit_open_v1), AppKitModuleEntry>::value,
              "the module entry matches AppKitModuleEntry");
