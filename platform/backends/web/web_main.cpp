// The entry point of programs that link the web display: attach to the
// page, run WinMain on it, then tell the page the exit code.
//
// main() returns only after the message loop has waited for the page many
// times (each wait unwinds the stack to the browser), by which time the
// run-time no longer looks at its result: the page hears it from ReportExit.
#include <memory>
#include <string>

#include "platform/backends/backend.h"
#include "platform/backends/failure_line.h"
#include "platform/backends/web/web_backend.h"

int main(int argc, char** argv) {
    std::string error;
    std::unique_ptr<platform::Backend> page = platform::web::OpenPage(&error);
    if (page == nullptr) {
        platform::PrintFailureLine(platform::ProgramName(argc, argv), error);
        platform::web::ReportExit(1);
        return 1;
    }
    int result = platform::RunWinMain(argc, argv, page.get());
    page.reset();
    platform::web::ReportExit(result);
    return result;
}
