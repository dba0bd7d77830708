// The web display: the program's windows drawn by the page that loaded it.
#ifndef OSTREVANE_PLATFORM_BACKENDS_WEB_WEB_BACKEND_H
#define OSTREVANE_PLATFORM_BACKENDS_WEB_WEB_BACKEND_H

#include <memory>
#include <string>

#include "platform/backends/backend.h"

namespace platform {
namespace web {

// Attaches to the page's screen (the `ostrevanePage` object the page puts on
// the module before loading the program). On failure returns nullptr and
// sets `error` to a one-line reason.
std::unique_ptr<Backend> OpenPage(std::string* error);

// Tells the page that the program has ended with `code`.
void ReportExit(int code);

}  // namespace web
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_WEB_WEB_BACKEND_H
