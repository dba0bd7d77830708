// Where AppKit's log lines go; see appkit_log.h.
#include "platform/backends/appkit/appkit_log.h"

#include <unistd.h>

#include <string>

#include "platform/backends/failure_line.h"

namespace platform {
namespace appkit {

namespace {

std::string lastLine;
std::string uncaughtProgram;
std::string uncaughtWhat;

void OnUncaught(NSException* exception) {
    PrintFailureLine(uncaughtProgram, uncaughtWhat + " (" + OneLine([exception reason]) + ")");
    _exit(1);
}

std::string Trimmed(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            c = ' ';
        }
    }
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

#if defined(GNUSTEP)
// GNUstep's NSLog hands each formatted line, prefix and all, to this
// handler instead of writing it to stderr.
void Keep(NSString* message) {
    std::string line = OneLine(message);
    // "2026-01-01 12:00:00.000 program[pid:tid] text"
    std::size_t prefix = line.find("] ");
    if (prefix != std::string::npos && line.find('[') < prefix) {
        line = line.substr(prefix + 2);
    }
    if (!line.empty()) {
        lastLine = line;
    }
}
#endif

}  // namespace

void KeepLogFromTerminal() {
#if defined(GNUSTEP)
    _NSLog_printf_handler = Keep;
#endif
    // Apple's NSLog writes to the unified log and, from a terminal, to
    // stderr; the back end calls nothing that logs in normal use.
}

std::string LastLogLine() { return lastLine; }

void EndOnUncaughtException(const std::string& programName, const std::string& what) {
    uncaughtProgram = programName;
    uncaughtWhat = what;
    NSSetUncaughtExceptionHandler(&OnUncaught);
}

std::string OneLine(NSString* text) {
    if (text == nil) {
        return "unknown reason";
    }
    const char* utf8 = [text UTF8String];
    std::string line = Trimmed(utf8 != nullptr ? utf8 : "");
    return line.empty() ? "unknown reason" : line;
}

}  // namespace appkit
}  // namespace platform
