// AppKit's own log lines (NSLog, and GNUstep's warnings through it) are kept
// from the terminal: the program's stderr carries only its own one-line
// failures. The last line logged is kept for such a failure to quote.
#ifndef OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_LOG_H
#define OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_LOG_H

#import <Foundation/Foundation.h>

#include <string>

namespace platform {
namespace appkit {

// From now on, log lines go to the back end, not to stderr.
void KeepLogFromTerminal();

// The last line logged since, without NSLog's date and process prefix; ""
// if none.
std::string LastLogLine();

// From now on an Objective-C exception that nothing catches ends the
// program with exit code 1 and one line on stderr: `programName`, `what`
// (what failed) and the exception's reason.
void EndOnUncaughtException(const std::string& programName, const std::string& what);

// `text` as one line of UTF-8: line breaks become spaces, the ends are
// trimmed, and nil gives "unknown reason".
std::string OneLine(NSString* text);

}  // namespace appkit
}  // namespace platform

#endif  // OSTREVANE_PLATFORM_BACKENDS_APPKIT_APPKIT_LOG_H
